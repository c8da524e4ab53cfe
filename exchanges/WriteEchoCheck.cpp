#include "WriteEchoCheck.h"

#include "settings/SettingsLines.h"
#include "settings/SettingsValidation.h"

#include <limits>

namespace {

int32_t TimesTen(int32_t value)
{
    const int64_t v = int64_t(value) * 10;
    if (v > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

// Baud codes the unit reports, turned into the list position they stand for; a code not in the
// list is compared unchanged.
int32_t BaudPosition(int32_t code)
{
    const int position = BaudListPosition(code);
    return position >= 0 ? position : code;
}

using Differences = QList<WriteEchoDifference>;

void CheckAddress(const std::array<QString, 4> &boxes, const DottedNumbers &numbers,
                  SettingsField field, const QString &name, Differences *messages)
{
    for (int k = 0; k < 4; ++k) {
        int32_t boxValue = 0;
        if (!TextToInt32(boxes[k], &boxValue) || boxValue != numbers[k])
            messages->append({field, QStringLiteral("%1 (%2) Write Error ").arg(name).arg(k + 1)});
    }
}

void CheckOptions(QByteArrayView text, const SettingsSnapshot &c, Differences *messages)
{
    auto on = [&text](qsizetype index) { return ByteAt(text, index) == '1'; };
    if (on(4) != c.dhcpEnabled)
        messages->append(
            {SettingsField::Dhcp, QStringLiteral("Get Address Automatically Write Error ")});
    if (on(5) != c.useBroadcast)
        messages->append(
            {SettingsField::UseBroadcast, QStringLiteral("Use Broadcast Address Write Error ")});
    if (on(6) != c.clientEnabled)
        messages->append(
            {SettingsField::EnableClient, QStringLiteral("Enable Client Write Error ")});
    // "1" asks for Timed, anything else for CR/LF. With both boxes off the window means CR/LF
    // (the line it sends says so), so CR/LF is what Timed being off stands for.
    if (on(7) != c.serialTimed)
        messages->append(
            {SettingsField::SerialTimed, QStringLiteral("Serial Port Timed Write Error ")});
    if (on(10) != c.enableWatchdog)
        messages->append(
            {SettingsField::EnableWatchdog, QStringLiteral("Enable Watchdog Write Error ")});
}

void CheckB(QByteArrayView text, char second, const SettingsSnapshot &c, Differences *messages)
{
    const int32_t v = AtolSaturating(TailFrom(text, 2));
    switch (second) {
    case 'A':
    case 'a':
        if (v != c.clientPort)
            messages->append(
                {SettingsField::PortNumber, QStringLiteral("Client Port Write Error ")});
        break;
    case 'B':
    case 'b':
        if (BaudPosition(v) != c.baudIndex)
            messages->append(
                {SettingsField::BaudRate, QStringLiteral("Serial Port Baud Rate Write Error ")});
        break;
    case 'H':
    case 'h':
        if (v != c.serverTimeout)
            messages->append({SettingsField::Timeout, QStringLiteral("Timeout Write Error ")});
        break;
    case 'J':
    case 'j':
        if (v != c.updatePeriod)
            messages->append(
                {SettingsField::UpdatePeriod, QStringLiteral("Update Period Write Error ")});
        break;
    case 'T':
    case 't':
        if (TimesTen(v) != c.serialTimedInterval)
            messages->append(
                {SettingsField::SerialTimedInterval, QStringLiteral("Serial Time Write Error ")});
        break;
    default:
        break;
    }
}

} // namespace

QList<WriteEchoDifference> CheckWriteEchoFields(const QByteArray &reply,
                                                const SettingsSnapshot &controls,
                                                DottedNumbers *dotted)
{
    const QByteArrayView text = SettingsLineText(reply);
    const char first = ByteAt(text, 0);
    const char second = ByteAt(text, 1);
    Differences messages;

    switch (first) {
    case 'A': {
        const char input = ByteAt(text, 2);
        if (second == 'X' && input >= '1' && input <= '4') {
            const int k = input - '1';
            if (AtolSaturating(TailFrom(text, 3)) != controls.hysteresis[k])
                messages.append(
                    {SettingsField(int(SettingsField::Hysteresis1) + k),
                     QStringLiteral("Analogue Input %1 Hysteresis Write Error ").arg(k + 1)});
        }
        break;
    }
    case 'B':
        CheckB(text, second, controls, &messages);
        break;
    case 'E':
        if (second == 'O')
            CheckOptions(text, controls, &messages);
        break;
    case 'N':
        *dotted = ParseDottedAddress(TailFrom(text, 2));
        switch (second) {
        case 'C':
            CheckAddress(controls.client, *dotted, SettingsField::TargetAddress,
                         QStringLiteral("Client Address"), &messages);
            break;
        case 'G':
            CheckAddress(controls.gateway, *dotted, SettingsField::GatewayAddress,
                         QStringLiteral("Gateway Address"), &messages);
            break;
        case 'I':
            CheckAddress(controls.ip, *dotted, SettingsField::IpAddress,
                         QStringLiteral("IP Address"), &messages);
            break;
        case 'S':
            CheckAddress(controls.submask, *dotted, SettingsField::Submask,
                         QStringLiteral("Submask"), &messages);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return messages;
}

QStringList CheckWriteEcho(const QByteArray &reply, const SettingsSnapshot &controls,
                           DottedNumbers *dotted)
{
    QStringList messages;
    for (const WriteEchoDifference &difference : CheckWriteEchoFields(reply, controls, dotted))
        messages << difference.message;
    return messages;
}
