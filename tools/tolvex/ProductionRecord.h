#pragma once

#include <QJsonObject>
#include <QString>

// The production record: one JSON line per unit and step, appended to a file that any number
// of processes may append to at once. Every line is appended on its own opening of the file
// (so a record rotated away meanwhile gets new lines in the new file), under an exclusive lock
// of the file, and synced to the disk before it counts as written. A line that could not be
// written whole is cut off again under the same lock, so the next line, from any process,
// starts on a line of its own.
class ProductionRecord
{
public:
    // Makes sure the file can be opened for appending (creating it when missing); false with a
    // message naming it.
    bool Open(const QString &path, QString *error);
    bool IsOpen() const { return !m_path.isEmpty(); }
    // Appends one line; false with a message when it could not be locked, written whole or
    // synced. Nothing of a failed line stays in the file.
    bool Append(const QJsonObject &line, QString *error);

private:
    QString m_path;
};
