#pragma once
// The names a batch gives its results: a pattern of tokens for the base name ("%date% %n:3%"),
// checked once when it is given and expanded for every image, and the choice of what happens
// where a result's name is taken already.

#include "core/notelookup.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <utility>

// What a pattern may draw on for one image.
struct NameFacts {
    QString source;
    // The image's place in the batch, counted from the job's start value.
    qint64 counter = 1;
    // The result's size.
    quint32 width = 0;
    quint32 height = 0;
    // When the picture was taken; asked only by a pattern that holds %date%.
    std::function<QDateTime()> date{};
    const NoteLookup *notes = nullptr;
};

// Why pattern cannot name results (an unknown token, a "%" that is not closed, a counter wider
// than 9 digits, a date format that gives nothing, "/" or ".."); "" when it can.
QString NamePatternProblem(const QString &pattern);
// True when the pattern gives every image the same name: it holds no token at all.
bool NamePatternIsConstant(const QString &pattern);
bool NamePatternUsesDate(const QString &pattern);
// The base name pattern gives the image (without the extension). Characters no file name may
// hold become "_"; a name that comes out empty (or "." or "..") is the source's base name; a
// name too long for the file system is cut to fit beside extensionLength more characters.
// The pattern must be one NamePatternProblem accepts.
QString ExpandNamePattern(const QString &pattern, const NameFacts &facts, int extensionLength = 0);
// The tokens the window's menu offers, as (what the menu says, what it inserts), in order.
QList<std::pair<QString, QString>> NamePatternTokens();

// When the capture date is not in the file: its modification time.
QDateTime CaptureDateOf(const QString &path);
