#pragma once

#include "SettingsTypes.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// The checks made before settings are written to the unit.

// 0 to 15 for "0" to "9", "a" to "f" and "A" to "F"; -1 for any other character.
int HexDigitValue(QChar c);

// Converts a whole address-field text to a signed 32-bit number. Accepted: spaces (only the
// space character) at the start, then either a decimal number (optional sign, one or more digits,
// within the 32-bit range) or a hexadecimal one ("$", "x", "X", "0x" or "0X", then one to eight
// hex digits; eight digits may give a negative value). Nothing may follow, not even a space; an
// empty text is refused. On refusal returns false and leaves *value untouched.
bool TextToInt32(const QString &text, int32_t *value);

// Runs the write's checks in a fixed order and returns one log line per failed check (at most
// five); an empty list means the settings may be sent. The address groups are checked whatever
// DHCP and broadcast say, the client address only while the client is enabled.
QStringList ValidateSettings(const SettingsSnapshot &controls);
