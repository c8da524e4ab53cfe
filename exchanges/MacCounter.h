#pragma once

#include <QString>

// The MAC counter file as a counter shared by every program on the workstation: the window
// (which keeps its two boxes in it) and any number of production tool processes. The number
// its two lines make (see MacNumber.h) is the next one to give. Every change to it is one step
// under an exclusive lock on a lock file beside it, so no two takers ever get the same number,
// and the file is replaced whole, so a crash never leaves half a counter.

// The counter file both programs use unless told otherwise.
QString DefaultMacCounterPath();

// The lock file: the counter's path with ".lock" appended. It stays once made.
QString MacCounterLockPath(const QString &counterPath);

// A counter holding this number has none left: FFFF is never given.
constexpr int kMacCounterExhausted = 0xFFFF;

// The box texts for `n` (0 to 65535): two upper-case hexadecimal digits each.
void MacNumberToBoxes(int n, QString *box1, QString *box2);

// Takes the number the counter holds and advances the file to the next one. False, with the
// file unchanged and *error naming the file, when it is missing, cannot be read, holds no
// number (it must hold exactly two lines that make one), is at FFFF, or cannot be written.
bool TakeMacNumber(const QString &path, int *number, QString *error);

// The number TakeMacNumber would take now, without taking it; false with the same messages.
// For checks before anything is sent.
bool PeekMacNumber(const QString &path, int *number, QString *error);

// Gives back a number that was taken but never sent: the file goes back to `number` only while
// it still holds the number after it, so nothing taken since is handed out twice. False when
// the counter has moved on (the number is then left unused) or the file could not be changed.
bool ReturnMacNumber(const QString &path, int number);

// A number given without taking it (typed by the operator): a counter holding `number` or less
// is moved past it, a higher one is left as it is. A missing file is no error (the workstation
// keeps no counter); one that cannot be read or written is.
bool NoteMacNumberGiven(const QString &path, int number, QString *error);

enum class MacCounterStore
{
    Written,    // the boxes were written as they stand
    KeptHigher, // the file holds a higher number than the boxes (or the boxes make none)
    NoFile,     // there is no counter file: nothing is written
    Failed,     // *error says why
};

// The window's close: writes its two box texts to the counter, unless that would move the
// counter back below a number it holds (given out meanwhile by a production tool), or replace
// its number with texts that make none. A file that holds no number is rewritten.
MacCounterStore StoreMacCounterBoxes(const QString &path, const QString &box1, const QString &box2,
                                     QString *error);
