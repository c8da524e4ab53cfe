#pragma once

#include "SettingsTypes.h"

#include <QList>
#include <QString>
#include <QStringList>

// Settings differences shown as the lines a write sends, so a difference is named by the line
// that would put it right. The differences themselves are CompareSettings' (the one comparison
// the window's marks use too); spellings that set the same value never count.

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

// The lines of a full write whose code is in `codes` and that carry a field CompareSettings
// finds different, in the order the write sends them; each side's line is built from its
// settings as the unit holds them.
QList<SettingsLineDifference> CompareSettingsLines(const SettingsSnapshot &expected,
                                                   const SettingsSnapshot &actual,
                                                   const QStringList &codes);
