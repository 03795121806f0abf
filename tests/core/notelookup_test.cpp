#include "core/notelookup.h"

#include <gtest/gtest.h>

namespace {

TEST(NoteLookup, FindsNotesByThePathRuleOfTheList)
{
    const NoteLookup notes({{QStringLiteral("/photos/a.jpg"), QStringLiteral("first")},
                            {QStringLiteral("/photos/a.jpg"), QStringLiteral("second")},
                            {QStringLiteral("/photos/B.jpg"), QStringLiteral("big b")}});
    struct Row {
        const char *path, *note;
    } rows[] = {
        {"/photos/a.jpg", "first"},
        {"\\photos\\a.jpg", "first"},
        {"/photos/a.jpg/", "first"},
        {"/photos/A.jpg", ""},
        {"/photos/B.jpg", "big b"},
        {"/photos/b.jpg", ""},
        {"", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(notes.GetNoteByPath(QString::fromLatin1(row.path)), QString::fromLatin1(row.note))
            << row.path;
    EXPECT_TRUE(NoteLookup().GetNoteByPath(QStringLiteral("/photos/a.jpg")).isEmpty());
}

TEST(NoteLookup, ParsesLinesOfPathTabNote)
{
    QList<std::pair<QString, QString>> out;
    QString error;
    ASSERT_TRUE(NoteLookup::ParseLines(
        QStringLiteral("/abs/a.jpg\tSea at dawn\r\n\nrel/b.png\tTab\tinside\n  \n./c.gif\t\n"),
        QStringLiteral("/work"), out, &error));
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0], std::make_pair(QStringLiteral("/abs/a.jpg"), QStringLiteral("Sea at dawn")));
    EXPECT_EQ(out[1], std::make_pair(QStringLiteral("/work/rel/b.png"), QStringLiteral("Tab\tinside")));
    EXPECT_EQ(out[2], std::make_pair(QStringLiteral("/work/c.gif"), QString()));

    for (const char *bad : {"a.jpg\tok\nno tab here\n", "\tnote without a path\n"}) {
        out.clear();
        EXPECT_FALSE(NoteLookup::ParseLines(QString::fromLatin1(bad), QStringLiteral("/w"), out, &error));
        EXPECT_TRUE(error.startsWith(bad[0] == '\t' ? "line 1" : "line 2")) << error.toStdString();
    }
}

} // namespace
