#pragma once
// A record's settings as declarations (core/settingdecl.h) bound to the record's members.
// Each record kind declares its settings once, in its own file; the record's defaults, job
// files, the command line with its help and manual page, and the panels' starting values and
// ranges are all read from there.

#include "core/settingdecl.h"
#include "pixortatask.h"

#include <functional>

// One setting of a record kind. get gives the value as a job file writes it; set takes a value
// the declaration has already accepted and normalized (NormalizeSetting).
struct TaskSetting {
    SettingDecl decl;
    std::function<QString(const CPixortaTask &)> get;
    std::function<void(CPixortaTask &, const QString &)> set;
};
using TaskSettingList = QList<TaskSetting>;

// The setting of that key (any letter case), or none.
const TaskSetting *FindSetting(const TaskSettingList &settings, const QString &key);
// The declaration of a setting that must exist (a panel asking for its own setting).
const SettingDecl &DeclOf(const TaskSettingList &settings, const char *key);

// The refusal of the first setting of record whose value its declaration refuses; "" when
// there is none.
QString SettingsProblem(const CPixortaTask &record);
// Sets every setting of record to its declared default.
void ApplyDefaults(CPixortaTask &record, const TaskSettingList &settings);
// Checks value against the setting and sets it; "" when taken, otherwise the refusal with name
// standing for the setting ("[Add text] xmargin", "--text-xmargin").
QString TakeSetting(CPixortaTask &record, const TaskSetting &setting, const QString &name,
                    const QString &value);

// The bindings, one per kind of member. The declaration's kind is filled in by each.
template <class R> TaskSetting NumberSetting(SettingDecl decl, qint32 R::*member)
{
    decl.kind = SettingKind::Number;
    return {decl,
            [member](const CPixortaTask &t) {
                return QString::number(static_cast<const R &>(t).*member);
            },
            [member](CPixortaTask &t, const QString &v) { static_cast<R &>(t).*member = v.toInt(); }};
}

// A number with decimals (the declaration's), kept in units of its last decimal.
template <class R> TaskSetting DecimalSetting(SettingDecl decl, qint32 R::*member)
{
    decl.kind = SettingKind::Number;
    const int decimals = decl.decimals;
    return {decl,
            [member, decimals](const CPixortaTask &t) {
                return DecimalText(static_cast<const R &>(t).*member, decimals);
            },
            [member, decimals](CPixortaTask &t, const QString &v) {
                static_cast<R &>(t).*member = qint32(ParseDecimalNumber(v, decimals).value_or(0));
            }};
}

template <class R>
TaskSetting SwitchSetting(SettingDecl decl, std::function<bool(const R &)> get,
                          std::function<void(R &, bool)> set)
{
    decl.kind = SettingKind::Switch;
    return {decl,
            [get](const CPixortaTask &t) { return YesNoText(get(static_cast<const R &>(t))); },
            [set](CPixortaTask &t, const QString &v) {
                set(static_cast<R &>(t), ParseYesNo(v).value_or(false));
            }};
}

template <class R> TaskSetting FlagSetting(SettingDecl decl, qint32 R::*member)
{
    return SwitchSetting<R>(
        decl, [member](const R &r) { return r.*member != 0; },
        [member](R &r, bool on) { r.*member = on ? 1 : 0; });
}

template <class R> TaskSetting BoolSetting(SettingDecl decl, bool R::*member)
{
    return SwitchSetting<R>(
        decl, [member](const R &r) { return r.*member; }, [member](R &r, bool on) { r.*member = on; });
}

// Bit 0 of a colour's flag byte: whether the colour is used.
template <class R> TaskSetting ColourSwitchSetting(SettingDecl decl, TaskColour R::*member)
{
    return SwitchSetting<R>(
        decl, [member](const R &r) { return (r.*member).IsOn(); },
        [member](R &r, bool on) {
            (r.*member).flag = quint8(on ? ((r.*member).flag | 1) : ((r.*member).flag & ~1));
        });
}

// Red, green and blue; the reserved and flag bytes stay.
template <class R> TaskSetting ColourSetting(SettingDecl decl, TaskColour R::*member)
{
    decl.kind = SettingKind::Colour;
    return {decl,
            [member](const CPixortaTask &t) {
                return TaskColourText(static_cast<const R &>(t).*member);
            },
            [member](CPixortaTask &t, const QString &v) {
                TaskColour &c = static_cast<R &>(t).*member;
                const quint32 rgb = ParseColourText(v).value_or(0);
                c.red = quint8(rgb >> 16);
                c.green = quint8(rgb >> 8);
                c.blue = quint8(rgb);
            }};
}

// One of the declared words, kept as the word itself.
template <class R> TaskSetting ChoiceSetting(SettingDecl decl, QString R::*member)
{
    decl.kind = SettingKind::Choice;
    return {decl, [member](const CPixortaTask &t) { return static_cast<const R &>(t).*member; },
            [member](CPixortaTask &t, const QString &v) { static_cast<R &>(t).*member = v; }};
}

// One of the declared words, kept as the enum value of the same position.
template <class R, class E> TaskSetting EnumSetting(SettingDecl decl, E R::*member)
{
    decl.kind = SettingKind::Choice;
    const QStringList words = decl.choices;
    return {decl,
            [member, words](const CPixortaTask &t) {
                return words.value(qsizetype(static_cast<const R &>(t).*member), words.front());
            },
            [member, words](CPixortaTask &t, const QString &v) {
                static_cast<R &>(t).*member = E(std::max<qsizetype>(0, words.indexOf(v)));
            }};
}

// Text; normalize, when given, is how the record keeps what was typed.
template <class R>
TaskSetting TextSetting(SettingDecl decl, QString R::*member,
                        QString (*normalize)(const QString &) = nullptr)
{
    decl.kind = SettingKind::Text;
    return {decl, [member](const CPixortaTask &t) { return static_cast<const R &>(t).*member; },
            [member, normalize](CPixortaTask &t, const QString &v) {
                static_cast<R &>(t).*member = normalize ? normalize(v) : v;
            }};
}

// A command-line option that is no setting of its own: it sets one or more settings of its
// record ("--margins P" sets all four margins, "--text-bold" sets the weight to 700,
// "--crop-aspect W:H" the two sides of a ratio).
struct TaskOptionAlias {
    QString option{};
    // Empty: the option takes no value. With a separator it names the parts, optional ones in
    // brackets ("AMOUNT[,RADIUS[,THRESHOLD]]"), and the words of a refusal call each part by
    // its name here.
    QString valueName{};
    QString help{};
    // Keys the value goes to, each checked by its own declaration; or "key=value", set as
    // well (for an option without a value, all it does).
    QStringList sets{};
    // In the help the alias stands before this setting's option; "" puts it last.
    QString before{};
    // Splits the value into one part per key of sets, in their order; the first `required`
    // parts must be given, and a key whose part is left out keeps its value. None: every key
    // takes the whole value.
    QChar separator{};
    int required = 0;
};
// The names of an alias's parts as its value name gives them: "W:H" -> W, H.
QStringList AliasPartNames(const TaskOptionAlias &alias);
