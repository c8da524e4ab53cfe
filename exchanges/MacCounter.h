#pragma once

#include "MacNumberSource.h"

#include <QString>

#include <atomic>

// The MAC counter file as a counter shared by every program on the workstation: the window and
// any number of production tool processes, under any operator account. The number its two
// lines make (see MacNumber.h) is the next one to give; an empty file (as made by hand to set
// up a workstation) stands for 0000. Every change is one step under an exclusive lock on a lock
// file beside it, so no two takers ever get the same number; the file is replaced whole and
// its folder synced, so neither a crash nor a power cut leaves half a counter or brings back an
// older number. A file that holds anything else is never changed here: every call refuses it,
// naming it. These calls may wait for the lock; FileMacNumberSource runs them off the caller's
// thread.

// The counter file both programs use unless told otherwise.
QString DefaultMacCounterPath();

// The lock file: the counter's path with ".lock" appended. It stays once made.
QString MacCounterLockPath(const QString &counterPath);

// A counter holding this number has none left: FFFF is never given.
constexpr int kMacCounterExhausted = 0xFFFF;

// The box texts for `n` (0 to 65535): two upper-case hexadecimal digits each.
void MacNumberToBoxes(int n, QString *box1, QString *box2);

// `n` as messages name it: "12:AB".
QString MacNumberText(int n);

// How long a change waits for the lock, and what ends the wait early.
struct MacCounterWait
{
    int timeoutMs = 5000;
    const std::atomic_bool *stop = nullptr; // true: give up at once (the program is ending)
};

// Takes the number the counter holds and advances the file to the next one (reply.number,
// reply.next). Refused, the file unchanged and reply.error naming it, when it is missing,
// cannot be read, holds no number, is at FFFF, cannot be written or stays locked too long.
MacNumberReply TakeMacNumber(const QString &path, const MacCounterWait &wait = {});

// Gives back a number that was taken but never sent: the file goes back to `number` only while
// it still holds the number after it, so nothing taken since is handed out twice. Not ok when
// the counter has moved on (the number is then left unused) or the file could not be changed.
MacNumberReply ReturnMacNumber(const QString &path, int number, const MacCounterWait &wait = {});

// Whether `number` was given out already (it lies below the counter) and the counter's number,
// without the lock: the file is only ever replaced whole.
MacNumberReply CheckMacNumber(const QString &path, int number);

// A typed number is about to be sent: a counter at or below it moves past it (FFFF stays
// FFFF); one above it stays, and the reply says the number was given before.
MacNumberReply ClaimMacNumber(const QString &path, int number, const MacCounterWait &wait = {});
