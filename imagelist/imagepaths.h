#pragma once
// Which files the image list takes, and how paths given by the user (files and folders) become
// the list of image files, as the list's own adding expands them.

#include <QString>
#include <QList>
#include <QStringList>
#include <functional>

// The accepted image extensions, lower case, in their usual order: jpg, jpe, jp2, jpeg, gif,
// bmp, ico, tif, tiff, png, mng, tga, pcx, cur.
const QStringList &AcceptedImageExtensions();

// True when the path's extension is one of the accepted image extensions, in any letter case.
bool IsAcceptedImageExtension(const QString &path);

// The file-dialog filter naming every accepted extension, then "All Files (*)".
QString ImageFileDialogFilter();

// Calls visit for every path that is not a folder, in order; a folder is entered where it
// stands, its entries in name order, to any depth. A symbolic link back into a folder being
// scanned is not followed again; a folder that cannot be read contributes nothing.
void WalkPaths(const QStringList &paths, const std::function<void(const QString &)> &visit);

// The files of WalkPaths with an accepted extension, each place once. Paths that do not exist
// stay (loading reports them). A relative path whose name is not UTF-8 comes back absolute, so
// that nothing after has to make it absolute through Qt, which would lose its bytes.
QStringList ExpandImagePaths(const QStringList &paths);

// The same, each with the folder it was found in below the folder that was given ("2026/Rome";
// "" for a file given itself or lying directly in a folder given).
void WalkPaths(const QStringList &paths,
               const std::function<void(const QString &path, const QString &foundIn)> &visit);
struct FoundImage {
    QString path;
    QString foundIn;
};
QList<FoundImage> FindImageFiles(const QStringList &paths);
