#pragma once

#include <QString>
#include <QStringList>

// The strict reading of a settings file that a production station sends unattended. The
// window's "Load File" stays lenient (it reads what the unit's own parser would, and the spin
// edits clamp); a station must not send a line whose value the unit would take differently
// from what the file says, so every line must be one "Save File" can write, with every value in
// its field's range.

// The problems of one settings file's lines, one message per bad line:
// "<path>, line <n>: <what is wrong>". Empty lines are allowed; an empty list means the file
// is sound.
QStringList SettingsFileProblems(const QString &path, const QStringList &lines);

// Reads the file and checks it; false with *error naming the file (and each bad line) when it
// cannot be read or is not sound.
bool CheckSettingsFileStrictly(const QString &path, QString *error);
