#pragma once
// How the task controls read a number out of an edit's text, as the C library's atoi does:
// leading blanks, an optional sign, then decimal digits; anything else ends the number, and
// empty or non-numeric text gives 0. Values beyond the int range saturate instead of wrapping.

#include <QString>
#include <algorithm>
#include <limits>

inline int ReadSignedInt(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    constexpr qint64 limit = qint64(std::numeric_limits<int>::max()) + 1;
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min(limit, value * 10 + (text[i].unicode() - u'0'));
    if (negative)
        return int(-value);
    return int(std::min<qint64>(value, std::numeric_limits<int>::max()));
}
