#pragma once

#include "ProductionRecord.h"
#include "pool/MacPoolDatabase.h"

#include <memory>

// The production record in the record_lines table of an SQLite or PostgreSQL database (the
// pool's, or one of its own): the same lines the file would hold, one short transaction each,
// on a thread and connection of its own, so a slow or lost database holds up no port. A line
// fails within the time-outs; a lost connection is opened again at the next line.
class DatabaseProductionRecord : public ProductionRecord
{
public:
    DatabaseProductionRecord(const PoolUrl &url, const MacPoolTimeouts &timeouts = {});
    // Writes the lines appended before, then closes the connection on its own thread.
    ~DatabaseProductionRecord() override;

    QString Name() const override { return PoolUrlText(m_url); }
    void Append(const QJsonObject &line, QObject *context, Done done) override;

private:
    PoolUrl m_url;
    MacPoolTimeouts m_timeouts;
    std::shared_ptr<std::unique_ptr<MacPoolDatabase>> m_database; // touched on the thread only
    RecordThread m_thread;
};

// What --record names: a JSON Lines file (a path, or file:PATH), sqlite:PATH or a PostgreSQL
// URL (PoolUrl.h). Paths come back absolute. False with *error for one this program cannot
// use (a password in it, among others).
bool ParseRecordUrl(const QString &text, PoolUrl *url, QString *error);

// "production record sqlite:/var/lib/line1.db", for messages about a record in a database.
QString RecordDescription(const PoolUrl &url);

// The check before a run sends anything, synchronous (before the event loop runs): a file can
// be appended to; a database can be reached, is at this program's schema and takes a line.
// `create`: an SQLite file that does not exist is made with the schema (a run; --check makes
// nothing and only checks that its folder takes one). *exitStatus 64 for an unusable URL,
// 3 otherwise.
bool CheckProductionRecord(const QString &text, bool create, QString *name, int *exitStatus,
                           QString *error, const MacPoolTimeouts &timeouts = {});

// The record a checked URL names, ready to append to; null with *error.
std::unique_ptr<ProductionRecord> OpenProductionRecord(const QString &text, QString *error,
                                                       const MacPoolTimeouts &timeouts = {});
