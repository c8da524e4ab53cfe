#pragma once

#include "SettingsTypes.h"
#include "SortedStringList.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>

// The settings command lines: one code, the value with no separator, then CR LF. The same
// lines go to the unit, into settings files, and come back from both.

// Reads a decimal number the way C's atol does (leading white space, an optional sign, digits up
// to the first other byte; no digits give 0), but a value beyond the 32-bit range saturates at
// INT32_MIN / INT32_MAX instead of overflowing. Never reads outside `text`.
int32_t AtolSaturating(QByteArrayView text);

// Empties `queue` and adds the settings lines of `controls`, each ending in CR LF. With `all`
// false the address lines and the timed-interval line are left out where the check boxes make
// them meaningless; with `all` true all 15 lines go in. The queue sorts them, so they leave as
// ax1 ... ax4, ba, bb, bh, bj, bt, eo, nc, ng, ni, ns, zc whatever the order of adding.
void BuildSettingsLines(const SettingsSnapshot &controls, bool all, CommandQueue &queue);

// What one line from the unit or from a settings file asks of the controls; a line that is not
// recognised gives Kind::None. The line may carry its CR LF or not; a NUL byte ends it, as it
// would a C string, so bytes after it are never looked at. Values are passed on unclamped (the
// spin edits clamp them).
SettingsUpdate ParseSettingsLine(const QByteArray &line);

// The baud rate list's position (0 for "2400" to 4 for "38400") of a baud code the unit uses
// (129, 65, 32, 15, 7); -1 for any other code.
int BaudListPosition(int32_t code);

// Reads a dotted address a.b.c.d into four numbers. Numbers 1 to 3 take at most five bytes each;
// a "." ends them and every other byte counts as a digit (code minus 48, no check). When no "."
// comes within the five bytes, the next number re-reads from where this one began (number 1
// included, so one rule covers all three). Number 4 takes at most five real digits. The end of the
// text (or a NUL byte) ends every number, and numbers it does not reach stay 0. Five bytes of at
// most 255 - 48 each stay far inside 32 bits, so no input can overflow.
DottedNumbers ParseDottedAddress(QByteArrayView text);

// The text of a settings line or reply up to its end: the first NUL byte ends it, and so does the
// first CR found at index 2 or later (a CR at index 0 or 1 stays part of the text, as the unit's
// parser sees it).
QByteArrayView SettingsLineText(const QByteArray &line);

// The byte at `index`, or 0 past the end, so fixed positions can be tested on short lines.
inline char ByteAt(QByteArrayView text, qsizetype index)
{
    return index >= 0 && index < text.size() ? text.at(index) : '\0';
}

// The part of `text` from `index` on, empty when `index` is past the end.
inline QByteArrayView TailFrom(QByteArrayView text, qsizetype index)
{
    return index < text.size() ? text.sliced(index) : QByteArrayView();
}
