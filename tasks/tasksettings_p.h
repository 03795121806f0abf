#pragma once
// Private to the tasks: how a record's fields become a saved job's keys and values and back.
// Each record lists its fields once; saving and loading walk that list, so a field can be
// neither saved without being loaded nor the other way round.

#include "pixortatask.h"

#include <QRegularExpression>
#include <functional>
#include <limits>
#include <optional>

template <class R> struct SettingField {
    const char *key;
    std::function<QString(const R &)> get;
    // "" when the value was taken; otherwise what the value has to be.
    std::function<QString(R &, const QString &)> set;
};

// A whole number from min to max, written in decimal as the panels' edits hold it.
template <class R>
SettingField<R> NumberField(const char *key, qint32 R::*member, qint32 min = 0,
                            qint32 max = std::numeric_limits<qint32>::max())
{
    return {key, [member](const R &r) { return QString::number(r.*member); },
            [member, min, max](R &r, const QString &v) {
                static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,10}$"));
                const qint64 n = number.match(v.trimmed()).hasMatch() ? v.trimmed().toLongLong()
                                                                      : qint64(min) - 1;
                if (n < min || n > max)
                    return QStringLiteral("a whole number from %1 to %2").arg(min).arg(max);
                r.*member = qint32(n);
                return QString();
            }};
}

// "yes" or "no" (also read: 1/0, true/false, on/off).
inline std::optional<bool> ParseSettingSwitch(const QString &text)
{
    const QString v = text.trimmed().toLower();
    if (v == u"yes" || v == u"1" || v == u"true" || v == u"on")
        return true;
    if (v == u"no" || v == u"0" || v == u"false" || v == u"off")
        return false;
    return std::nullopt;
}

template <class R>
SettingField<R> SwitchField(const char *key, std::function<bool(const R &)> get,
                            std::function<void(R &, bool)> set)
{
    return {key, [get](const R &r) { return get(r) ? QStringLiteral("yes") : QStringLiteral("no"); },
            [set](R &r, const QString &v) {
                const std::optional<bool> on = ParseSettingSwitch(v);
                if (!on)
                    return QStringLiteral("yes or no");
                set(r, *on);
                return QString();
            }};
}

template <class R> SettingField<R> FlagField(const char *key, qint32 R::*member)
{
    return SwitchField<R>(
        key, [member](const R &r) { return r.*member != 0; },
        [member](R &r, bool on) { r.*member = on ? 1 : 0; });
}

template <class R> SettingField<R> BoolField(const char *key, bool R::*member)
{
    return SwitchField<R>(
        key, [member](const R &r) { return r.*member; }, [member](R &r, bool on) { r.*member = on; });
}

// Bit 0 of a colour's flag: whether the colour is used.
template <class R> SettingField<R> ColourSwitchField(const char *key, TaskColour R::*member)
{
    return SwitchField<R>(
        key, [member](const R &r) { return (r.*member).IsOn(); },
        [member](R &r, bool on) {
            (r.*member).flag = quint8(on ? ((r.*member).flag | 1) : ((r.*member).flag & ~1));
        });
}

// Red, green and blue; the flag byte stays.
template <class R> SettingField<R> ColourField(const char *key, TaskColour R::*member)
{
    return {key, [member](const R &r) { return TaskColourText(r.*member); },
            [member](R &r, const QString &v) {
                const std::optional<TaskColour> colour = ParseTaskColour(v);
                if (!colour)
                    return QStringLiteral("a colour as #RRGGBB or R,G,B (each 0 to 255)");
                const quint8 flag = (r.*member).flag;
                r.*member = *colour;
                (r.*member).flag = flag;
                return QString();
            }};
}

template <class R> SettingField<R> TextField(const char *key, QString R::*member)
{
    return {key, [member](const R &r) { return r.*member; },
            [member](R &r, const QString &v) {
                r.*member = v;
                return QString();
            }};
}

// One of a fixed list of words, any letter case; stored as the list has it.
template <class R>
SettingField<R> ChoiceField(const char *key, QString R::*member, const QStringList &choices)
{
    return {key, [member](const R &r) { return r.*member; },
            [member, choices](R &r, const QString &v) {
                for (const QString &c : choices)
                    if (c.compare(v.trimmed(), Qt::CaseInsensitive) == 0) {
                        r.*member = c;
                        return QString();
                    }
                return choices.join(QStringLiteral(", "));
            }};
}

template <class R> TaskSettings SaveFields(const R &record, const QList<SettingField<R>> &fields)
{
    TaskSettings settings;
    for (const SettingField<R> &f : fields)
        settings.append({QLatin1String(f.key), f.get(record)});
    return settings;
}

template <class R>
bool LoadFields(R &record, const QList<SettingField<R>> &fields, const TaskSettings &settings,
                QString *error)
{
    for (const auto &[key, value] : settings) {
        const SettingField<R> *field = nullptr;
        for (const SettingField<R> &f : fields)
            if (key.compare(QLatin1String(f.key), Qt::CaseInsensitive) == 0)
                field = &f;
        if (!field) {
            if (error)
                *error = QStringLiteral("unknown setting '") + key + u'\'';
            return false;
        }
        const QString need = field->set(record, value);
        if (!need.isEmpty()) {
            if (error)
                *error = QLatin1String(field->key) + QStringLiteral(" needs ") + need +
                         QStringLiteral(", not '") + value + u'\'';
            return false;
        }
    }
    return true;
}
