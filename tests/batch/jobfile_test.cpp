// Job files: what the program wrote before keeps reading into the same job and is written back
// byte for byte; a job that could not be read back is never written.
#include "batch/jobfile.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortatexttask.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

// As pixorta-batch --text '%fTitle%: %Note%' --notes /photos/notes.txt --text-halign right
// --text-shadow --text-bold --text-italic --text-font 'DejaVu Serif' --in-place --save-job
// wrote it.
const char *const kWritten =
    "[Job]\n"
    "version=1\n"
    "format=\n"
    "destination=in-place\n"
    "auto-orient=no\n"
    "keep-metadata=no\n"
    "verify=no\n"
    "notes=/photos/notes.txt\n"
    "\n"
    "[Resize]\n"
    "mode=percentage\n"
    "percentage=100\n"
    "width=0\n"
    "height=0\n"
    "\n"
    "[Change colors]\n"
    "light=100\n"
    "contrast=100\n"
    "red=100\n"
    "green=100\n"
    "blue=100\n"
    "grayscale=no\n"
    "\n"
    "[Add background]\n"
    "enabled=no\n"
    "margin-left=3\n"
    "margin-top=3\n"
    "margin-right=3\n"
    "margin-bottom=3\n"
    "background-color=#ffffff\n"
    "background=yes\n"
    "frame-color=#646464\n"
    "frame=yes\n"
    "image-frame-color=#000000\n"
    "image-frame=yes\n"
    "\n"
    "[Add text]\n"
    "text=%fTitle%: %Note%\n"
    "halign=right\n"
    "valign=bottom\n"
    "xmargin=20\n"
    "ymargin=20\n"
    "size=5\n"
    "color=#000000\n"
    "shadow-color=#bebebe\n"
    "shadow=yes\n"
    "box-color=#f0f0f0\n"
    "box=yes\n"
    "font=DejaVu Serif\n"
    "weight=700\n"
    "italic=yes\n"
    "underline=no\n"
    "strikeout=no\n"
    "\n"
    "[Create slideshow]\n"
    "create=no\n"
    "pause=5\n"
    "appear=\n"
    "disappear=\n"
    "width=1024\n"
    "height=768\n"
    "quality=80\n"
    "voice=\n";

TEST(JobFile, AJobWrittenBeforeReadsTheSameAndIsWrittenBackByteForByte)
{
    TempFolder dir;
    QFile file(dir.File("old.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kWritten);
    file.close();

    Job job;
    QString error;
    ASSERT_TRUE(ReadJobFile(dir.File("old.ini"), &job, &error)) << error.toStdString();
    EXPECT_EQ(job.destination, Job::Destination::InPlace);
    EXPECT_EQ(job.notesFile, "/photos/notes.txt");
    EXPECT_FALSE(job.IsEnabled(TaskAddBackground));
    const CPixortaTextTask *text = job.Find<CPixortaTextTask>();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->m_text, "%fTitle%: %Note%");
    EXPECT_EQ(text->m_hAlign, CPixortaTextTask::HAlign::Right);
    EXPECT_EQ(text->m_font.face, "DejaVu Serif");
    EXPECT_EQ(text->m_font.weight, 700);
    EXPECT_TRUE(text->m_shadowColour.IsOn());

    ASSERT_TRUE(WriteJobFile(dir.File("new.ini"), job, &error)) << error.toStdString();
    EXPECT_EQ(FileBytes(dir.File("new.ini")), QByteArray(kWritten));
}

TEST(JobFile, AValueTheReaderWouldRefuseIsNeverWritten)
{
    TempFolder dir;
    Job job;
    job.Find<CPixortaSlideShowTask>()->m_width = 0; // an emptied edit of the panel
    QString error;
    EXPECT_FALSE(WriteJobFile(dir.File("job.ini"), job, &error));
    EXPECT_EQ(error, "cannot save the job: [Create slideshow] width needs a number of pixels from "
                     "1 to 16384, not '0'");
    EXPECT_FALSE(QFile::exists(dir.File("job.ini")));

    // A file that cannot be used changes nothing of the job it was read into.
    QFile bad(dir.File("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[Job]\nformat=png\n[Resize]\npercentage=40\n[Create slideshow]\nquality=4\n");
    bad.close();
    Job kept;
    EXPECT_FALSE(ReadJobFile(dir.File("bad.ini"), &kept, &error));
    EXPECT_TRUE(error.endsWith("[Create slideshow] quality needs a percentage from 5 to 100, not '4'"))
        << error.toStdString();
    EXPECT_EQ(kept.format, "");
    EXPECT_EQ(kept.Find<CPixortaSizeTask>()->m_percentage, 100);
}

} // namespace
