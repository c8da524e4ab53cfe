#pragma once

#include "settings/SettingsCompare.h"
#include "settings/SettingsTypes.h"

#include <QByteArray>
#include <QStringList>

// The unit answers every settings line of a write with the value it now holds. This compares one
// answer with the controls as they stand when it arrives and returns one message per difference
// (each ending in one blank), in a fixed order; an empty list means it matched or was not checked.
//
// The answer ends at its first NUL or at its first CR from index 2 on. Its first letter must be
// upper case; the second letter of a "B" answer matches in either case, every other second letter
// only in upper case. Every answer beginning with "N" replaces *dotted, even when no check follows.
// An address box whose text is not a whole number cannot equal any answer and counts as a
// difference.
QStringList CheckWriteEcho(const QByteArray &reply, const SettingsSnapshot &controls,
                           DottedNumbers *dotted);

// One difference CheckWriteEcho finds, with the field it is about, so a host can mark the
// field without reading the message.
struct WriteEchoDifference
{
    SettingsField field;
    QString message;
};

// CheckWriteEcho, each message with its field.
QList<WriteEchoDifference> CheckWriteEchoFields(const QByteArray &reply,
                                                const SettingsSnapshot &controls,
                                                DottedNumbers *dotted);
