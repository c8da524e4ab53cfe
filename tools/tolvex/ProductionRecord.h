#pragma once

#include <QJsonObject>
#include <QString>

// The production record: one JSON line per unit and step, appended to a file that any number
// of processes may append to at once. Each line goes out in one write on a descriptor opened
// for appending, under an exclusive lock of the file, so lines are never cut or interleaved.
class ProductionRecord
{
public:
    ProductionRecord() = default;
    ~ProductionRecord();
    ProductionRecord(const ProductionRecord &) = delete;
    ProductionRecord &operator=(const ProductionRecord &) = delete;

    // Opens (creating) the file for appending; false with a message naming it.
    bool Open(const QString &path, QString *error);
    bool IsOpen() const;
    // Appends one line; false with a message when it could not be written whole.
    bool Append(const QJsonObject &line, QString *error);

private:
    QString m_path;
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
