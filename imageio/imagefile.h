#pragma once
// The only way the system reads and writes image files: the format comes from the file name's
// extension, and saving first converts the image into what the chosen format can hold.

#include "engine/pximage.h"
#include "engine/pxpendingsave.h"

#include <QString>
#include <filesystem>
#include <functional>

// format -1: from the path's extension (0, content detection, when the extension is unknown).
// Only regular files are read; a path that holds bytes that are not UTF-8 (see
// FromNativeName) is refused with "the name cannot be read as UTF-8".
bool LoadImageFile(PxImage &image, const QString &path, int format = -1);
// LoadImageFile for the format and size alone (PxImage::LoadHeader), with its refusals.
bool LoadImageFileHeader(PxImage &probe, const QString &path, PxHeaderInfo &header);
// With convert on, GIF gets a palette of at most 256 colours and JPEG / JPEG 2000 get 24 bits.
bool SaveImageFile(PxImage &image, const QString &path, int format = -1, bool convert = true);
// SaveImageFile's conversions and encoding, into a file in path's folder that
// pending.Commit() later puts in path's place (the batch encodes on worker threads and replaces
// the user's files in order). Safe to call on several threads for different images.
bool PrepareImageFileSave(PxImage &image, const QString &path, PxPendingSave &pending,
                          int format = -1, bool convert = true);

// Reads what pending encoded for path back and compares its size and depth with saved, the
// image as it was encoded. False, with *why, when it does not read back or differs.
bool VerifyPendingSave(const PxPendingSave &pending, const QString &path, const PxImage &saved,
                       QString *why);

// Why a load or save of path with image failed, in words for a person: the engine's text when
// it left one, otherwise the system's own (the engine keeps no text when a file cannot be
// opened at all).
QString DescribeLoadFailure(const PxImage &image, const QString &path);
QString DescribeSaveFailure(const PxImage &image, const QString &path);
// The same for a save whose commit failed with the engine's text (possibly empty).
QString DescribeSaveFailure(const std::string &engineText, const QString &path);
