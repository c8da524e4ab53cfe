#include "SettingsValidation.h"

#include <limits>

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

namespace {

bool ParseHex(const QString &text, qsizetype i, int32_t *value)
{
    const qsizetype digits = text.size() - i;
    if (digits < 1 || digits > 8)
        return false;
    uint32_t result = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigitValue(text.at(i));
        if (d < 0)
            return false;
        result = result * 16 + uint32_t(d);
    }
    *value = int32_t(result); // eight digits wrap into the negative range by design
    return true;
}

bool ParseDecimal(const QString &text, qsizetype i, int32_t *value)
{
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i >= text.size())
        return false;
    const int64_t limit = negative ? int64_t(std::numeric_limits<int32_t>::max()) + 1
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (u < '0' || u > '9')
            return false;
        magnitude = magnitude * 10 + (u - '0');
        if (magnitude > limit)
            return false;
    }
    *value = int32_t(negative ? -magnitude : magnitude);
    return true;
}

// True when all four fields of a group convert.
bool GroupValid(const std::array<QString, 4> &fields)
{
    int32_t ignored = 0;
    for (const QString &field : fields) {
        if (!TextToInt32(field, &ignored))
            return false;
    }
    return true;
}

} // namespace

bool TextToInt32(const QString &text, int32_t *value)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text.at(i);
    if (c == QLatin1Char('$') || c == QLatin1Char('x') || c == QLatin1Char('X'))
        return ParseHex(text, i + 1, value);
    if (c == QLatin1Char('0') && i + 1 < text.size() &&
        (text.at(i + 1) == QLatin1Char('x') || text.at(i + 1) == QLatin1Char('X')))
        return ParseHex(text, i + 2, value);
    return ParseDecimal(text, i, value);
}

QStringList ValidateSettings(const SettingsSnapshot &controls)
{
    QStringList log;
    if (!GroupValid(controls.ip))
        log << QStringLiteral("Invalid IP Address");
    if (!GroupValid(controls.gateway))
        log << QStringLiteral("Invalid Gateway Address");
    if (!GroupValid(controls.submask))
        log << QStringLiteral("Invalid Submask");
    if (controls.clientEnabled && !GroupValid(controls.client))
        log << QStringLiteral("Invalid Client Address");
    if (controls.updatePeriod >= controls.serverTimeout)
        log << QStringLiteral("Connect Timeout must be greater than Connect Update Period");
    return log;
}
