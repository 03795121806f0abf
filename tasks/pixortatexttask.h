#pragma once
// The Add-text record: writes a caption with dynamic variables onto every image, placed by a
// horizontal and a vertical alignment with margins, in a font whose cell height is a
// percentage of the image height, optionally over a shaded box and with a drop shadow.

#include "pixortatask.h"

#include <QFont>
#include <QList>
#include <QStringView>

// The face and style of the caption's font; its size always comes from the image.
struct TaskFont {
    QString face;
    // 400 normal, 700 bold.
    qint32 weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    // The font a text record starts with (DejaVu Sans: every machine that runs the system has
    // it, so a caption looks the same in the window on any desktop and on the command line,
    // whose desktop font would differ).
    static TaskFont Default();
    static TaskFont FromQFont(const QFont &font);
    // The font at that pixel size, drawn the same way wherever it is drawn: no hinting, grey
    // antialiasing (never the desktop's subpixel choice).
    QFont ToQFont(int pixelSize) const;
    bool operator==(const TaskFont &) const = default;
};

// The largest pixel size whose cell (ascent plus descent) is at most cellHeight pixels; 1 when
// even that is taller. Cell heights beyond what the font system can lay out are capped.
int PixelSizeForCellHeight(const TaskFont &font, qint64 cellHeight);

// The record's text with its variables expanded in one scan from left to right: %fTitle%
// (file name without folder and extension), %fName% (file name), %fAbsoluteLocalPath% and
// %fPath% (the source path), %Note% (the image's note, "" without notes). What a variable
// inserts is never scanned again, so a file named "%fPath%.png" shows that name.
QString ExpandTextVariables(const QString &text, const QString &sourcePath,
                            const NoteLookup *notes);

// A variable of a caption, which result names may hold too.
struct TextVariable {
    QLatin1String token;
    // How the text panel's menu offers it; none: it is not offered.
    const char *menuItem;
    QString (*value)(const QString &sourcePath, const NoteLookup *notes);
};
// Every variable, in the order the text panel's menu offers them.
const QList<TextVariable> &TextVariables();
// The variable text starts with, or none.
const TextVariable *TextVariableAt(QStringView text);

class CPixortaTextTask : public CPixortaTask {
public:
    // The order of the words a job file writes: "left", "center", "right".
    enum class HAlign : qint32 { Left, Center, Right };
    // "top", "center", "bottom".
    enum class VAlign : qint32 { Top, Center, Bottom };

    CPixortaTextTask();
    static const TaskSettingList &Declared();
    const TaskSettingList &Settings() const override { return Declared(); }
    std::unique_ptr<CPixortaTask> Clone() const override
    {
        return std::make_unique<CPixortaTextTask>(*this);
    }

    // The text as a record keeps what the user typed: carriage returns, line feeds and spaces
    // at either end removed; tabs and inner breaks stay.
    static QString TrimmedText(const QString &typed);

    // Leaves the image unchanged (and the flag false) when the expanded text is empty. The
    // result is a true-colour image, as a drawing surface read back gives. Fails, with the
    // image untouched, when no drawing surface can be made for it.
    bool Apply(PxImage &image, bool &modified, QString sourcePath) override;
    // "Add text: " followed by the text.
    QString GetDescription() const override;
    bool operator==(const CPixortaTextTask &) const = default;
    Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                           quint32 height) const override;

    QString m_text;
    HAlign m_hAlign{};
    VAlign m_vAlign{};
    qint32 m_xMargin{};
    qint32 m_yMargin{};
    // Percent of the image height; 0 means the application font's size.
    qint32 m_textSize{};
    // The flag of the text colour is not used.
    TaskColour m_textColour;
    // Bit 0 switches the shadow on.
    TaskColour m_shadowColour;
    // Bit 0 switches the box behind the text on.
    TaskColour m_backgroundColour;
    TaskFont m_font;
    // The application font's size in pixels when the record was made, for a text size of 0.
    qint32 m_defaultPixelSize = 12;
};
