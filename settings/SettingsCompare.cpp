#include "SettingsCompare.h"

#include "SettingsLines.h"

namespace {

QString Address(const std::array<QString, 4> &boxes)
{
    return boxes[0] + QLatin1Char('.') + boxes[1] + QLatin1Char('.') + boxes[2] + QLatin1Char('.') +
           boxes[3];
}

QString OnOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

} // namespace

QList<SettingsField> AllSettingsFields()
{
    QList<SettingsField> fields;
    for (int f = int(SettingsField::IpAddress); f <= int(SettingsField::EnableWatchdog); ++f)
        fields << SettingsField(f);
    return fields;
}

QString SettingsFieldName(SettingsField field)
{
    switch (field) {
    case SettingsField::IpAddress:
        return QStringLiteral("IP Address");
    case SettingsField::GatewayAddress:
        return QStringLiteral("Gateway Address");
    case SettingsField::Submask:
        return QStringLiteral("Submask");
    case SettingsField::TargetAddress:
        return QStringLiteral("Target IP Address");
    case SettingsField::Dhcp:
        return QStringLiteral("Get Address Automatically");
    case SettingsField::EnableClient:
        return QStringLiteral("Enable Client");
    case SettingsField::UseBroadcast:
        return QStringLiteral("Use Broadcast Address");
    case SettingsField::Hysteresis1:
    case SettingsField::Hysteresis2:
    case SettingsField::Hysteresis3:
    case SettingsField::Hysteresis4:
        return QStringLiteral("Analogue Input %1 Hysteresis")
            .arg(int(field) - int(SettingsField::Hysteresis1) + 1);
    case SettingsField::BaudRate:
        return QStringLiteral("Baud Rate");
    case SettingsField::SerialCrlf:
        return QStringLiteral("Use CR/LF");
    case SettingsField::SerialTimed:
        return QStringLiteral("Timed");
    case SettingsField::SerialTimedInterval:
        return QStringLiteral("Timed mS");
    case SettingsField::UpdatePeriod:
        return QStringLiteral("Update Period");
    case SettingsField::PortNumber:
        return QStringLiteral("Port Number");
    case SettingsField::Timeout:
        return QStringLiteral("Timeout");
    case SettingsField::EnableWatchdog:
        return QStringLiteral("Enable Watchdog");
    }
    return QString();
}

QString SettingsFieldText(const SettingsSnapshot &s, SettingsField field)
{
    static const char *const kBaudRates[] = {"2400", "4800", "9600", "19200", "38400"};
    switch (field) {
    case SettingsField::IpAddress:
        return Address(s.ip);
    case SettingsField::GatewayAddress:
        return Address(s.gateway);
    case SettingsField::Submask:
        return Address(s.submask);
    case SettingsField::TargetAddress:
        return Address(s.client);
    case SettingsField::Dhcp:
        return OnOff(s.dhcpEnabled);
    case SettingsField::EnableClient:
        return OnOff(s.clientEnabled);
    case SettingsField::UseBroadcast:
        return OnOff(s.useBroadcast);
    case SettingsField::Hysteresis1:
    case SettingsField::Hysteresis2:
    case SettingsField::Hysteresis3:
    case SettingsField::Hysteresis4:
        return QString::number(s.hysteresis[size_t(int(field) - int(SettingsField::Hysteresis1))]);
    case SettingsField::BaudRate:
        return s.baudIndex >= 0 && s.baudIndex < 5 ? QString::fromLatin1(kBaudRates[s.baudIndex])
                                                   : QStringLiteral("none");
    case SettingsField::SerialCrlf:
        return OnOff(s.serialCrlf);
    case SettingsField::SerialTimed:
        return OnOff(s.serialTimed);
    case SettingsField::SerialTimedInterval:
        return QString::number(s.serialTimedInterval);
    case SettingsField::UpdatePeriod:
        return QString::number(s.updatePeriod);
    case SettingsField::PortNumber:
        return QString::number(s.clientPort);
    case SettingsField::Timeout:
        return QString::number(s.serverTimeout);
    case SettingsField::EnableWatchdog:
        return OnOff(s.enableWatchdog);
    }
    return QString();
}

QList<SettingsField> FieldsOfLineCode(const QString &code)
{
    const QString c = code.toLower();
    if (c.size() == 3 && c.startsWith(QLatin1String("ax")) && c[2] >= QLatin1Char('1') &&
        c[2] <= QLatin1Char('4'))
        return {SettingsField(int(SettingsField::Hysteresis1) + (c[2].unicode() - '1'))};
    if (c == QLatin1String("ba"))
        return {SettingsField::PortNumber};
    if (c == QLatin1String("bb"))
        return {SettingsField::BaudRate};
    if (c == QLatin1String("bh"))
        return {SettingsField::Timeout};
    if (c == QLatin1String("bj"))
        return {SettingsField::UpdatePeriod};
    if (c == QLatin1String("bt"))
        return {SettingsField::SerialTimedInterval};
    if (c == QLatin1String("eo"))
        return {SettingsField::Dhcp,         SettingsField::UseBroadcast,
                SettingsField::EnableClient, SettingsField::SerialTimed,
                SettingsField::SerialCrlf,   SettingsField::EnableWatchdog};
    if (c == QLatin1String("nc"))
        return {SettingsField::TargetAddress};
    if (c == QLatin1String("ng"))
        return {SettingsField::GatewayAddress};
    if (c == QLatin1String("ni"))
        return {SettingsField::IpAddress};
    if (c == QLatin1String("ns"))
        return {SettingsField::Submask};
    return {};
}

SettingsSnapshot SettingsAsUnitHolds(const SettingsSnapshot &settings)
{
    CommandQueue lines;
    BuildSettingsLines(settings, true, lines);
    SettingsSnapshot held;
    for (const QString &line : lines.Items())
        ApplyToSnapshot(held, ParseSettingsLine(line.toLatin1()));
    held.macAddress = settings.macAddress;
    return held;
}

QString SettingsDifference::Code() const
{
    for (const char *code :
         {"ax1", "ax2", "ax3", "ax4", "ba", "bb", "bh", "bj", "bt", "eo", "nc", "ng", "ni", "ns"}) {
        const QString c = QString::fromLatin1(code);
        if (FieldsOfLineCode(c).contains(field))
            return c;
    }
    return QString();
}

QString SettingsDifference::Text() const
{
    return SettingsFieldName(field) + QLatin1Char(' ') + before + QStringLiteral(" \u2192 ") +
           after;
}

QList<SettingsDifference> CompareSettings(const SettingsSnapshot &before,
                                          const SettingsSnapshot &after)
{
    const SettingsSnapshot heldBefore = SettingsAsUnitHolds(before);
    const SettingsSnapshot heldAfter = SettingsAsUnitHolds(after);
    QList<SettingsDifference> differences;
    for (SettingsField field : AllSettingsFields()) {
        const QString a = SettingsFieldText(heldBefore, field);
        const QString b = SettingsFieldText(heldAfter, field);
        if (a != b)
            differences.append({field, a, b});
    }
    return differences;
}
