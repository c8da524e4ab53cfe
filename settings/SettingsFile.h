#pragma once

#include "SettingsTypes.h"
#include "SortedStringList.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Settings files: the settings lines, one per line, in the order the command queue keeps them.

// Puts `lines` into a fresh queue as one-by-one sorted insertion would (case-insensitive order,
// a case-insensitive repeat dropped so the first spelling stays), but in O(n log n): a
// hand-written or hostile file of many lines must not take quadratic time.
CommandQueue SortedQueueFromLines(const QStringList &lines);

// The update each non-empty queue line asks for, in queue order (lines that change nothing give
// Kind::None, which still carries the dotted numbers of an N line).
QList<SettingsUpdate> ParseQueueLines(const CommandQueue &queue);

// Loads a settings file: on success the file's lines become the whole of `queue` and *updates
// receives what they ask of the controls, to be applied in order. A file that cannot be read
// changes nothing and gives "Cannot open file <path>".
bool LoadSettingsFile(const QString &path, CommandQueue &queue, QList<SettingsUpdate> *updates,
                      QString *error);

// The same for file bytes already in memory; any bytes are accepted.
void LoadSettingsBytes(const QByteArray &bytes, CommandQueue &queue,
                       QList<SettingsUpdate> *updates);

// Writes the queue, each entry followed by CR LF, replacing the file atomically. Queue entries
// built for sending already end in CR LF, so every settings line is followed by an empty line.
// On failure the old file stays whole and *error is "Cannot create file <path>".
bool SaveSettingsFile(const QString &path, const CommandQueue &queue, QString *error);

// The bytes SaveSettingsFile writes, for a file printed rather than saved.
QByteArray SettingsFileBytes(const CommandQueue &queue);
