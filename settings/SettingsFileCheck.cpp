#include "SettingsFileCheck.h"

#include "SettingsLines.h"
#include "SettingsTypes.h"
#include "TextFile.h"

#include <QDir>

namespace {

struct NumberField
{
    const char *code;
    const char *name;
    SpinId spin;
    int scale; // the line carries value / scale (the serial interval goes in tens)
};

const NumberField kNumberFields[] = {
    {"ax1", "Hysteresis 1", SpinId::Hysteresis1, 1},
    {"ax2", "Hysteresis 2", SpinId::Hysteresis2, 1},
    {"ax3", "Hysteresis 3", SpinId::Hysteresis3, 1},
    {"ax4", "Hysteresis 4", SpinId::Hysteresis4, 1},
    {"ba", "Client Port", SpinId::ClientPort, 1},
    {"bh", "Connect Timeout", SpinId::ServerTimeout, 1},
    {"bj", "Update Period", SpinId::UpdatePeriod, 1},
    {"bt", "Serial Timed Interval", SpinId::SerialTimed, 10},
};

const struct
{
    const char *code;
    const char *name;
} kAddressFields[] = {
    {"ni", "IP Address"},
    {"ng", "Gateway Address"},
    {"ns", "Submask"},
    {"nc", "Client Address"},
};

bool AllDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// What is wrong with one line, or nothing.
QString LineProblem(const QString &line)
{
    const QString lower = line.toLower();
    for (const NumberField &field : kNumberFields) {
        const QLatin1String code(field.code);
        if (!lower.startsWith(code))
            continue;
        const QString value = line.mid(code.size());
        const SpinRange range = SettingsSpinRange(field.spin);
        const int low = range.minValue / field.scale;
        const int high = range.maxValue / field.scale;
        // Up to six digits can hold every range; more is out of range whatever they say.
        if (!AllDigits(value))
            return QStringLiteral("%1 needs a whole number from %2 to %3 after \"%4\"")
                .arg(QLatin1String(field.name))
                .arg(low)
                .arg(high)
                .arg(code);
        const long long number = value.size() > 9 ? -1 : value.toLongLong();
        if (number < low || number > high)
            return QStringLiteral("%1 %2 is outside its range, %3 to %4")
                .arg(QLatin1String(field.name), value)
                .arg(low)
                .arg(high);
        return QString();
    }
    if (lower.startsWith(QLatin1String("bb"))) {
        const QString value = line.mid(2);
        if (!AllDigits(value) || value.size() > 3 || BaudListPosition(value.toInt()) < 0)
            return QStringLiteral("Baud Rate code \"%1\" is none of 129, 65, 32, 15 and 7 "
                                  "(2400 to 38400 baud)")
                .arg(value);
        return QString();
    }
    for (const auto &field : kAddressFields) {
        const QLatin1String code(field.code);
        if (!lower.startsWith(code))
            continue;
        const QStringList octets = line.mid(code.size()).split(QLatin1Char('.'));
        bool sound = octets.size() == 4;
        for (const QString &octet : octets)
            sound = sound && AllDigits(octet) && octet.size() <= 3 && octet.toInt() <= 255;
        if (!sound)
            return QStringLiteral("%1 \"%2\" is not four numbers from 0 to 255 joined by dots")
                .arg(QLatin1String(field.name), line.mid(code.size()));
        return QString();
    }
    if (lower.startsWith(QLatin1String("eo"))) {
        const QString flags = line.mid(2);
        bool sound = flags.size() == 16;
        for (const QChar c : flags)
            sound = sound && (c == QLatin1Char('0') || c == QLatin1Char('1'));
        if (!sound)
            return QStringLiteral("the options line needs 16 digits 0 or 1 after \"eo\"");
        return QString();
    }
    if (lower == QLatin1String("zc"))
        return QString();
    return QStringLiteral("\"%1\" is not a settings line").arg(line);
}

} // namespace

QStringList SettingsFileProblems(const QString &path, const QStringList &lines)
{
    QStringList problems;
    const QString shown = QDir::toNativeSeparators(path);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.isEmpty())
            continue;
        const QString problem = LineProblem(line);
        if (!problem.isEmpty())
            problems << QStringLiteral("%1, line %2: %3").arg(shown).arg(i + 1).arg(problem);
    }
    return problems;
}

bool CheckSettingsFileStrictly(const QString &path, QString *error)
{
    QStringList lines;
    if (!ReadTextFileLines(path, &lines, error))
        return false;
    const QStringList problems = SettingsFileProblems(path, lines);
    if (problems.isEmpty())
        return true;
    *error = problems.join(QLatin1Char('\n'));
    return false;
}
