#pragma once
// What a WAV file must be to become the slideshow movie's voice track. The command line, a job
// opened in the window and the movie writer all ask here, so a track is refused up front in
// the same words, before any image is written, rather than dropped from the movie later.

#include <QString>

class CWaveFile;
class QFile;

// The rates the movie's sound stream may have, in samples per second.
inline constexpr qint64 kMinVoiceRate = 8000;
inline constexpr qint64 kMaxVoiceRate = 192000;

// "" when the file at path can go into the movie as its voice track; otherwise why not, as a
// phrase ("12-bit samples cannot go into the movie").
QString VoiceTrackProblem(const QString &path);
// The format's share of that, for a layout already read.
QString VoiceFormatProblem(const CWaveFile &layout);
// Opens path and reads its layout as VoiceTrackProblem checks it: "" with file open and layout
// read when the track can be used, so what was checked is what is read.
QString OpenVoiceTrack(const QString &path, QFile &file, CWaveFile &layout);
// The sentence every refusal of a track shares: "'<path>' is not a PCM WAV file that can be
// read: <problem>".
QString VoiceTrackRefusal(const QString &path, const QString &problem);
