#include "SettingsLines.h"

#include <iterator>

#include <QString>
#include <limits>

namespace {

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int32_t Saturate32(int64_t value)
{
    if (value < kInt32Min)
        return int32_t(kInt32Min);
    if (value > kInt32Max)
        return int32_t(kInt32Max);
    return int32_t(value);
}

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A byte's contribution when the unit's format counts it as a digit without checking it.
int DigitValue(char c)
{
    return int(static_cast<unsigned char>(c)) - '0';
}

QByteArrayView UpToNul(QByteArrayView text)
{
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.first(nul);
}

QString Number(int value)
{
    return QString::number(value);
}

// The unit's code for each entry of the baud rate list ("2400" to "38400").
constexpr int32_t kBaudCodes[] = {129, 65, 32, 15, 7};
constexpr int kBaud19200 = 3;

int BaudCode(int baudIndex)
{
    return baudIndex >= 0 && baudIndex < int(std::size(kBaudCodes)) ? kBaudCodes[baudIndex]
                                                                    : kBaudCodes[kBaud19200];
}

int BaudIndexFromCode(int32_t code)
{
    const int index = BaudListPosition(code);
    return index >= 0 ? index : kBaud19200;
}

} // namespace

int BaudListPosition(int32_t code)
{
    for (int i = 0; i < int(std::size(kBaudCodes)); ++i) {
        if (kBaudCodes[i] == code)
            return i;
    }
    return -1;
}

namespace {

QString AddressLine(const char *code, const std::array<QString, 4> &edits)
{
    return QLatin1String(code) + edits[0] + QLatin1Char('.') + edits[1] + QLatin1Char('.') +
           edits[2] + QLatin1Char('.') + edits[3] + QLatin1String("\r\n");
}

QString NumberLine(const char *code, int value)
{
    return QLatin1String(code) + Number(value) + QLatin1String("\r\n");
}

QString OptionsLine(const SettingsSnapshot &c)
{
    auto flag = [](bool on) { return on ? QLatin1Char('1') : QLatin1Char('0'); };
    QString digits = QStringLiteral("00");
    digits += flag(c.dhcpEnabled);
    digits += flag(c.useBroadcast);
    digits += flag(c.clientEnabled);
    digits += flag(c.serialTimed);
    digits += QLatin1String("00");
    digits += flag(c.enableWatchdog);
    digits += QLatin1String("0000000");
    return QLatin1String("eo") + digits + QLatin1String("\r\n");
}

// "MA" then six numbers, each closed by a comma or by its fourth counted byte.
QString MacText(QByteArrayView text)
{
    QString mac;
    qsizetype p = 1;
    for (int i = 0; i < 6; ++i) {
        int number = 0; // at most four bytes of at most 207 each: no overflow
        int count = 0;
        while (count < 4 && p + 1 < text.size()) {
            const char c = text.at(++p);
            if (c == ',')
                break;
            number = number * 10 + DigitValue(c);
            ++count;
        }
        // A negative number (bytes below "0") shows as its 32-bit two's complement.
        QString hex = QString::number(uint32_t(number), 16).toUpper();
        if (hex.size() < 2)
            hex.prepend(QLatin1Char('0'));
        mac += hex;
        if (i < 5)
            mac += QLatin1Char(':');
    }
    return mac;
}

} // namespace

int32_t AtolSaturating(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && IsCSpace(text.at(i)))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    // Once past the 32-bit range the magnitude stops growing, so the sum cannot overflow.
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text.at(i)); ++i) {
        if (magnitude <= kInt32Max + 1)
            magnitude = magnitude * 10 + (text.at(i) - '0');
    }
    return Saturate32(negative ? -magnitude : magnitude);
}

void BuildSettingsLines(const SettingsSnapshot &controls, bool all, CommandQueue &queue)
{
    queue.Clear();
    if (!controls.dhcpEnabled || all) {
        queue.Add(AddressLine("ni", controls.ip));
        queue.Add(AddressLine("ng", controls.gateway));
        queue.Add(AddressLine("ns", controls.submask));
    }
    if (controls.clientEnabled || all)
        queue.Add(AddressLine("nc", controls.client));
    queue.Add(NumberLine("ba", controls.clientPort));
    queue.Add(NumberLine("bh", controls.serverTimeout));
    queue.Add(NumberLine("bj", controls.updatePeriod));
    queue.Add(OptionsLine(controls));
    for (int k = 0; k < 4; ++k) {
        const QByteArray code = "ax" + QByteArray::number(k + 1);
        queue.Add(NumberLine(code.constData(), controls.hysteresis[k]));
    }
    queue.Add(NumberLine("bb", BaudCode(controls.baudIndex)));
    if (controls.serialTimed || all)
        queue.Add(NumberLine("bt", controls.serialTimedInterval / 10));
    queue.Add(QStringLiteral("zc\r\n"));
}

