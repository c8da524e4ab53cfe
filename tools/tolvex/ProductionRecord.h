#pragma once

#include "link/ThreadHandOff.h"
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <QThread>
#include <functional>

// The production record as a run writes it: one JSON line per unit and round start, step and
// verdict, to a JSON Lines file or a database (DatabaseRecord.h). Writing a line may wait (for
// a lock, a disk, a server), so an append never blocks the caller: it answers exactly once,
// on the event loop of the thread that made the record and never from inside the call, and
// not at all when `context` is gone by then. Lines are written one after another, in the
// order appended. The record outlives every context it answers.
class ProductionRecord
{
public:
    // An empty error: the line is written (synced, or committed).
    using Done = std::function<void(const QString &error)>;
    virtual ~ProductionRecord() = default;
    // How the record lines name the record: the absolute file, or the database's URL without
    // any password.
    virtual QString Name() const = 0;
    virtual void Append(const QJsonObject &line, QObject *context, Done done) = 0;
};

// Runs a record's writes in order on a thread of its own, and carries each answer back to the
// thread that made it.
class RecordThread
{
public:
    explicit RecordThread(const QString &name);
    // Writes every line posted before, then stops the thread.
    ~RecordThread();
    RecordThread(const RecordThread &) = delete;
    RecordThread &operator=(const RecordThread &) = delete;

    void Post(QObject *context, std::function<QString()> write, ProductionRecord::Done done);
    // Runs `last` on the thread after every write posted before (closing what it opened there).
    void Finish(std::function<void()> last);

private:
    QThread m_thread;
    HandOffQueue *m_worker = nullptr; // lives on m_thread
    HandOffQueue m_relay;             // lives on the making thread; answers are posted to it
    bool m_finished = false;
};

// The JSON Lines file, synchronously: one line appended to a file that any number of processes
// may append to at once. Every line is appended on its own opening of the file (so a record
// rotated away meanwhile gets new lines in the new file), under an exclusive lock of the file,
// and synced to the disk before it counts as written. A line that could not be written whole
// is cut off again under the same lock, so the next line, from any process, starts on a line
// of its own.
class RecordFile
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

// The record in a JSON Lines file, written on a thread of its own so a slow disk or another
// process's lock never holds up the ports.
class FileProductionRecord : public ProductionRecord
{
public:
    // `file` is open already.
    explicit FileProductionRecord(const RecordFile &file, const QString &absolutePath);
    QString Name() const override { return m_name; }
    void Append(const QJsonObject &line, QObject *context, Done done) override;

private:
    RecordFile m_file; // used on the thread only
    QString m_name;
    RecordThread m_thread;
};
