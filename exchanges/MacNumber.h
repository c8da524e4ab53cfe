#pragma once

#include <QString>

// The number a unit is given as the last part of its MAC address: two hex digits from each of
// two boxes (the window's, and the counter file's two lines).

// Reads the first two characters of each box as hex digits (box1[0], box1[1], box2[0], box2[1];
// the first bad or missing one refuses) and sets *n = d1*4096 + d2*256 + d3*16 + d4. Characters
// after the second of each box are ignored. On refusal *n is untouched.
bool MacNumberFromBoxes(const QString &box1, const QString &box2, int *n);

// The number a MAC address text ends with ("00:04:A3:01:12:AB" gives 0x12AB): its last two
// bytes. -1 when the text does not end in two ":"-separated pairs of hex digits.
int MacNumberOfAddress(const QString &macText);

// The line that asks the unit to take number `n`: "ma", n in decimal, CR LF.
QString MacAssignmentLine(int n);
