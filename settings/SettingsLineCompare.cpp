#include "SettingsLineCompare.h"

#include "SettingsCompare.h"
#include "SettingsLines.h"

namespace {

QString WithoutLineEnd(QString line)
{
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace

QString SettingsLineCode(const QString &line)
{
    const QString lower = line.left(3).toLower();
    const QString code = lower.startsWith(QLatin1String("ax")) ? lower : lower.left(2);
    static const QStringList kCodes = {"ax1", "ax2", "ax3", "ax4", "ba", "bb", "bh",
                                       "bj",  "bt",  "eo",  "nc",  "ng", "ni", "ns"};
    if (!kCodes.contains(code))
        return QString();
    // The line parser has the last word on what a line sets.
    if (ParseSettingsLine(line.toLatin1()).kind == SettingsUpdate::Kind::None)
        return QString();
    return code;
}

QStringList SettingsLineCodes(const QStringList &lines)
{
    QStringList codes;
    for (const QString &line : lines) {
        const QString code = SettingsLineCode(line);
        if (!code.isEmpty() && !codes.contains(code))
            codes << code;
    }
    return codes;
}

QList<SettingsLineDifference> CompareSettingsLines(const SettingsSnapshot &expected,
                                                   const SettingsSnapshot &actual,
                                                   const QStringList &codes)
{
    // The differences are the fields'; the lines only show them.
    QStringList differing;
    for (const SettingsDifference &difference : CompareSettings(expected, actual))
        differing << difference.Code();
    CommandQueue expectedLines;
    CommandQueue actualLines;
    BuildSettingsLines(SettingsAsUnitHolds(expected), true, expectedLines);
    BuildSettingsLines(SettingsAsUnitHolds(actual), true, actualLines);
    QList<SettingsLineDifference> differences;
    for (const QString &line : expectedLines.Items()) {
        const QString code = SettingsLineCode(line);
        if (code.isEmpty() || !codes.contains(code) || !differing.contains(code))
            continue;
        QString other;
        for (const QString &candidate : actualLines.Items()) {
            if (SettingsLineCode(candidate) == code) {
                other = candidate;
                break;
            }
        }
        differences.append({code, WithoutLineEnd(line), WithoutLineEnd(other)});
    }
    return differences;
}
