#pragma once
// Which files the image list takes, and how paths given by the user (files and folders) become
// the list of image files, as the list's own adding expands them.

#include <QString>
#include <QStringList>

// True when the path's extension is one of the accepted image extensions (jpg, jpe, jp2, jpeg,
// gif, bmp, ico, tif, tiff, png, mng, tga, pcx, cur), in any letter case.
bool IsAcceptedImageExtension(const QString &path);

// Folders are entered to any depth, each where it stands in its parent's (name-sorted)
// listing; files with other extensions and duplicates are skipped; a symbolic link back into a
// folder being scanned is not followed again. Paths that do not exist stay (loading reports
// them).
QStringList ExpandImagePaths(const QStringList &paths);
