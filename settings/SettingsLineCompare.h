#pragma once

#include "SettingsTypes.h"

#include <QList>
#include <QString>
#include <QStringList>

// Settings compared as the lines a write sends, so a difference is named by the line that
// would put it right. Both sides go through the same line builder, so spellings that set the
// same value (a leading zero in an address, either case) never count as differences.

struct SettingsLineDifference
{
    QString code;     // "ba"
    QString expected; // the line the expected settings make, without CR LF: "ba3012"
    QString actual;   // the line the actual settings make: "ba3013"
};

// The code of a settings line that sets something ("ax1" to "ax4", "ba", "bb", "bh", "bj",
// "bt", "eo", "nc", "ng", "ni", "ns"), in lower case; empty for any other line ("zc", "ma",
// an unknown code).
QString SettingsLineCode(const QString &line);

// The codes of `lines` (a settings file's lines) that set something, each once, in order.
QStringList SettingsLineCodes(const QStringList &lines);

// Every line of a full write whose code is in `codes` and whose text differs between the two
// settings, in the order the write sends them.
QList<SettingsLineDifference> CompareSettingsLines(const SettingsSnapshot &expected,
                                               const SettingsSnapshot &actual,
                                               const QStringList &codes);
