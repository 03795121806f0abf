// Result names: every token of a pattern, what a file name cannot hold, the patterns refused,
// and what becomes of a result whose place is taken.

#include "batch/jobfile.h"
#include "batch/joboptions.h"
#include "batch/namepattern.h"
#include "batch/targets.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>

namespace {

NameFacts Facts()
{
    NameFacts facts;
    facts.source = QStringLiteral("/in/Rome trip/IMG_0042.jpeg");
    facts.counter = 7;
    facts.width = 1600;
    facts.height = 1067;
    facts.date = [] { return QDateTime(QDate(2026, 7, 14), QTime(9, 5, 3)); };
    return facts;
}

TEST(NamePattern, EveryTokenExpands)
{
    static const NoteLookup notes({{QStringLiteral("/in/Rome trip/IMG_0042.jpeg"),
                                    QStringLiteral("Trevi at dawn")}});
    NameFacts facts = Facts();
    facts.notes = &notes;
    const struct {
        const char *pattern;
        const char *name;
    } cases[] = {
        {"%name%", "IMG_0042"},
        {"%ext%", "jpeg"},
        {"%n%", "7"},
        {"%n:3%", "007"},
        {"%n:1%", "7"},
        {"%n:9%", "000000007"},
        {"%date%", "2026-07-14"},
        {"%date:yyyyMMdd-HHmmss%", "20260714-090503"},
        {"%date:dd MMM yyyy%", "14 Jul 2026"},
        {"%width%x%height%", "1600x1067"},
        {"%folder%", "Rome trip"},
        {"%fTitle%", "IMG_0042"},
        {"%fName%", "IMG_0042.jpeg"},
        {"%Note%", "Trevi at dawn"},
        // The path's separators cannot stay in a name.
        {"%fPath%", "_in_Rome trip_IMG_0042.jpeg"},
        {"%fAbsoluteLocalPath%", "_in_Rome trip_IMG_0042.jpeg"},
        {"%date% Rome %n:3%", "2026-07-14 Rome 007"},
        {"100%% %name%", "100% IMG_0042"},
        {"plain", "plain"},
        // What a token gives is never read as a token again.
        {"%%name%% %name%", "%name% IMG_0042"},
    };
    for (const auto &c : cases) {
        const QString pattern = QString::fromUtf8(c.pattern);
        EXPECT_EQ(NamePatternProblem(pattern), QString()) << c.pattern;
        EXPECT_EQ(ExpandNamePattern(pattern, facts), QString::fromUtf8(c.name)) << c.pattern;
    }
}

TEST(NamePattern, WhatANameCannotHoldAndEmptyNames)
{
    NameFacts facts = Facts();
    const struct {
        const char *note;
        const char *name;
    } cases[] = {
        {"a:b*c?d\"e<f>g|h\\i", "a_b_c_d_e_f_g_h_i"},
        {"tab\there", "tab_here"},
        {"line\nbreak", "line_break"},
        {"caf\xc3\xa9 \xe2\x98\x80", "caf\xc3\xa9 \xe2\x98\x80"},
        // Nothing, blanks and the two names of folders fall back to the source's name.
        {"", "IMG_0042"},
        {"   ", "IMG_0042"},
        {".", "IMG_0042"},
    };
    for (const auto &c : cases) {
        const NoteLookup notes({{facts.source, QString::fromUtf8(c.note)}});
        facts.notes = &notes;
        EXPECT_EQ(ExpandNamePattern(QStringLiteral("%Note%"), facts), QString::fromUtf8(c.name))
            << c.note;
    }
    // A name the file system cannot take is cut to fit with its extension, never mid-character.
    const NoteLookup longNote({{facts.source, QString(300, QChar(0x00e9))}});
    facts.notes = &longNote;
    const QString cut = ExpandNamePattern(QStringLiteral("%Note%"), facts, 4);
    EXPECT_LE(cut.toUtf8().size(), 255 - 5);
    EXPECT_GE(cut.toUtf8().size(), 255 - 6);
    EXPECT_EQ(cut, QString(cut.size(), QChar(0x00e9)));
}

TEST(NamePattern, PatternsThatCannotNameAResult)
{
    const struct {
        const char *pattern;
        const char *says;
    } refused[] = {
        {"%nmae%", "unknown token '%nmae%'"},
        {"%Name%", "unknown token"},
        {"%n:10%", "width from 1 to 9"},
        {"%n:0%", "width from 1 to 9"},
        {"%n:x%", "width from 1 to 9"},
        {"%date:' '%", "gives an empty name"},
        {"%date:   %", "gives an empty name"},
        {"%date:%", "gives an empty name"},
        {"100% done", "not closed"},
        {"a/%name%", "\"/\" or \"..\""},
        {"..%name%", "\"/\" or \"..\""},
        {"%name%..x", "\"/\" or \"..\""},
    };
    for (const auto &c : refused)
        EXPECT_TRUE(NamePatternProblem(QString::fromUtf8(c.pattern)).contains(QString::fromUtf8(c.says)))
            << c.pattern << ": " << NamePatternProblem(QString::fromUtf8(c.pattern)).toStdString();

    EXPECT_TRUE(NamePatternIsConstant(QStringLiteral("cover")));
    EXPECT_TRUE(NamePatternIsConstant(QStringLiteral("50%% off")));
    EXPECT_FALSE(NamePatternIsConstant(QStringLiteral("cover %n%")));
    EXPECT_FALSE(NamePatternIsConstant(QStringLiteral("%Note%")));
    EXPECT_TRUE(NamePatternUsesDate(QStringLiteral("x %date:yyyy%")));
    EXPECT_FALSE(NamePatternUsesDate(QStringLiteral("%name%")));
}

TEST(NamePattern, CaptureDateFallsBackToTheFileTime)
{
    TempFolder dir;
    const QString path = dir.File("plain.bmp");
    WriteFile(path, "not even a picture");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QDateTime when(QDate(2025, 12, 24), QTime(18, 30, 0));
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(CaptureDateOf(path), when);
}

// Each choice where nothing stands, where a file stands, and where another image of the batch
// wants the same place or is the file there.
TEST(TargetClaims, EachChoiceInEachSituation)
{
    using Kind = TargetClaims::Decision::Kind;
    using If = Job::IfExists;
    TempFolder dir;
    WriteFile(dir.File("taken.png"), "x");
    const QString a = dir.File("a/x.bmp"), b = dir.File("b/x.bmp"), c = dir.File("c.png");
    auto exists = [](const QString &path) { return QFileInfo::exists(path); };
    const struct {
        If choice;
        Kind fresh, onFile, onOther, onSource;
        const char *renamed;
    } cases[] = {
        {If::Overwrite, Kind::Write, Kind::Overwrite, Kind::Rename, Kind::Rename, "taken00.png"},
        {If::Skip, Kind::Write, Kind::Skip, Kind::Skip, Kind::Skip, nullptr},
        {If::Rename, Kind::Write, Kind::Rename, Kind::Rename, Kind::Rename, "taken00.png"},
    };
    for (const auto &t : cases) {
        TargetClaims claims({a, b, c});
        const auto fresh = claims.Claim(dir.File("out/x.png"), a, t.choice, exists);
        EXPECT_EQ(fresh.kind, t.fresh);
        EXPECT_EQ(fresh.path, dir.File("out/x.png"));
        EXPECT_TRUE(fresh.takenBy.isEmpty());

        const auto onFile = claims.Claim(dir.File("taken.png"), a, t.choice, exists);
        EXPECT_EQ(onFile.kind, t.onFile) << int(t.choice);
        if (t.renamed && onFile.kind == Kind::Rename)
            EXPECT_EQ(onFile.path, dir.File(t.renamed));

        // b wants what a took: the files are not looked at, the batch's own claims count.
        const auto onOther = claims.Claim(dir.File("out/x.png"), b, t.choice, exists);
        EXPECT_EQ(onOther.kind, t.onOther) << int(t.choice);
        EXPECT_EQ(onOther.takenBy, a);
        if (t.onOther == Kind::Rename)
            EXPECT_EQ(onOther.path, dir.File("out/x00.png"));

        // A result never takes another source's place; a source's own place is its own.
        const auto onSource = claims.Claim(c, a, t.choice, [](const QString &) { return true; });
        EXPECT_EQ(onSource.kind, t.onSource);
        const auto own = claims.Claim(c, c, t.choice, [](const QString &) { return true; });
        EXPECT_EQ(own.kind, t.choice == If::Overwrite ? Kind::Overwrite : t.onFile);
    }

    // A free name avoids the names handed out before it, not only the files that exist.
    TargetClaims claims({a, b});
    EXPECT_EQ(claims.Claim(dir.File("o/y.png"), a, If::Rename, exists).path, dir.File("o/y.png"));
    EXPECT_EQ(claims.Claim(dir.File("o/y.png"), b, If::Rename, exists).path, dir.File("o/y00.png"));
    EXPECT_EQ(claims.Claim(dir.File("o/y.png"), b, If::Rename, exists).path, dir.File("o/y01.png"));
}

TEST(NamesInJobFiles, NamesPlacesAndVariantsTravelAndBadOnesAreRefused)
{
    TempFolder dir;
    Job job;
    job.destination = Job::Destination::Folder;
    job.outputFolder = dir.File("out");
    job.namePattern = QStringLiteral("%date% Rome %n:3%");
    job.counterStart = 0;
    job.keepFolders = true;
    job.ifExists = Job::IfExists::Skip;
    QString why;
    job.variants = {*ParseVariant(QStringLiteral("width=1600,name=%name%_large"), "large", &why),
                    *ParseVariant(QStringLiteral("width=400,name=%name%_thumb,format=webp"),
                                  "thumb", &why)};
    const QString path = dir.File("job.ini");
    ASSERT_TRUE(WriteJobFile(path, job, &why)) << why.toStdString();
    const QByteArray written = FileBytes(path);
    EXPECT_TRUE(written.contains("name=%date% Rome %n:3%\nstart=0\nkeep-folders=yes\nif-exists=skip\n"))
        << written.toStdString();
    EXPECT_TRUE(written.contains("[Variant thumb]\nwidth=400\nname=%name%_thumb\nformat=webp\n"));

    Job read;
    ASSERT_TRUE(ReadJobFile(path, &read, &why)) << why.toStdString();
    EXPECT_EQ(read.namePattern, job.namePattern);
    EXPECT_EQ(read.counterStart, 0);
    EXPECT_TRUE(read.keepFolders);
    EXPECT_EQ(read.ifExists, Job::IfExists::Skip);
    EXPECT_EQ(read.variants, job.variants);
    const QString again = dir.File("again.ini");
    ASSERT_TRUE(WriteJobFile(again, read, &why));
    EXPECT_EQ(FileBytes(again), written) << "read and written back byte for byte";

    const struct {
        const char *lines;
        const char *says;
    } refused[] = {
        {"name=%nope%\n", "[Job] name: unknown token '%nope%'"},
        {"name=%n:12%\n", "width from 1 to 9"},
        {"name=%date:' '%\n", "gives an empty name"},
        {"name=sub/%name%\n", "\"/\" or \"..\""},
        {"if-exists=merge\n", "if-exists needs overwrite, skip or rename"},
        {"name=cover\n", "same name"},
        {"\n[Variant big]\nsize=3\n", "[Variant big] unknown key 'size'"},
    };
    for (const auto &c : refused) {
        const QString bad = dir.File("bad.ini");
        WriteFile(bad, QByteArray("[Job]\nversion=1\ndestination=in-place\n") + c.lines);
        Job untouched;
        EXPECT_FALSE(ReadJobFile(bad, &untouched, &why)) << c.lines;
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.says))) << c.lines << ": " << why.toStdString();
    }
}

} // namespace
