#pragma once
// A setting declared once: its job-file key, its command-line option, its kind, its range or
// choices, its default and one line of help. Job files, the command line with its help and
// manual page, and the panels all read the same declaration, so they cannot disagree about a
// key, a range or a default, and a value is refused in the same words wherever it is typed.

#include <QString>
#include <QStringList>
#include <limits>
#include <optional>

enum class SettingKind { Number, Switch, Colour, Choice, Text, Font };

struct SettingDecl {
    // The key in a job file's section.
    QString key{};
    // The command-line option ("--text-xmargin"); empty when the command line has none.
    QString option{};
    SettingKind kind = SettingKind::Text;
    // A number's range.
    qint64 min = 0;
    qint64 max = std::numeric_limits<qint32>::max();
    // A number that may be typed with "%" at its end.
    bool percent = false;
    // A number with up to this many decimals ("1.5"), written with exactly as many; min, max
    // and the record's value count in units of the last decimal (a radius of 0.3 to 5.0 with
    // one decimal has min 3 and max 50).
    int decimals = 0;
    // What a number is called when it is refused ("a number of pixels"; "a whole number"
    // when empty), what several choices are called, or what a text setting that names a file
    // names ("a WAV file": the command line then refuses an empty one).
    QString noun{};
    // Said after the range when a number is refused ("(400 normal, 700 bold)").
    QString hint{};
    // A choice's words, as job files write them.
    QStringList choices{};
    // A choice of any number of the words, separated by commas and kept in their order.
    bool several = false;
    // A choice that may also be empty, which means this ("every file keeps its format").
    QString emptyMeans{};
    // The value a record starts with, as a job file writes it.
    QString defaultValue{};
    // What the option's value is called in the help ("N", "C", "TEXT").
    QString valueName{};
    // One sentence for --help and the manual page. "%default%", "%min%", "%max%" and
    // "%choices%" stand for what the declaration says.
    QString help{};
    // A switch's option takes no value and sets the switch to this ("--no-frame" sets it off).
    bool optionSets = true;
    // Another setting of the same record the option also sets, as "key=value"
    // ("--text-shadow-color" also switches the shadow on).
    QString implies{};
    // How a refused value is told when the usual "needs ..." does not fit; "%value%" and
    // "%choices%" stand for the value and the choices.
    QString refusal{};
};

// The one number parser: blanks, an optional "-", one to ten digits, "%" at the end when
// percent allows it, blanks. Nothing when the text is not such a number.
std::optional<qint64> ParseWholeNumber(const QString &text, bool percent = false);
// A number of at most decimals decimals ("2", "2.5", "-0.5"; "%" at its end when percent
// allows it) in units of its last decimal (25 for "2.5" with one decimal); nothing for any
// other text.
std::optional<qint64> ParseDecimalNumber(const QString &text, int decimals, bool percent = false);
// units in units of the last of decimals decimals, written with all of them: 25 -> "2.5".
QString DecimalText(qint64 units, int decimals);
// The one yes/no parser: yes/no, 1/0, true/false, on/off, in any letter case.
std::optional<bool> ParseYesNo(const QString &text);
// "yes" or "no", as job files write a switch.
QString YesNoText(bool on);
// "#RRGGBB" or "R,G,B" with each channel 0 to 255, as 0xRRGGBB.
std::optional<quint32> ParseColourText(const QString &text);
// "#rrggbb".
QString ColourText(quint32 rgb);

// What a value of the setting has to be: "a whole number from 0 to 2147483647",
// "left, center or right", "yes or no".
QString SettingNeeds(const SettingDecl &decl);
// "<name> needs <what>, not '<value>'": how the command line and job files refuse a value.
QString SettingRefusal(const QString &name, const SettingDecl &decl, const QString &value);
// The value in the form a job file writes it ("yes", "#rrggbb", a choice as declared, a number
// without "%"); nothing when the declaration refuses it.
std::optional<QString> NormalizeSetting(const SettingDecl &decl, const QString &text);
// A written value as the help shows it: a colour as "R,G,B", everything else as written.
QString SettingDisplayValue(const SettingDecl &decl, const QString &written);
// The help sentence with its placeholders filled in.
QString SettingHelp(const SettingDecl &decl);

// An option's line of --help: "  --text-xmargin N     pixels from ...", wrapped at 88
// columns with the text in column 24.
QString HelpLines(const QString &option, const QString &valueName, const QString &help);
// The same as a manual page entry (.TP, the option in bold, the value in italics, the help
// beginning with a capital).
QString ManEntry(const QString &option, const QString &valueName, const QString &help);
// Text escaped for a manual page line.
QString ManEscape(const QString &text);
