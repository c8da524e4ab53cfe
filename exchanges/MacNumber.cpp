#include "MacNumber.h"

#include "settings/SettingsValidation.h"

namespace {

// The value of the hex digit at `index`, or -1 when it is missing or not a hex digit.
int HexDigitAt(const QString &text, qsizetype index)
{
    return index < text.size() ? HexDigitValue(text.at(index)) : -1;
}

} // namespace

bool MacNumberFromBoxes(const QString &box1, const QString &box2, int *n)
{
    const int digits[4] = {HexDigitAt(box1, 0), HexDigitAt(box1, 1), HexDigitAt(box2, 0),
                           HexDigitAt(box2, 1)};
    for (int d : digits) {
        if (d < 0)
            return false;
    }
    *n = digits[0] * 4096 + digits[1] * 256 + digits[2] * 16 + digits[3];
    return true;
}

int MacNumberOfAddress(const QString &macText)
{
    // "..HH:LL": five characters, the separator in the middle.
    if (macText.size() < 5 || macText.at(macText.size() - 3) != QLatin1Char(':'))
        return -1;
    const QString tail = macText.right(5);
    int n = -1;
    if (!MacNumberFromBoxes(tail.left(2), tail.mid(3), &n))
        return -1;
    return n;
}

QString MacAssignmentLine(int n)
{
    return QLatin1String("ma") + QString::number(n) + QLatin1String("\r\n");
}
