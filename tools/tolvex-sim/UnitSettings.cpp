#include "UnitSettings.h"

#include <QList>

#include <algorithm>

namespace {

constexpr int BaudCodes[] = {129, 65, 32, 15, 7};

// Leading blanks, an optional sign, then decimal digits up to the first other character; false
// without digits. Saturates instead of overflowing.
bool ParseLeadingNumber(const QByteArray &text, long long *number)
{
    int i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long n = 0;
    int digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (n < 1000000000000LL)
            n = n * 10 + (text[i] - '0');
    }
    if (digits == 0)
        return false;
    *number = negative ? -n : n;
    return true;
}

bool StoreClamped(const QByteArray &value, int minimum, int maximum, int *held)
{
    long long n = 0;
    if (!ParseLeadingNumber(value, &n))
        return false;
    *held = static_cast<int>(
        qBound(static_cast<long long>(minimum), n, static_cast<long long>(maximum)));
    return true;
}

// Exactly four dot-separated numbers of one to three digits, each 0..255.
bool ParseAddress(const QByteArray &value, std::array<std::uint8_t, 4> *address)
{
    const QList<QByteArray> parts = value.split('.');
    if (parts.size() != 4)
        return false;
    std::array<std::uint8_t, 4> result{};
    for (int k = 0; k < 4; ++k) {
        const QByteArray &part = parts[k];
        if (part.isEmpty() || part.size() > 3)
            return false;
        int n = 0;
        for (char c : part) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + (c - '0');
        }
        if (n > 255)
            return false;
        result[k] = static_cast<std::uint8_t>(n);
    }
    *address = result;
    return true;
}

QByteArray FormatAddress(std::array<std::uint8_t, 4> address, bool wrong)
{
    if (wrong)
        address[1] = static_cast<std::uint8_t>(address[1] + 1);
    QByteArray text;
    for (int k = 0; k < 4; ++k) {
        if (k > 0)
            text += '.';
        text += QByteArray::number(address[k]);
    }
    return text;
}

} // namespace

bool UnitSettings::isValueCode(const QByteArray &code)
{
    static const QByteArray codes[] = {"ax1", "ax2", "ax3", "ax4", "ba", "bb", "bh", "bj",
                                       "bt",  "eo",  "ma",  "nc",  "ng", "ni", "ns"};
    for (const QByteArray &c : codes) {
        if (c == code)
            return true;
    }
    return false;
}

bool UnitSettings::splitLine(const QByteArray &line, QByteArray *code, QByteArray *value)
{
    if (line.size() < 2)
        return false;
    const QByteArray head = line.left(2).toLower();
    int length = 2;
    if (head == "ax" && line.size() >= 3 && line[2] >= '1' && line[2] <= '4')
        length = 3;
    *code = line.left(length).toLower();
    *value = line.mid(length);
    return true;
}

QByteArray UnitSettings::answer(const QByteArray &code, bool wrong) const
{
    const int bump = wrong ? 1 : 0;
    const QByteArray upper = code.toUpper();
    if (code.startsWith("ax"))
        return upper + QByteArray::number(m_hysteresis[code[2] - '1'] + bump);
    if (code == "ba")
        return upper + QByteArray::number(m_clientPort + bump);
    if (code == "bh")
        return upper + QByteArray::number(m_connectTimeout + bump);
    if (code == "bj")
        return upper + QByteArray::number(m_updatePeriod + bump);
    if (code == "bt")
        return upper + QByteArray::number(m_timedTenths + bump);
    if (code == "bb") {
        int shown = m_baudCode;
        if (wrong) {
            for (int i = 0; i < 5; ++i) {
                if (BaudCodes[i] == m_baudCode)
                    shown = BaudCodes[(i + 1) % 5];
            }
        }
        return upper + QByteArray::number(shown);
    }
    if (code == "eo") {
        QByteArray flags = m_flags;
        if (wrong)
            flags[4] = flags[4] == '1' ? '0' : '1'; // digit 5, Enable Client
        return upper + flags;
    }
    if (code == "ma") {
        QByteArray text = upper;
        for (int k = 0; k < 6; ++k) {
            const int n = (k == 5 && wrong) ? (m_mac[k] + 1) & 0xFF : m_mac[k];
            text += QByteArray::number(n) + ',';
        }
        return text;
    }
    if (code == "ni")
        return upper + FormatAddress(m_ip, wrong);
    if (code == "ng")
        return upper + FormatAddress(m_gateway, wrong);
    if (code == "ns")
        return upper + FormatAddress(m_submask, wrong);
    if (code == "nc")
        return upper + FormatAddress(m_client, wrong);
    return QByteArray();
}

bool UnitSettings::store(const QByteArray &code, const QByteArray &value)
{
    if (code.startsWith("ax") && code.size() == 3) {
        StoreClamped(value, 0, 1024, &m_hysteresis[code[2] - '1']);
    } else if (code == "ba") {
        StoreClamped(value, 1, 65535, &m_clientPort);
    } else if (code == "bh") {
        StoreClamped(value, 1, 1000, &m_connectTimeout);
    } else if (code == "bj") {
        StoreClamped(value, 1, 1000, &m_updatePeriod);
    } else if (code == "bt") {
        StoreClamped(value, 2, 200, &m_timedTenths);
    } else if (code == "bb") {
        long long n = 0;
        if (ParseLeadingNumber(value, &n)) {
            for (int known : BaudCodes) {
                if (n == known)
                    m_baudCode = known;
            }
        }
    } else if (code == "eo") {
        if (value.size() == 16 && value.count('0') + value.count('1') == 16)
            m_flags = value;
    } else if (code == "ma") {
        // Only the last two bytes are the unit's own to change: n >> 8 and n & 255.
        long long n = 0;
        const bool digitsOnly =
            !value.isEmpty() && value.size() <= 5 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digitsOnly && ParseLeadingNumber(value, &n) && n <= 65535) {
            m_mac[4] = static_cast<std::uint8_t>(n >> 8);
            m_mac[5] = static_cast<std::uint8_t>(n & 0xFF);
        }
    } else if (code == "ni") {
        ParseAddress(value, &m_ip);
    } else if (code == "ng") {
        ParseAddress(value, &m_gateway);
    } else if (code == "ns") {
        ParseAddress(value, &m_submask);
    } else if (code == "nc") {
        ParseAddress(value, &m_client);
    } else {
        return false;
    }
    return true;
}
