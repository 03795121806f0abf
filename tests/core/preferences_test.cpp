#include "core/commandline.h"
#include "core/preferences.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QTextStream>

namespace {

QString ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void WriteAll(const QString &path, const QString &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

TEST(Preferences, EscapingRoundTripsAndStaysOnOneLine)
{
    const QString original = "line1\r\nline2 = [x] \"q\" 'a' <b> & c";
    CIniPreferencesStore store;
    store.SetString({}, "k", original);
    const QString raw = store.GetRawValue({}, "k", {});
    for (QChar c : {u'\r', u'\n', u'=', u'[', u']', u'"', u'\'', u'<', u'>'})
        EXPECT_FALSE(raw.contains(c)) << raw.toStdString();
    EXPECT_EQ(raw, "line1&#13;&#10;line2 &#61; &#91;x&#93; &quot;q&quot; &#39;a&#39; &lt;b&gt; "
                   "&amp; c");
    EXPECT_EQ(store.GetString({}, "k", {}), original);
}

TEST(Preferences, UnescapingUndoesExactlyOneLevelAndIgnoresCase)
{
    QString v = "&amp;lt;";
    UnescapeValue(v);
    EXPECT_EQ(v, "&lt;");
    v = "&AMP;&LT;&Quot;";
    UnescapeValue(v);
    EXPECT_EQ(v, "&<\"");
    // The default is unescaped too when GetString returns it.
    CIniPreferencesStore store;
    EXPECT_EQ(store.GetString({}, "missing", "a&#61;b"), "a=b");
}

TEST(Preferences, GetRectHasThreeOutcomes)
{
    CIniPreferencesStore store;
    QRect r;
    r.setCoords(9, 9, 9, 9);
    EXPECT_FALSE(store.GetRect({}, "rect", &r)); // empty: untouched
    EXPECT_EQ(r, QRect(QPoint(9, 9), QPoint(9, 9)));

    store.SetRect({}, "rect", QRect(QPoint(1, 2), QPoint(3, 4)));
    EXPECT_EQ(store.GetRawValue({}, "rect", {}), "1,2,3,4");
    EXPECT_TRUE(store.GetRect({}, "rect", &r));
    EXPECT_EQ(r.left(), 1);
    EXPECT_EQ(r.top(), 2);
    EXPECT_EQ(r.right(), 3);
    EXPECT_EQ(r.bottom(), 4);

    store.SetRawValue({}, "short", "1,2,3");
    r.setCoords(9, 9, 9, 9);
    EXPECT_FALSE(store.GetRect({}, "short", &r)); // zeroed
    EXPECT_EQ(r, QRect(QPoint(0, 0), QPoint(0, 0)));
    store.SetRawValue({}, "three", "10,20,30");
    EXPECT_FALSE(store.GetRect({}, "three", &r));
}

TEST(Preferences, TypedValues)
{
    CIniPreferencesStore store;
    store.SetRawValue({}, "abc", "abc");
    store.SetRawValue({}, "empty", "");
    store.SetRawValue({}, "lead", "  42xyz");
    EXPECT_EQ(store.GetInt({}, "abc", 5), 0);
    EXPECT_EQ(store.GetInt({}, "empty", 5), 5);
    EXPECT_EQ(store.GetInt({}, "missing", 7), 7);
    EXPECT_EQ(store.GetInt({}, "lead", 0), 42);
    store.SetBool({}, "b", true);
    store.SetInt({}, "i", -12);
    store.SetInt64({}, "i64", 1LL << 40);
    EXPECT_EQ(store.GetRawValue({}, "b", {}), "1");
    EXPECT_EQ(store.GetRawValue({}, "i", {}), "-12");
    EXPECT_EQ(store.GetRawValue({}, "i64", {}), "1099511627776");
    store.SetDateTime({}, "d", QDateTime(QDate(2008, 3, 7), QTime(9, 5, 3)));
    EXPECT_EQ(store.GetRawValue({}, "d", {}), "2008-03-07 09:05:03");
    store.SetDateTime({}, "bad", QDateTime());
    EXPECT_EQ(store.GetRawValue({}, "bad", {}), "-1-0-1-0-1 0-1:0-1:0-1");
    // Keys are looked up regardless of letter case.
    EXPECT_EQ(store.GetRawValue({}, "ABC", "x"), "abc");
}

TEST(Preferences, FileIsReadWithLowerCasedKeysAndRewrittenInPlace)
{
    TempFolder dir;
    const QString ini = dir.File("preferences.ini");
    ASSERT_NO_FATAL_FAILURE(WriteAll(ini, "; a comment\n[Other]\nkeep=me\n[Options]\nGeneral.NUSG=7\nlong=" +
                      QString(3000, u'x') + "\n"));
    {
        CIniPreferencesStore store;
        store.LoadFrom(ini, true);
        store.SetLoaded(true);
        EXPECT_EQ(store.GetInt({}, "general.nusg", 0), 7);
        EXPECT_EQ(store.GetRawValue({}, "long", {}).size(), 2046);
        store.SetInt({}, "general.nusg", store.GetInt({}, "general.nusg", 0) + 1);
    } // saved here
    const QString text = ReadAll(ini);
    EXPECT_TRUE(text.contains("general.nusg=8\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("General.NUSG"));
    EXPECT_TRUE(text.contains("; a comment\n[Other]\nkeep=me\n"));
    EXPECT_EQ(text.count("[Options]"), 1);
}

TEST(Preferences, MissingFileStartsEmptyAndSaveCreatesTheSection)
{
    TempFolder dir;
    const QString ini = dir.File("preferences.ini");
    {
        CIniPreferencesStore store;
        store.LoadFrom(ini, true);
        store.SetLoaded(true);
        EXPECT_EQ(store.GetInt({}, "general.nusg", 0), 0);
        store.SetInt({}, "general.nusg", 1);
    }
    EXPECT_EQ(ReadAll(ini), "[Options]\ngeneral.nusg=1\n");
    // A folder that cannot be written is silent.
    CIniPreferencesStore store;
    store.SetInt({}, "x", 1);
    EXPECT_TRUE(store.SaveTo(dir.File("no/such/folder/preferences.ini")));
}

TEST(Preferences, KeyNamesBeyondTheBufferAreLost)
{
    TempFolder dir;
    const QString ini = dir.File("p.ini");
    QString text = "[Options]\n";
    for (int i = 0; i < 2000; ++i)
        text += QStringLiteral("key%1=v\n").arg(i, 5, 10, QChar(u'0')); // 8 chars + zero each
    ASSERT_NO_FATAL_FAILURE(WriteAll(ini, text));
    const QStringList names = inifile::ReadKeyNames(ini, "Options");
    EXPECT_EQ(names.size(), (16384 - 1) / 9);
    EXPECT_EQ(names.front(), "key00000");
}

TEST(IniSections, AnyTextComesBackAsWrittenInSectionOrder)
{
    TempFolder dir;
    const QString ini = dir.File("job.ini");
    const QString awkward = QStringLiteral("  two\nlines, \"quoted\" a=b [x] &amp; \t\u00e9 ");
    const QList<inifile::Section> written = {
        {"Job", {{"text", awkward}, {"empty", ""}}},
        {"File", {{"path", "/a/b c.jpg"}}},
        {"File", {{"path", "/d.jpg"}}},
    };
    ASSERT_TRUE(inifile::WriteSections(ini, written));
    ASSERT_TRUE(inifile::AppendSection(ini, {"File", {{"path", "'quoted'"}}}));
    // Hand-written lines read as they stand.
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("; a comment\n[Extra]\n size = 12 \n");
    f.close();

    QList<inifile::Section> read;
    ASSERT_TRUE(inifile::ReadSections(ini, &read));
    ASSERT_EQ(read.size(), 5);
    EXPECT_EQ(read[0].entries, written[0].entries);
    EXPECT_EQ(read[2].entries, written[2].entries);
    EXPECT_EQ(read[3].name, "File");
    EXPECT_EQ(read[3].entries.front().second, "'quoted'");
    EXPECT_EQ(read[4].entries, (QList<QPair<QString, QString>>{{"size", "12"}}));
    EXPECT_FALSE(inifile::ReadSections(dir.File("missing.ini"), &read));
}

TEST(CommandLine, AnOptionTakesTheNextArgumentAsItsValue)
{
    CPixortaCommandLineInfo info;
    info.ParseCommandLine({"a.jpg", "-X", "b.jpg", "c.jpg", "/home/me/d.jpg"});
    EXPECT_EQ(info.m_fileNames, QStringList({"a.jpg", "c.jpg", "/home/me/d.jpg"}));
    EXPECT_EQ(info.m_options.value("x"), "b.jpg");
    EXPECT_EQ(info.m_options.value("X"), "TRUE");
    EXPECT_TRUE(info.m_pendingOption.isEmpty());
}

} // namespace
