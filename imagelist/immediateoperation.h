#pragma once
// Rotating images in place at once, outside any batch: each file is backed up before it is
// overwritten, and the whole operation becomes one undo record.

#include <QString>
#include <QStringList>
#include <functional>

// Loads every path, backs it up, turns it ("Rotate left": 90 degrees counter-clockwise,
// "Rotate right": clockwise, any letter case; another name leaves the picture as it is), saves
// it over itself in its own format and reports it to fileChanged. A file that cannot be loaded
// is left untouched; a file whose backup fails is never overwritten. Appends one undo operation
// "Immediate operation: " + operationName, also when nothing could be done. Returns the
// "Failed loading:" and "Failed saving:" lines, empty when every file was rotated.
QString RotateFilesInPlace(const QStringList &paths, const QString &operationName,
                           const std::function<void(const QString &)> &fileChanged);

// The middle-button gesture from the press point (x0, y0) to (x, y): "Rotate left",
// "Rotate right" or "" (too short). A gesture with more than 20 pixels of vertical movement
// needs only 5 pixels sideways instead of 15.
QString GestureOf(int x0, int y0, int x, int y);