QByteArrayView SettingsLineText(const QByteArray &line)
{
    QByteArrayView text = UpToNul(line);
    for (qsizetype i = 2; i < text.size(); ++i) {
        if (text.at(i) == '\r')
            return text.first(i);
    }
    return text;
}

SettingsUpdate ParseSettingsLine(const QByteArray &line)
{
    const QByteArrayView text = SettingsLineText(line);
    const char first = ByteAt(text, 0);
    const char second = ByteAt(text, 1);
    SettingsUpdate update;

    switch (first) {
    case 'A':
    case 'a': {
        const char input = ByteAt(text, 2);
        if ((second == 'X' || second == 'x') && input >= '1' && input <= '4') {
            update.kind = SettingsUpdate::Kind::Spin;
            update.spin = SpinId(int(SpinId::Hysteresis1) + (input - '1'));
            update.value = AtolSaturating(TailFrom(text, 3));
        }
        break;
    }
    case 'B':
    case 'b': {
        const int32_t v = AtolSaturating(TailFrom(text, 2));
        auto spin = [&update](SpinId id, int32_t value) {
            update.kind = SettingsUpdate::Kind::Spin;
            update.spin = id;
            update.value = value;
        };
        switch (second) {
        case 'A':
        case 'a':
            spin(SpinId::ClientPort, v);
            break;
        case 'B':
        case 'b':
            update.kind = SettingsUpdate::Kind::Baud;
            update.baudIndex = BaudIndexFromCode(v);
            break;
        case 'H':
        case 'h':
            spin(SpinId::ServerTimeout, v);
            break;
        case 'J':
        case 'j':
            spin(SpinId::UpdatePeriod, v);
            break;
        case 'T':
        case 't':
            spin(SpinId::SerialTimed, Saturate32(int64_t(v) * 10));
            break;
        default:
            break;
        }
        break;
    }
    case 'E':
    case 'e':
        if (second == 'O' || second == 'o') {
            // Digit n of the flags sits at index n + 1; a digit past the end is not "1".
            auto digitOn = [&text](int n) { return ByteAt(text, n + 1) == '1'; };
            update.kind = SettingsUpdate::Kind::Options;
            update.dhcpEnabled = digitOn(3);
            update.useBroadcast = digitOn(4);
            update.clientEnabled = digitOn(5);
            update.timed = digitOn(6);
            update.enableWatchdog = digitOn(9);
        }
        break;
    case 'M':
        if (second == 'A') {
            update.kind = SettingsUpdate::Kind::Mac;
            update.macText = MacText(text);
        }
        break;
    case 'N':
    case 'n':
        update.dottedParsed = true;
        update.dotted = ParseDottedAddress(TailFrom(text, 2));
        switch (second) {
        case 'C':
        case 'c':
            update.group = AddressGroup::Client;
            break;
        case 'G':
        case 'g':
            update.group = AddressGroup::Gateway;
            break;
        case 'I':
        case 'i':
            update.group = AddressGroup::Ip;
            break;
        case 'S':
        case 's':
            update.group = AddressGroup::Submask;
            break;
        default:
            return update;
        }
        update.kind = SettingsUpdate::Kind::Address;
        break;
    default:
        break;
    }
    return update;
}

DottedNumbers ParseDottedAddress(QByteArrayView text)
{
    text = UpToNul(text);
    DottedNumbers numbers{{0, 0, 0, 0}};
    qsizetype start = 0;
    for (int k = 0; k < 3; ++k) {
        int32_t number = 0; // |value| < 208 * 11111 after five bytes
        qsizetype next = start;
        for (qsizetype j = 0; j < 5; ++j) {
            const qsizetype at = start + j;
            if (at >= text.size()) {
                numbers[k] = number;
                return numbers;
            }
            const char c = text.at(at);
            if (c == '.') {
                next = at + 1;
                break;
            }
            number = number * 10 + DigitValue(c);
        }
        numbers[k] = number;
        start = next;
    }
    int32_t last = 0;
    for (qsizetype at = start; at < start + 5 && at < text.size() && IsDigit(text.at(at)); ++at)
        last = last * 10 + (text.at(at) - '0');
    numbers[3] = last;
    return numbers;
}
