#pragma once

#include "PoolUrl.h"
#include "exchanges/MacNumberSource.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <functional>
#include <memory>
#include <unordered_map>

// How long a pool may keep a caller waiting. A station must learn within seconds that its pool
// is slow or gone, so the run can fail the unit's step instead of hanging.
struct MacPoolTimeouts
{
    int connectSeconds = 5;      // PostgreSQL connect_timeout
    int statementMs = 5000;      // PostgreSQL statement_timeout and lock_timeout
    int busyMs = 5000;           // SQLite: how long to wait for the file's write lock
    int leaseMs = 5 * 60 * 1000; // how long a reservation holds before it comes back
};

// The states of a number in the pool; the database stores their names.
// free -> reserved -> sent -> confirmed | void; reserved -> free (given back or lease run out).
enum class MacPoolState
{
    Free,
    Reserved,
    Sent,
    Confirmed,
    Void,
    Missing, // not in any range of the pool
};

// What the pool knows of one number: for rework, which keeps a unit's confirmed number.
struct MacPoolLookup
{
    bool ok = false;
    MacPoolState state = MacPoolState::Missing;
    QString address; // confirmed: the address the unit answered
    QString station;
    QString error;
};

struct MacPoolCounts
{
    qint64 free = 0;
    qint64 reserved = 0;
    qint64 leaseExpired = 0; // of reserved: past their lease, given again at the next take
    qint64 sent = 0;
    qint64 confirmed = 0;
    qint64 voided = 0;
    qint64 Total() const { return free + reserved + sent + confirmed + voided; }
};

struct MacPoolStationCounts
{
    QString station;
    MacPoolCounts counts;
};

struct MacPoolStatus
{
    int schemaVersion = 0;
    MacPoolCounts all;
    QList<MacPoolStationCounts> stations; // every station that holds or gave a number
    int nextFree = -1;                    // the lowest free number; -1 none
};

// The latest schema this program knows. Migrations bring older pools up to it; a pool made by a
// newer program is refused rather than guessed at.
// 1: the pool; 2: the production record (record_lines).
constexpr int kMacPoolSchemaVersion = 2;

// One connection to a pool's database and every operation on it, each one short transaction.
// Synchronous: it belongs to one thread (QtSql's rule), the worker thread of a DatabaseMacPool
// or a command-line administration command. A call on a lost connection reconnects first, and
// one whose connection broke midway is repeated once on a fresh one: every operation is safe to
// repeat because each reservation carries a token its holder alone knows.
class MacPoolDatabase
{
public:
    MacPoolDatabase(const PoolUrl &url, const MacPoolTimeouts &timeouts);
    ~MacPoolDatabase();
    MacPoolDatabase(const MacPoolDatabase &) = delete;
    MacPoolDatabase &operator=(const MacPoolDatabase &) = delete;

    // "MAC pool postgresql://line1/tolvex": for every message about this pool.
    QString Describe() const;
    // What the database is to its user, as messages name it ("MAC pool" unless set): the same
    // database may hold a line's pool and its production record.
    void DescribeAs(const QString &subject) { m_subject = subject; }

    // The production record (record_lines). CreateIfMissing makes an SQLite file that does not
    // exist yet with the whole schema, as a missing record file is created; it does nothing to
    // an existing one or to PostgreSQL. CheckRecord: reachable, at this program's schema, and a
    // line can be inserted (tried and rolled back). AppendRecordLine inserts one line, `text` as
    // the record file would hold it, with the columns a report selects on taken from `line`.
    bool CreateIfMissing(QString *error);
    bool CheckRecord(QString *error);
    bool AppendRecordLine(const QJsonObject &line, const QByteArray &text, QString *error);

