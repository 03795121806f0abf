#pragma once
// Rotating images in place at once, outside any batch: each file is backed up before it is
// overwritten, and the whole operation becomes one undo record.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

enum class ImmediateOperation { RotateRight, RotateLeft };

// The name the user sees, in buttons, messages and the undo history: "Rotate right",
// "Rotate left".
QString ImmediateOperationName(ImmediateOperation operation);

// Loads every path, backs it up, turns it (left: 90 degrees counter-clockwise, right:
// clockwise), saves it over itself in its own format and reports it to fileChanged. A file
// that cannot be loaded is left untouched; a file whose backup fails is never overwritten.
// Appends one undo operation "Immediate operation: " + the operation's name, also when nothing
// could be done. Returns the "Failed loading:" and "Failed saving:" lines, empty when every
// file was rotated.
QString RotateFilesInPlace(const QStringList &paths, ImmediateOperation operation,
                           const std::function<void(const QString &)> &fileChanged);

// The middle-button gesture from the press point (x0, y0) to (x, y): a rotation, or none when
// too short. A gesture with more than 20 pixels of vertical movement needs only 5 pixels
// sideways instead of 15.
std::optional<ImmediateOperation> GestureOf(int x0, int y0, int x, int y);
