#pragma once
// Sizes of files as people read and type them.

#include <QString>

// "12.3 MiB", "850 bytes".
QString FormatBytes(qint64 bytes);
// "2G", "500M", "1.5GiB", "4096": bytes; -1 for anything else.
qint64 ParseByteSize(const QString &text);