    // Station side; `token` names one reservation (see DatabaseMacPool).
    MacNumberReply Take(const MacNumberHolder &holder, const QString &token);
    MacNumberReply MarkSent(int number, const QString &token);
    MacNumberReply GiveBack(int number, const QString &token);
    MacNumberReply Confirm(int number, const QString &address);
    MacNumberReply Void(int number, const QString &reason, const QString &token);
    MacNumberReply Check(int number, const QString &token);
    MacNumberReply Claim(int number, const MacNumberHolder &holder, const QString &token);
    MacPoolLookup LookUp(int number);

    // Administration. Initialise creates or migrates the schema (a missing SQLite file is
    // created) and adds first..last (existing numbers keep their state); *added counts new ones.
    bool Initialise(int first, int last, int *added, QString *error);
    bool Status(MacPoolStatus *status, QString *error);
    // Every pool number below `below` that is free or reserved counts as given (confirmed, no
    // address known): a workstation's counter file gave them out before the pool existed.
    bool ImportBelow(int below, const QString &source, int *moved, QString *error);
    // PostgreSQL only: `role` may take numbers and append to the history, nothing more.
    bool GrantStation(const QString &role, QString *error);
    // Reading what a pool's database holds (the production record, for a report): `read` runs on
    // the open connection, outside any transaction and whatever the schema; no file is created.
    bool Read(const std::function<bool(QSqlDatabase db, QString *error)> &read, QString *error);

private:
    enum class Outcome
    {
        Done,      // committed (or nothing to do)
        Tried,     // worked, and rolled back as asked: a check that changes nothing
        SqlFailed, // rolled back; *error says why
    };
    using Work = std::function<Outcome(QString *error)>;

    // A statement of this connection, prepared at its first use and kept until the connection
    // closes: a station runs the same few statements over and over, and the server then parses
    // and plans each once, and a use costs one round trip instead of three. The statement is
    // reset (its result released) when the guard ends, so no read stays open on the file.
    class Prepared
    {
    public:
        Prepared(QSqlQuery *query, std::unique_ptr<QSqlQuery> failed)
            : m_query(query), m_failed(std::move(failed))
        {
        }
        ~Prepared()
        {
            if (m_query)
                m_query->finish();
        }
        Prepared(const Prepared &) = delete;
        Prepared &operator=(const Prepared &) = delete;
        QSqlQuery *operator->() const { return m_query ? m_query : m_failed.get(); }
        // Runs it with the values bound; false with *error when it fails or could not be
        // prepared.
        bool Exec(QString *error);

    private:
        QSqlQuery *m_query;                  // kept by the connection; null if not prepared
        std::unique_ptr<QSqlQuery> m_failed; // one that could not be prepared, for its error
    };
    Prepared Statement(const QString &sql);

    bool Open(bool create, QString *error);
    void Close();
    bool CheckSchema(QString *error);
    // Runs `work` in one transaction (BEGIN IMMEDIATE on SQLite) on an open connection,
    // reconnecting first and repeating once after a broken connection.
    bool Run(const Work &work, bool create, QString *error);
    bool Exec(const QString &sql, QString *error);
    bool Migrate(QString *error);
    bool InsertRecordLine(const QJsonObject &line, const QByteArray &text, QString *error);
    bool AppendHistory(int number, const QString &state, const QString &detail, QString *error);
    MacNumberReply Failed(int number, const QString &error) const;
    // Inside a transaction: the number's row; ok false (and *failure) on an SQL error. `token`
    // is the row's token, for telling one's own reservation from another's.
    MacPoolLookup LookUpHere(int number, QString *failure, QString *token = nullptr,
                             bool *leaseExpired = nullptr);
    QString Now() const; // SQL for the database's clock in ms since 1970

    PoolUrl m_url;
    MacPoolTimeouts m_timeouts;
    QString m_connectionName;
    QString m_subject = QStringLiteral("MAC pool");
    bool m_postgres = false;
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> m_statements;
};

// The text the database stores for a state, and back.
QString MacPoolStateName(MacPoolState state);
MacPoolState MacPoolStateFromName(const QString &name);
