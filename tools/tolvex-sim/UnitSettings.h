#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

// The values a unit holds, kept within the unit's own ranges. Values arrive as the text after a
// settings line's code ("3012" of "ba3012") and leave as a query answer ("BA3012").
class UnitSettings
{
public:
    // True for the codes that can be asked for alone: "ax1".."ax4", "ba", "bb", "bh", "bj",
    // "bt", "eo", "ma", "nc", "ng", "ni", "ns" (lower case).
    static bool isValueCode(const QByteArray &code);

    // Splits a line into its lower-case code and the value text after it: "ax" codes take their
    // digit 1..4 along, every other code is two letters. False when the line is too short.
    static bool splitLine(const QByteArray &line, QByteArray *code, QByteArray *value);

    // The answer to a query for `code` (a value code), without its line end: the code in upper
    // case, then the held value. With `wrong` the value is off by one step (held value + 1;
    // "bb" the next baud code; "eo" digit 5 flipped; addresses octet 2 + 1; "ma" last byte + 1),
    // the held value itself stays right.
    QByteArray answer(const QByteArray &code, bool wrong) const;

    // Takes the value of a settings line for `code`. Numbers are clamped into the unit's ranges;
    // a value that does not parse (no digits, an unknown baud code, flags that are not sixteen
    // 0/1 digits, an address that is not four numbers 0..255, a MAC number above 65535) leaves
    // the held value alone. Returns false for a code that holds no value.
    bool store(const QByteArray &code, const QByteArray &value);

private:
    std::array<int, 4> m_hysteresis{{5, 5, 5, 5}};
    int m_clientPort = 3012;
    int m_baudCode = 15;
    int m_connectTimeout = 60;
    int m_updatePeriod = 60;
    int m_timedTenths = 2; // serial timed interval in units of 10 ms
    QByteArray m_flags = QByteArrayLiteral("0001100000000000");
    std::array<std::uint8_t, 6> m_mac{{0, 4, 163, 1, 2, 15}};
    std::array<std::uint8_t, 4> m_ip{{10, 0, 0, 5}};
    std::array<std::uint8_t, 4> m_gateway{{10, 0, 0, 1}};
    std::array<std::uint8_t, 4> m_submask{{255, 255, 255, 0}};
    std::array<std::uint8_t, 4> m_client{{10, 0, 0, 2}};
};
