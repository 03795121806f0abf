// A task's settings leave a record as text and come back whole, into a record and into its
// panel: what a saved job relies on.
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortacroptask.h"
#include "tasks/pixortasharpentask.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortatexttask.h"
#include "tasks/pixortawatermarktask.h"
#include "tasks/taskpanels.h"
#include "tests/support/testsupport.h"

#include <QWidget>
#include <memory>
#include <vector>

namespace {

// One record of every kind, each field away from its default, as a panel can show it.
std::vector<std::unique_ptr<CPixortaTask>> ChangedRecords()
{
    std::vector<std::unique_ptr<CPixortaTask>> records;
    auto size = std::make_unique<CPixortaSizeTask>();
    size->m_mode = CPixortaSizeTask::ModeConstant;
    size->m_width = 640;
    size->m_height = 0;
    records.push_back(std::move(size));
    auto colours = std::make_unique<CPixortaColorsTask>();
    colours->m_light = 120;
    colours->m_contrast = 0;
    colours->m_red = 300;
    colours->m_green = 99;
    colours->m_blue = 180;
    colours->m_grayScale = 1;
    records.push_back(std::move(colours));
    auto background = std::make_unique<CPixortaBackgroundTask>();
    background->m_left = 1;
    background->m_right = 2;
    background->m_top = 0;
    background->m_bottom = 40;
    background->m_background = {1, 2, 3, 0, 1};
    background->m_frame = {250, 128, 7, 0, 0};
    background->m_imageFrame = {9, 9, 200, 0, 1};
    records.push_back(std::move(background));
    auto text = std::make_unique<CPixortaTextTask>();
    text->m_text = QStringLiteral("%fTitle% & \"%Note%\"\n[second line]\t=");
    text->m_hAlign = CPixortaTextTask::HAlign::Right;
    text->m_vAlign = CPixortaTextTask::VAlign::Top;
    text->m_xMargin = 0;
    text->m_yMargin = 7;
    text->m_textSize = 12;
    text->m_textColour = {200, 0, 100, 0, 0};
    text->m_shadowColour = {1, 1, 1, 0, 1};
    text->m_backgroundColour = {5, 6, 7, 0, 0};
    text->m_font = {QStringLiteral("DejaVu Serif"), 700, true, true, true};
    records.push_back(std::move(text));
    auto show = std::make_unique<CPixortaSlideShowTask>();
    show->m_create = 1;
    show->m_width = 640;
    show->m_height = 480;
    show->m_pause = 0;
    show->m_quality = 30;
    show->m_appearEffects = QStringLiteral("Lighten,Zoom out");
    show->m_disappearEffects = QStringLiteral("Away to top");
    records.push_back(std::move(show));
    auto crop = std::make_unique<CPixortaCropTask>();
    crop->m_mode = CPixortaCropTask::Mode::Margins;
    crop->m_aspectWidth = 7;
    crop->m_aspectHeight = 100000;
    crop->m_matchOrientation = true;
    crop->m_anchor = Placement::BottomLeft;
    crop->m_x = 3;
    crop->m_y = 2147483647;
    crop->m_width = 1;
    crop->m_height = 99;
    crop->m_marginLeft = 0;
    crop->m_marginTop = 100;
    crop->m_marginRight = 33;
    crop->m_marginBottom = 1;
    records.push_back(std::move(crop));
    auto sharpen = std::make_unique<CPixortaSharpenTask>();
    sharpen->m_amount = 500;
    sharpen->m_radius = 37;
    sharpen->m_threshold = 255;
    records.push_back(std::move(sharpen));
    auto mark = std::make_unique<CPixortaWatermarkTask>();
    mark->m_file = QStringLiteral("/marks/our logo, 2026.png");
    mark->m_position = Placement::Top;
    mark->m_size = 100;
    mark->m_opacity = 0;
    mark->m_margin = 50;
    records.push_back(std::move(mark));
    return records;
}

std::unique_ptr<CPixortaTask> Fresh(qint32 kind)
{
    switch (kind) {
    case TaskResize: return std::make_unique<CPixortaSizeTask>();
    case TaskChangeColors: return std::make_unique<CPixortaColorsTask>();
    case TaskAddBackground: return std::make_unique<CPixortaBackgroundTask>();
    case TaskAddText: return std::make_unique<CPixortaTextTask>();
    case TaskCrop: return std::make_unique<CPixortaCropTask>();
    case TaskSharpen: return std::make_unique<CPixortaSharpenTask>();
    case TaskWatermark: return std::make_unique<CPixortaWatermarkTask>();
    default: return std::make_unique<CPixortaSlideShowTask>();
    }
}

bool Same(const CPixortaTask &a, const CPixortaTask &b)
{
    switch (a.Kind()) {
    case TaskResize:
        return static_cast<const CPixortaSizeTask &>(a) == static_cast<const CPixortaSizeTask &>(b);
    case TaskChangeColors:
        return static_cast<const CPixortaColorsTask &>(a) ==
               static_cast<const CPixortaColorsTask &>(b);
    case TaskAddBackground:
        return static_cast<const CPixortaBackgroundTask &>(a) ==
               static_cast<const CPixortaBackgroundTask &>(b);
    case TaskAddText:
        return static_cast<const CPixortaTextTask &>(a) == static_cast<const CPixortaTextTask &>(b);
    case TaskCrop:
        return static_cast<const CPixortaCropTask &>(a) == static_cast<const CPixortaCropTask &>(b);
    case TaskSharpen:
        return static_cast<const CPixortaSharpenTask &>(a) ==
               static_cast<const CPixortaSharpenTask &>(b);
    case TaskWatermark:
        return static_cast<const CPixortaWatermarkTask &>(a) ==
               static_cast<const CPixortaWatermarkTask &>(b);
    default:
        return static_cast<const CPixortaSlideShowTask &>(a) ==
               static_cast<const CPixortaSlideShowTask &>(b);
    }
}

TEST(TaskSettings, EveryRecordComesBackWhole)
{
    auto records = ChangedRecords();
    // What only a saved job carries: a percentage kept beside constant sizes, the voice file.
    static_cast<CPixortaSizeTask &>(*records[0]).m_percentage = 250;
    static_cast<CPixortaSlideShowTask &>(*records[4]).m_voiceFile = QStringLiteral("/a/b c.wav");
    for (const auto &record : records) {
        SCOPED_TRACE(TaskKindName(record->Kind()).toStdString());
        auto back = Fresh(record->Kind());
        ASSERT_FALSE(Same(*back, *record));
        QString error;
        ASSERT_TRUE(back->LoadSettings(record->SaveSettings(), &error)) << error.toStdString();
        EXPECT_TRUE(Same(*back, *record));
    }
}

TEST(TaskSettings, BadSettingsSayWhatTheyNeed)
{
    const struct {
        qint32 kind;
        TaskSettings settings;
        const char *error;
    } cases[] = {
        {TaskResize, {{"mode", "bigger"}}, "mode needs none, percentage or constant, not 'bigger'"},
        {TaskResize, {{"percentage", "2147483648"}}, "percentage needs a whole number from 1 to 2147483647"},
        {TaskChangeColors, {{"grayscale", "maybe"}}, "grayscale needs yes or no"},
        {TaskAddBackground, {{"frame-color", "#12345"}}, "frame-color needs a colour"},
        {TaskAddText, {{"halign", "middle"}}, "halign needs left, center or right"},
        {TaskAddText, {{"weight", "0"}}, "weight needs a font weight"},
        {TaskCreateSlideshow, {{"appear", "Lighten,Spin"}}, "appear needs effect names"},
        {TaskCreateSlideshow, {{"speed", "1"}}, "unknown setting 'speed'"},
        {TaskCrop, {{"aspect-height", "0"}}, "aspect-height needs a whole number from 1 to 100000, not '0'"},
        {TaskCrop, {{"width", "-5"}}, "width needs a number of pixels from 1 to 2147483647, not '-5'"},
        {TaskCrop, {{"anchor", "middle"}}, "anchor needs center, top-left, top, top-right, left, right, bottom-left, bottom or bottom-right"},
        {TaskSharpen, {{"radius", "5.1"}}, "radius needs a radius in pixels from 0.3 to 5.0 with at most one decimal, not '5.1'"},
        {TaskSharpen, {{"radius", "1.05"}}, "radius needs a radius in pixels from 0.3 to 5.0 with at most one decimal"},
        {TaskSharpen, {{"amount", "0"}}, "amount needs a percentage from 1 to 500"},
        {TaskWatermark, {{"opacity", "101"}}, "opacity needs a percentage from 0 to 100, not '101'"},
        {TaskWatermark, {{"position", "corner"}}, "position needs center, top-left"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        QString error;
        EXPECT_FALSE(Fresh(c.kind)->LoadSettings(c.settings, &error));
        EXPECT_TRUE(error.startsWith(QLatin1String(c.error))) << error.toStdString();
    }
}

// A panel shown a record hands the same record out again.
TEST(TaskSettings, PanelsTakeARecordAndGiveItBack)
{
    QWidget window;
    for (const auto &record : ChangedRecords()) {
        SCOPED_TRACE(TaskKindName(record->Kind()).toStdString());
        std::unique_ptr<CPixortaProcessorBaseDlg> panel = CreateTaskPanel(record->Kind(), &window);
        ASSERT_TRUE(panel);
        ASSERT_FALSE(Same(*panel->CreateTask(), *record));
        panel->SetFromTask(*record, true);
        EXPECT_TRUE(Same(*panel->CreateTask(), *record));
        EXPECT_TRUE(panel->IsTaskEnabled());
    }
    // The background can be switched off as a whole; its settings wait for it.
    auto panel = CreateTaskPanel(TaskAddBackground, &window);
    panel->SetFromTask(*ChangedRecords()[2], false);
    EXPECT_FALSE(panel->IsTaskEnabled());
    EXPECT_EQ(static_cast<CPixortaBackgroundTask &>(*panel->CreateTask()).m_bottom, 40);
}

} // namespace
