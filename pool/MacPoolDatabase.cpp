#include "MacPoolDatabase.h"

#include "exchanges/MacCounter.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace {

QAtomicInt g_connectionCount;

QString QueryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
}

// SQLite's answer when another connection holds the write lock (or, rarely, a reader meets a
// writer's checkpoint): the transaction is tried again, not failed.
bool IsBusy(const QString &error)
{
    return error.contains(QLatin1String("database is locked"));
}

// Migration n is the list of statements that brings a pool from schema n-1 to n; the first
// creates it all. Each dialect has its own spelling of the same tables.
QList<QStringList> Migrations(bool postgres)
{
    const QString id = postgres ? QStringLiteral("id BIGSERIAL PRIMARY KEY")
                                : QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT");
    QStringList first = {
        QStringLiteral("CREATE TABLE schema_version (version INTEGER PRIMARY KEY, "
                       "applied_ms BIGINT NOT NULL)"),
        // One row per number of the pool; the state names its stage of life. The holder's
        // columns stay after it went out, so status can count per station.
        QStringLiteral(
            "CREATE TABLE mac_numbers ("
            " number INTEGER PRIMARY KEY CHECK (number >= 0 AND number < 65535),"
            " state TEXT NOT NULL CHECK (state IN "
            "('free', 'reserved', 'sent', 'confirmed', 'void')),"
            " station TEXT, port TEXT, run_id TEXT,"
            " token TEXT," // the reservation's secret: only its holder may send or return it
            " lease_until_ms BIGINT,"
            " changed_ms BIGINT NOT NULL,"
            " address TEXT,"  // confirmed: the address the unit answered
            " reason TEXT)"), // void: why the step failed; imported: where from
        QStringLiteral("CREATE INDEX mac_numbers_by_state ON mac_numbers (state, number)"),
        QStringLiteral("CREATE INDEX mac_numbers_by_lease ON mac_numbers (lease_until_ms) "
                       "WHERE state = 'reserved'"),
        // Every change of every number, appended only.
        QStringLiteral("CREATE TABLE mac_history (%1, number INTEGER NOT NULL, "
                       "state TEXT NOT NULL, station TEXT, port TEXT, run_id TEXT, "
                       "at_ms BIGINT NOT NULL, detail TEXT)")
            .arg(id),
        QStringLiteral("CREATE INDEX mac_history_by_number ON mac_history (number)"),
    };
    // A number that went out never comes back, whoever asks: the database refuses it.
    if (postgres) {
        first << QStringLiteral(
                     "CREATE FUNCTION mac_numbers_keep_given() RETURNS trigger "
                     "LANGUAGE plpgsql AS $$ BEGIN "
                     "IF OLD.state IN ('sent', 'confirmed', 'void') AND (TG_OP = 'DELETE' "
                     "OR NEW.state IN ('free', 'reserved') OR NEW.number <> OLD.number) THEN "
                     "RAISE EXCEPTION 'MAC number % was given out (%) and is never given "
                     "again', OLD.number, OLD.state; END IF; "
                     "IF TG_OP = 'DELETE' THEN RETURN OLD; END IF; RETURN NEW; END $$")
              << QStringLiteral("CREATE TRIGGER mac_numbers_keep_given BEFORE UPDATE OR DELETE "
                                "ON mac_numbers FOR EACH ROW "
                                "EXECUTE FUNCTION mac_numbers_keep_given()");
    } else {
        first << QStringLiteral(
                     "CREATE TRIGGER mac_numbers_keep_given BEFORE UPDATE ON mac_numbers "
                     "WHEN OLD.state IN ('sent', 'confirmed', 'void') AND (NEW.state IN "
                     "('free', 'reserved') OR NEW.number <> OLD.number) BEGIN SELECT "
                     "RAISE(ABORT, 'a MAC number given out is never given again'); END")
              << QStringLiteral("CREATE TRIGGER mac_numbers_keep_given_rows BEFORE DELETE ON "
                                "mac_numbers WHEN OLD.state IN ('sent', 'confirmed', 'void') "
                                "BEGIN SELECT RAISE(ABORT, 'a MAC number given out is never "
                                "given again'); END");
    }
    // Schema 2: the production record. Every line the record file would hold, whole (`line`,
    // JSON as the file has it), with the fields a report selects and groups by in columns of
    // their own. Appended only: no program changes or removes a line.
    QStringList record = {
        QStringLiteral("CREATE TABLE record_lines (%1,"
                       " time_ms BIGINT NOT NULL," // the line's `time`, ms since 1970 (UTC)
                       " kind TEXT NOT NULL CHECK (kind IN ('start', 'step', 'unit')),"
                       " run_id TEXT NOT NULL, station TEXT NOT NULL, port TEXT NOT NULL,"
                       " round INTEGER NOT NULL,"
                       " step TEXT,"          // step lines
                       " result TEXT,"        // step and unit lines
                       " failed_step TEXT,"   // unit lines that did not succeed
                       " message TEXT,"       // step and unit lines
                       " duration_ms BIGINT," // step and unit lines
                       " mac_sent INTEGER,"   // the number whose "ma" line went out
                       " line TEXT NOT NULL)")
            .arg(id),
        QStringLiteral("CREATE INDEX record_lines_by_time ON record_lines (time_ms)"),
        QStringLiteral("CREATE INDEX record_lines_by_unit ON record_lines (run_id, port, round)"),
    };
    if (postgres) {
        record << QStringLiteral("CREATE FUNCTION record_lines_append_only() RETURNS trigger "
                                 "LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'the production "
                                 "record is appended to only'; END $$")
               << QStringLiteral("CREATE TRIGGER record_lines_append_only BEFORE UPDATE OR "
                                 "DELETE ON record_lines FOR EACH ROW "
                                 "EXECUTE FUNCTION record_lines_append_only()");
    } else {
        record << QStringLiteral("CREATE TRIGGER record_lines_no_update BEFORE UPDATE ON "
                                 "record_lines BEGIN SELECT RAISE(ABORT, 'the production "
                                 "record is appended to only'); END")
               << QStringLiteral("CREATE TRIGGER record_lines_no_delete BEFORE DELETE ON "
                                 "record_lines BEGIN SELECT RAISE(ABORT, 'the production "
                                 "record is appended to only'); END");
    }
    return {first, record};
}

} // namespace

QString MacPoolStateName(MacPoolState state)
{
    switch (state) {
    case MacPoolState::Free:
        return QStringLiteral("free");
    case MacPoolState::Reserved:
        return QStringLiteral("reserved");
    case MacPoolState::Sent:
        return QStringLiteral("sent");
    case MacPoolState::Confirmed:
        return QStringLiteral("confirmed");
    case MacPoolState::Void:
        return QStringLiteral("void");
    case MacPoolState::Missing:
        break;
    }
    return QString();
}

MacPoolState MacPoolStateFromName(const QString &name)
{
    for (MacPoolState s : {MacPoolState::Free, MacPoolState::Reserved, MacPoolState::Sent,
                           MacPoolState::Confirmed, MacPoolState::Void}) {
        if (MacPoolStateName(s) == name)
            return s;
    }
    return MacPoolState::Missing;
}

MacPoolDatabase::MacPoolDatabase(const PoolUrl &url, const MacPoolTimeouts &timeouts)
    : m_url(url), m_timeouts(timeouts),
      m_connectionName(
          QStringLiteral("tolvex-pool-%1").arg(g_connectionCount.fetchAndAddRelaxed(1))),
      m_postgres(url.kind == PoolUrl::Kind::Postgres)
{
}

MacPoolDatabase::~MacPoolDatabase()
{
    Close();
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QString MacPoolDatabase::Describe() const
{
    return m_subject + QLatin1Char(' ') + PoolUrlText(m_url);
}

QString MacPoolDatabase::Now() const
{
    return m_postgres
               ? QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)")
               : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER)");
}

bool MacPoolDatabase::Open(bool create, QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (db.isValid() && db.isOpen())
        return true;
    if (!db.isValid()) {
        const QString driver = m_postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
        if (!QSqlDatabase::isDriverAvailable(driver)) {
            *error = QStringLiteral("the Qt SQL driver %1 is not installed (Debian: %2)")
                         .arg(driver, m_postgres ? QStringLiteral("libqt6sql6-psql")
                                                 : QStringLiteral("libqt6sql6-sqlite"));
            return false;
        }
        db = QSqlDatabase::addDatabase(driver, m_connectionName);
    }
    if (m_postgres) {
        db.setHostName(m_url.host);
        db.setPort(m_url.port);
        db.setUserName(m_url.user);
        db.setDatabaseName(m_url.database);
        // No password is ever set here: the client library reads ~/.pgpass, PGPASSWORD or
        // the service file itself. Keep-alives notice a server that vanished mid-statement.
        QStringList options = {QStringLiteral("connect_timeout=%1").arg(m_timeouts.connectSeconds),
                               QStringLiteral("application_name=tolvex")};
        if (!m_url.host.startsWith(QLatin1Char('/')) && !m_url.host.isEmpty())
            options << QStringLiteral("keepalives_idle=5")
                    << QStringLiteral("keepalives_interval=2")
                    << QStringLiteral("keepalives_count=3");
        if (!m_url.sslMode.isEmpty())
            options << QStringLiteral("sslmode=") + m_url.sslMode;
        db.setConnectOptions(options.join(QLatin1Char(';')));
    } else {
        if (!create && !QFileInfo::exists(m_url.path)) {
            *error = QStringLiteral("there is no pool file %1; make it with 'tolvex pool init'")
                         .arg(m_url.path);
            return false;
        }
        db.setDatabaseName(m_url.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_timeouts.busyMs));
    }
    if (!db.open()) {
        QString why = db.lastError().databaseText().trimmed();
        if (why.isEmpty())
            why = db.lastError().text().trimmed();
        *error =
            QStringLiteral("cannot connect: ") + why.replace(QLatin1Char('\n'), QLatin1Char(' '));
        db.close();
        return false;
    }
    const QStringList setup =
        m_postgres
            ? QStringList{QStringLiteral("SET statement_timeout = %1").arg(m_timeouts.statementMs),
                          QStringLiteral("SET lock_timeout = %1").arg(m_timeouts.statementMs),
                          QStringLiteral("SET idle_in_transaction_session_timeout = %1")
                              .arg(m_timeouts.statementMs * 4)}
            // A number marked sent must survive a power cut: every commit reaches the disk.
            // SQLite's own wait for a lock sleeps ever longer (up to 100 ms a try), so under many
            // stations a waiter keeps missing the moments the lock is free; Run waits instead.
            : QStringList{QStringLiteral("PRAGMA journal_mode = WAL"),
                          QStringLiteral("PRAGMA synchronous = FULL"),
                          QStringLiteral("PRAGMA busy_timeout = 0")};
    for (const QString &sql : setup) {
        if (!Exec(sql, error)) {
            Close();
            return false;
        }
    }
    return true;
}

MacPoolDatabase::Prepared MacPoolDatabase::Statement(const QString &sql)
{
    std::unique_ptr<QSqlQuery> &query = m_statements[sql];
    if (!query) {
        auto prepared =
            std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connectionName, false));
        if (!prepared->prepare(sql)) {
            m_statements.erase(sql);
            return Prepared(nullptr, std::move(prepared));
        }
        query = std::move(prepared);
    }
    return Prepared(query.get(), nullptr);
}

bool MacPoolDatabase::Prepared::Exec(QString *error)
{
    if (!m_query || !m_query->exec()) {
        *error = QueryError(*operator->());
        return false;
    }
    return true;
}

void MacPoolDatabase::Close()
{
    m_statements.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (db.isValid())
        db.close();
}

bool MacPoolDatabase::Exec(const QString &sql, QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.exec(sql)) {
        *error = QueryError(query);
        return false;
    }
    return true;
}

bool MacPoolDatabase::CheckSchema(QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        *error = QStringLiteral("it is not set up as a %1 (%2); run 'tolvex pool init'")
                     .arg(m_subject, QueryError(query));
        return false;
    }
    const int version = query.value(0).toInt();
    if (version > kMacPoolSchemaVersion) {
        *error = QStringLiteral("its schema %1 is newer than this program knows (%2); update "
                                "the program on this station")
                     .arg(version)
                     .arg(kMacPoolSchemaVersion);
        return false;
    }
    if (version < kMacPoolSchemaVersion) {
        *error = QStringLiteral("its schema %1 is older than this program's (%2); run 'tolvex "
                                "pool init' to migrate it")
                     .arg(version)
                     .arg(kMacPoolSchemaVersion);
        return false;
    }
    return true;
}

bool MacPoolDatabase::Run(const Work &work, bool create, QString *error)
{
    QElapsedTimer waited;
    waited.start();
    int busyTries = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool wasOpen = QSqlDatabase::database(m_connectionName, false).isOpen();
        if (!Open(create, error)) {
            *error = Describe() + QStringLiteral(": ") + *error;
            return false;
        }
        if (!wasOpen && !create && !CheckSchema(error)) {
            Close(); // so a pool set up meanwhile is seen at the next call
            *error = Describe() + QStringLiteral(": ") + *error;
            return false;
        }
        QString failure;
        const QString begin =
            m_postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE");
        if (Exec(begin, &failure)) {
            const Outcome outcome = work(&failure);
            if (outcome == Outcome::Tried && Exec(QStringLiteral("ROLLBACK"), &failure))
                return true;
            if (outcome == Outcome::Done && Exec(QStringLiteral("COMMIT"), &failure))
                return true;
        }
        QString ignored;
        Exec(QStringLiteral("ROLLBACK"), &ignored);
        if (!m_postgres && IsBusy(failure) && waited.elapsed() < m_timeouts.busyMs) {
            // Another station holds the pool file's write lock for a millisecond or two: try
            // again soon, waiting a little longer each time up to 2 ms (so a queue of waiters
            // does not starve the holder of the processor), at a random moment so that
            // waiters do not keep meeting.
            const unsigned step = 100u << std::min(busyTries++, 4);
            QThread::usleep(step / 2 + QRandomGenerator::global()->bounded(step));
            --attempt;
            continue;
        }
        *error = Describe() + QStringLiteral(": ") + failure;
        // A statement that failed on a live connection is the answer; a broken connection is
        // opened afresh and the work repeated once.
        if (Exec(QStringLiteral("SELECT 1"), &ignored))
            return false;
        Close();
        if (!wasOpen)
            return false;
    }
    return false;
}

bool MacPoolDatabase::CreateIfMissing(QString *error)
{
    if (m_postgres || QFileInfo::exists(m_url.path))
        return true;
    // Two stations creating it at once: the second finds the schema in place and adds nothing.
    return Run(
        [&](QString *failure) { return Migrate(failure) ? Outcome::Done : Outcome::SqlFailed; },
        true, error);
}

bool MacPoolDatabase::CheckRecord(QString *error)
{
    // A whole line, so every constraint, trigger and privilege an append meets is met here.
    const QJsonObject probe{{"kind", "start"},  {"time", "1970-01-01T00:00:00.000Z"},
                            {"runId", "check"}, {"station", "check"},
                            {"port", "check"},  {"round", 0}};
    return Run(
        [&](QString *failure) {
            return InsertRecordLine(probe, QByteArray("{}"), failure) ? Outcome::Tried
                                                                      : Outcome::SqlFailed;
        },
        false, error);
}

bool MacPoolDatabase::AppendRecordLine(const QJsonObject &line, const QByteArray &text,
                                       QString *error)
{
    return Run(
        [&](QString *failure) {
            return InsertRecordLine(line, text, failure) ? Outcome::Done : Outcome::SqlFailed;
        },
        false, error);
}

bool MacPoolDatabase::InsertRecordLine(const QJsonObject &line, const QByteArray &text,
                                       QString *error)
{
    auto optionalText = [&line](const char *key) {
        const QJsonValue value = line.value(QLatin1String(key));
        return value.isString() ? QVariant(value.toString()) : QVariant();
    };
    const QDateTime time =
        QDateTime::fromString(line.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    if (!time.isValid()) {
        *error = QStringLiteral("the line's time \"%1\" is not a time")
                     .arg(line.value(QLatin1String("time")).toString());
        return false;
    }
    QVariant macSent;
    const QString sent = line.value(QLatin1String("macSent")).toString();
    if (!sent.isEmpty()) {
        bool ok = false;
        const int number = sent.toInt(&ok, 16);
        if (!ok || sent.size() != 4) {
            *error = QStringLiteral("the line's macSent \"%1\" is not 4 hex digits").arg(sent);
            return false;
        }
        macSent = number;
    }
    const QJsonValue duration = line.value(QLatin1String("durationMs"));
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral(
        "INSERT INTO record_lines (time_ms, kind, run_id, station, port, round, step, result, "
        "failed_step, message, duration_ms, mac_sent, line) VALUES (:time, :kind, :run, "
        ":station, :port, :round, :step, :result, :failed, :message, :duration, :mac, :line)"));
    query.bindValue(QStringLiteral(":time"), time.toMSecsSinceEpoch());
    query.bindValue(QStringLiteral(":kind"), line.value(QLatin1String("kind")).toString());
    query.bindValue(QStringLiteral(":run"), line.value(QLatin1String("runId")).toString());
    query.bindValue(QStringLiteral(":station"), line.value(QLatin1String("station")).toString());
    query.bindValue(QStringLiteral(":port"), line.value(QLatin1String("port")).toString());
    query.bindValue(QStringLiteral(":round"), line.value(QLatin1String("round")).toInt());
    query.bindValue(QStringLiteral(":step"), optionalText("step"));
    query.bindValue(QStringLiteral(":result"), optionalText("result"));
    query.bindValue(QStringLiteral(":failed"), optionalText("failedStep"));
    query.bindValue(QStringLiteral(":message"), optionalText("message"));
    query.bindValue(QStringLiteral(":duration"),
                    duration.isDouble() ? QVariant(qint64(duration.toDouble())) : QVariant());
    query.bindValue(QStringLiteral(":mac"), macSent);
    query.bindValue(QStringLiteral(":line"), QString::fromUtf8(text));
    if (!query.exec()) {
        *error = QueryError(query);
        return false;
    }
    return true;
}

bool MacPoolDatabase::AppendHistory(int number, const QString &state, const QString &detail,
                                    QString *error)
{
    Prepared query =
        Statement(QStringLiteral("INSERT INTO mac_history (number, state, station, port, run_id, "
                                 "at_ms, detail) SELECT number, :state, station, port, run_id, "
                                 "%1, :detail FROM mac_numbers WHERE number = :number")
                      .arg(Now()));
    query->bindValue(QStringLiteral(":state"), state);
    query->bindValue(QStringLiteral(":detail"), detail.isEmpty() ? QVariant() : QVariant(detail));
    query->bindValue(QStringLiteral(":number"), number);
    if (!query.Exec(error))
        return false;
    return true;
}

MacNumberReply MacPoolDatabase::Failed(int number, const QString &error) const
{
    MacNumberReply reply;
    reply.number = number;
    reply.error = error;
    return reply;
}

MacNumberReply MacPoolDatabase::Take(const MacNumberHolder &holder, const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            // A reservation whose lease ran out (its station died) comes back first; then the
            // lowest free number. SKIP LOCKED lets concurrent takers pass each other's rows.
            const QString lock = m_postgres ? QStringLiteral(" FOR UPDATE SKIP LOCKED") : QString();
            const QStringList picks = {
                QStringLiteral("SELECT number FROM mac_numbers WHERE state = 'reserved' AND "
                               "lease_until_ms < %1 ORDER BY lease_until_ms LIMIT 1%2")
                    .arg(Now(), lock),
                QStringLiteral("SELECT number FROM mac_numbers WHERE state = 'free' "
                               "ORDER BY number LIMIT 1%1")
                    .arg(lock)};
            for (const QString &pick : picks) {
                Prepared query =
                    Statement(QStringLiteral("UPDATE mac_numbers SET state = 'reserved', "
                                             "station = :station, port = :port, run_id = :run, "
                                             "token = :token, lease_until_ms = %1 + %2, "
                                             "changed_ms = %1, address = NULL, reason = NULL "
                                             "WHERE number = (%3) RETURNING number")
                                  .arg(Now())
                                  .arg(m_timeouts.leaseMs)
                                  .arg(pick));
                query->bindValue(QStringLiteral(":station"), holder.station);
                query->bindValue(QStringLiteral(":port"), holder.port);
                query->bindValue(QStringLiteral(":run"), holder.runId);
                query->bindValue(QStringLiteral(":token"), token);
                if (!query.Exec(failure))
                    return Outcome::SqlFailed;
                if (query->next()) {
                    reply.ok = true;
                    reply.number = query->value(0).toInt();
                    query->finish();
                    return AppendHistory(reply.number, QStringLiteral("reserved"), QString(),
                                         failure)
                               ? Outcome::Done
                               : Outcome::SqlFailed;
                }
            }
            reply.error = Describe() + QStringLiteral(" has no free MAC number left");
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(-1, error);
}

MacNumberReply MacPoolDatabase::MarkSent(int number, const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            Prepared query =
                Statement(QStringLiteral("UPDATE mac_numbers SET state = 'sent', changed_ms = %1 "
                                         "WHERE number = :number AND state = 'reserved' AND "
                                         "token = :token")
                              .arg(Now()));
            query->bindValue(QStringLiteral(":number"), number);
            query->bindValue(QStringLiteral(":token"), token);
            if (!query.Exec(failure))
                return Outcome::SqlFailed;
            if (query->numRowsAffected() == 1) {
                reply.ok = true;
                return AppendHistory(number, QStringLiteral("sent"), QString(), failure)
                           ? Outcome::Done
                           : Outcome::SqlFailed;
            }
            // Marked already by a first attempt whose answer was lost, or no longer ours.
            Prepared again = Statement(
                QStringLiteral("SELECT state, token FROM mac_numbers WHERE number = :number"));
            again->bindValue(QStringLiteral(":number"), number);
            if (!again.Exec(failure))
                return Outcome::SqlFailed;
            if (again->next() && again->value(0).toString() == QLatin1String("sent") &&
                again->value(1).toString() == token) {
                reply.ok = true;
            } else {
                reply.error = QStringLiteral("%1: MAC number %2 is no longer reserved for this "
                                             "station (its lease ran out); it must not be sent")
                                  .arg(Describe(), MacNumberText(number));
            }
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacNumberReply MacPoolDatabase::GiveBack(int number, const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            Prepared query =
                Statement(QStringLiteral("SELECT state, token FROM mac_numbers WHERE number = "
                                         ":number%1")
                              .arg(m_postgres ? QStringLiteral(" FOR UPDATE") : QString()));
            query->bindValue(QStringLiteral(":number"), number);
            if (!query.Exec(failure))
                return Outcome::SqlFailed;
            const QString state = query->next() ? query->value(0).toString() : QString();
            const bool ours = query->value(1).toString() == token;
            query->finish();
            if (state == QLatin1String("free")) {
                reply.ok = true; // a first attempt whose answer was lost gave it back
                return Outcome::Done;
            }
            if (state != QLatin1String("reserved") || !ours) {
                reply.error =
                    QStringLiteral("%1: MAC number %2 was not given back: %3")
                        .arg(Describe(), MacNumberText(number),
                             state == QLatin1String("reserved")
                                 ? QStringLiteral("its lease ran out and it went elsewhere")
                                 : QStringLiteral("it is %1").arg(state));
                return Outcome::Done;
            }
            if (!AppendHistory(number, QStringLiteral("free"), QStringLiteral("given back"),
                               failure))
                return Outcome::SqlFailed;
            Prepared again =
                Statement(QStringLiteral("UPDATE mac_numbers SET state = 'free', station = NULL, "
                                         "port = NULL, run_id = NULL, token = NULL, "
                                         "lease_until_ms = NULL, changed_ms = %1 WHERE "
                                         "number = :number")
                              .arg(Now()));
            again->bindValue(QStringLiteral(":number"), number);
            if (!again.Exec(failure))
                return Outcome::SqlFailed;
            reply.ok = true;
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacNumberReply MacPoolDatabase::Confirm(int number, const QString &address)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            Prepared query = Statement(QStringLiteral("UPDATE mac_numbers SET state = 'confirmed', "
                                                      "address = :address, changed_ms = %1 WHERE "
                                                      "number = :number AND state = 'sent'")
                                           .arg(Now()));
            query->bindValue(QStringLiteral(":address"), address);
            query->bindValue(QStringLiteral(":number"), number);
            if (!query.Exec(failure))
                return Outcome::SqlFailed;
            if (query->numRowsAffected() == 1) {
                reply.ok = true;
                return AppendHistory(number, QStringLiteral("confirmed"), address, failure)
                           ? Outcome::Done
                           : Outcome::SqlFailed;
            }
            const MacPoolLookup found = LookUpHere(number, failure);
            if (!found.ok)
                return Outcome::SqlFailed;
            if (found.state == MacPoolState::Confirmed) {
                reply.ok = true; // a number sent again on purpose, or a repeated call
            } else {
                reply.error = QStringLiteral("%1: MAC number %2 cannot be confirmed: it is %3")
                                  .arg(Describe(), MacNumberText(number),
                                       found.state == MacPoolState::Missing
                                           ? QStringLiteral("not in the pool")
                                           : MacPoolStateName(found.state));
            }
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacPoolLookup MacPoolDatabase::LookUpHere(int number, QString *failure, QString *token,
                                          bool *leaseExpired)
{
    MacPoolLookup found;
    Prepared query =
        Statement(QStringLiteral("SELECT state, address, station, token, lease_until_ms < %1 "
                                 "FROM mac_numbers WHERE number = :number")
                      .arg(Now()));
    query->bindValue(QStringLiteral(":number"), number);
    if (!query.Exec(failure))
        return found;
    found.ok = true;
    if (query->next()) {
        found.state = MacPoolStateFromName(query->value(0).toString());
        found.address = query->value(1).toString();
        found.station = query->value(2).toString();
        if (token)
            *token = query->value(3).toString();
        if (leaseExpired)
            *leaseExpired = query->value(4).toBool();
    }
    return found;
}

MacNumberReply MacPoolDatabase::Void(int number, const QString &reason, const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            QString rowToken;
            const MacPoolLookup found = LookUpHere(number, failure, &rowToken);
            if (!found.ok)
                return Outcome::SqlFailed;
            // Only a number this station holds or one that went out; a confirmed one belongs
            // to a unit (sent again on purpose, the step failed) and stays confirmed.
            const bool change = found.state == MacPoolState::Sent ||
                                (found.state == MacPoolState::Reserved && rowToken == token);
            if (!change) {
                reply.ok =
                    found.state == MacPoolState::Void || found.state == MacPoolState::Confirmed;
                if (!reply.ok)
                    reply.error = QStringLiteral("%1: MAC number %2 cannot be made void: it is %3")
                                      .arg(Describe(), MacNumberText(number),
                                           found.state == MacPoolState::Missing
                                               ? QStringLiteral("not in the pool")
                                               : MacPoolStateName(found.state));
                return Outcome::Done;
            }
            Prepared query =
                Statement(QStringLiteral("UPDATE mac_numbers SET state = 'void', reason = "
                                         ":reason, changed_ms = %1 WHERE number = :number")
                              .arg(Now()));
            query->bindValue(QStringLiteral(":reason"), reason);
            query->bindValue(QStringLiteral(":number"), number);
            if (!query.Exec(failure))
                return Outcome::SqlFailed;
            reply.ok = true;
            return AppendHistory(number, QStringLiteral("void"), reason, failure)
                       ? Outcome::Done
                       : Outcome::SqlFailed;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacNumberReply MacPoolDatabase::Check(int number, const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            // A negative number asks for the next one only.
            if (number >= 0) {
                QString rowToken;
                bool expired = false;
                const MacPoolLookup found = LookUpHere(number, failure, &rowToken, &expired);
                if (!found.ok)
                    return Outcome::SqlFailed;
                if (found.state == MacPoolState::Missing) {
                    reply.error = QStringLiteral("%1: MAC number %2 is not in the pool")
                                      .arg(Describe(), MacNumberText(number));
                    return Outcome::Done;
                }
                reply.givenBefore =
                    found.state == MacPoolState::Sent || found.state == MacPoolState::Confirmed ||
                    found.state == MacPoolState::Void ||
                    (found.state == MacPoolState::Reserved && !expired && rowToken != token);
            }
            reply.ok = true;
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            if (!query.exec(QStringLiteral("SELECT MIN(number) FROM mac_numbers WHERE state = "
                                           "'free'"))) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            if (query.next() && !query.value(0).isNull())
                reply.next = query.value(0).toInt();
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacNumberReply MacPoolDatabase::Claim(int number, const MacNumberHolder &holder,
                                      const QString &token)
{
    MacNumberReply reply;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            reply = MacNumberReply();
            reply.number = number;
            // Free, or reserved past its lease: it goes out now, so it is sent at once.
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            query.prepare(QStringLiteral("UPDATE mac_numbers SET state = 'sent', station = "
                                         ":station, port = :port, run_id = :run, token = "
                                         ":token, lease_until_ms = NULL, changed_ms = %1 WHERE "
                                         "number = :number AND (state = 'free' OR (state = "
                                         "'reserved' AND lease_until_ms < %1))")
                              .arg(Now()));
            query.bindValue(QStringLiteral(":station"), holder.station);
            query.bindValue(QStringLiteral(":port"), holder.port);
            query.bindValue(QStringLiteral(":run"), holder.runId);
            query.bindValue(QStringLiteral(":token"), token);
            query.bindValue(QStringLiteral(":number"), number);
            if (!query.exec()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            if (query.numRowsAffected() == 1) {
                reply.ok = true;
                return AppendHistory(number, QStringLiteral("sent"), QStringLiteral("typed"),
                                     failure)
                           ? Outcome::Done
                           : Outcome::SqlFailed;
            }
            QString rowToken;
            const MacPoolLookup found = LookUpHere(number, failure, &rowToken);
            if (!found.ok)
                return Outcome::SqlFailed;
            if (found.state == MacPoolState::Missing) {
                reply.error = QStringLiteral("%1: MAC number %2 is not in the pool")
                                  .arg(Describe(), MacNumberText(number));
                return Outcome::Done;
            }
            reply.ok = true;
            // Our own first attempt, whose answer was lost, is no number given before.
            reply.givenBefore = rowToken != token;
            return Outcome::Done;
        },
        false, &error);
    return ran ? reply : Failed(number, error);
}

MacPoolLookup MacPoolDatabase::LookUp(int number)
{
    MacPoolLookup found;
    QString error;
    const bool ran = Run(
        [&](QString *failure) {
            found = LookUpHere(number, failure);
            return found.ok ? Outcome::Done : Outcome::SqlFailed;
        },
        false, &error);
    if (!ran) {
        found = MacPoolLookup();
        found.error = error;
    }
    return found;
}

bool MacPoolDatabase::Migrate(QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    int version = 0;
    // The table's absence means a new pool; any other failure is reported as it is.
    const QString probe = m_postgres
                              ? QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL")
                              : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = "
                                               "'table' AND name = 'schema_version'");
    if (!query.exec(probe) || !query.next()) {
        *error = QueryError(query);
        return false;
    }
    if (query.value(0).toBool()) {
        if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) ||
            !query.next()) {
            *error = QueryError(query);
            return false;
        }
        version = query.value(0).toInt();
    }
    query.finish();
    const QList<QStringList> migrations = Migrations(m_postgres);
    if (version > migrations.size()) {
        *error = QStringLiteral("its schema %1 is newer than this program knows (%2)")
                     .arg(version)
                     .arg(migrations.size());
        return false;
    }
    for (int v = version; v < migrations.size(); ++v) {
        for (const QString &sql : migrations[v]) {
            if (!Exec(sql, error))
                return false;
        }
        if (!Exec(QStringLiteral("INSERT INTO schema_version (version, applied_ms) VALUES (%1, %2)")
                      .arg(v + 1)
                      .arg(Now()),
                  error))
            return false;
    }
    return true;
}

bool MacPoolDatabase::Initialise(int first, int last, int *added, QString *error)
{
    *added = 0;
    if (first < 0 || last < first || last >= kMacCounterExhausted) {
        *error = QStringLiteral("%1: the range must run from 0000 up to FFFE at most, low to high")
                     .arg(Describe());
        return false;
    }
    return Run(
        [&](QString *failure) {
            if (!Migrate(failure))
                return Outcome::SqlFailed;
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            // One statement for the whole range; numbers already there keep their state.
            query.prepare(QStringLiteral("WITH RECURSIVE r(n) AS (SELECT %1 UNION ALL SELECT "
                                         "n + 1 FROM r WHERE n < %2) INSERT INTO mac_numbers "
                                         "(number, state, changed_ms) SELECT n, 'free', %3 FROM r "
                                         "WHERE true ON CONFLICT (number) DO NOTHING")
                              .arg(first)
                              .arg(last)
                              .arg(Now()));
            if (!query.exec()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            *added = query.numRowsAffected();
            return Outcome::Done;
        },
        true, error);
}

bool MacPoolDatabase::Status(MacPoolStatus *status, QString *error)
{
    *status = MacPoolStatus();
    return Run(
        [&](QString *failure) {
            *status = MacPoolStatus();
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) ||
                !query.next()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            status->schemaVersion = query.value(0).toInt();
            if (!query.exec(QStringLiteral("SELECT COALESCE(station, ''), state, "
                                           "COALESCE(lease_until_ms < %1, false), COUNT(*) FROM "
                                           "mac_numbers GROUP BY 1, 2, 3 ORDER BY 1")
                                .arg(Now()))) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            while (query.next()) {
                const QString station = query.value(0).toString();
                const MacPoolState state = MacPoolStateFromName(query.value(1).toString());
                const bool expired = query.value(2).toBool();
                const qint64 count = query.value(3).toLongLong();
                auto add = [&](MacPoolCounts &c) {
                    switch (state) {
                    case MacPoolState::Free:
                        c.free += count;
                        break;
                    case MacPoolState::Reserved:
                        c.reserved += count;
                        if (expired)
                            c.leaseExpired += count;
                        break;
                    case MacPoolState::Sent:
                        c.sent += count;
                        break;
                    case MacPoolState::Confirmed:
                        c.confirmed += count;
                        break;
                    case MacPoolState::Void:
                    case MacPoolState::Missing:
                        c.voided += count;
                        break;
                    }
                };
                add(status->all);
                if (state == MacPoolState::Free)
                    continue;
                if (status->stations.isEmpty() || status->stations.last().station != station)
                    status->stations.append({station, {}});
                add(status->stations.last().counts);
            }
            if (!query.exec(QStringLiteral("SELECT MIN(number) FROM mac_numbers WHERE state = "
                                           "'free'"))) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            if (query.next() && !query.value(0).isNull())
                status->nextFree = query.value(0).toInt();
            return Outcome::Done;
        },
        false, error);
}

bool MacPoolDatabase::ImportBelow(int below, const QString &source, int *moved, QString *error)
{
    *moved = 0;
    return Run(
        [&](QString *failure) {
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            query.prepare(QStringLiteral("INSERT INTO mac_history (number, state, station, port, "
                                         "run_id, at_ms, detail) SELECT number, 'confirmed', "
                                         "station, port, run_id, %1, :source FROM mac_numbers "
                                         "WHERE number < %2 AND state IN ('free', 'reserved')")
                              .arg(Now())
                              .arg(below));
            query.bindValue(QStringLiteral(":source"), source);
            if (!query.exec()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            query.prepare(QStringLiteral("UPDATE mac_numbers SET state = 'confirmed', token = "
                                         "NULL, lease_until_ms = NULL, reason = :source, "
                                         "changed_ms = %1 WHERE number < %2 AND state IN "
                                         "('free', 'reserved')")
                              .arg(Now())
                              .arg(below));
            query.bindValue(QStringLiteral(":source"), source);
            if (!query.exec()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            *moved = query.numRowsAffected();
            return Outcome::Done;
        },
        false, error);
}

bool MacPoolDatabase::GrantStation(const QString &role, QString *error)
{
    if (!m_postgres) {
        *error = Describe() + QStringLiteral(": --grant-station applies to PostgreSQL pools only "
                                             "(an SQLite file is guarded by its file permissions)");
        return false;
    }
    return Run(
        [&](QString *failure) {
            QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
            // The role is an identifier, not a value: quote it as the server does.
            query.prepare(QStringLiteral("SELECT quote_ident(:role)"));
            query.bindValue(QStringLiteral(":role"), role);
            if (!query.exec() || !query.next()) {
                *failure = QueryError(query);
                return Outcome::SqlFailed;
            }
            const QString r = query.value(0).toString();
            query.finish();
            // Taking a number changes only a row's state and holder (a trigger refuses any
            // change to a number given out); the history can be read and appended, never
            // changed or emptied.
            const QStringList grants = {
                QStringLiteral("REVOKE ALL ON schema_version, mac_numbers, mac_history, "
                               "record_lines FROM %1"),
                QStringLiteral("GRANT SELECT ON schema_version TO %1"),
                QStringLiteral("GRANT SELECT, UPDATE (state, station, port, run_id, token, "
                               "lease_until_ms, changed_ms, address, reason) ON mac_numbers TO %1"),
                QStringLiteral("GRANT SELECT, INSERT ON mac_history TO %1"),
                QStringLiteral("GRANT USAGE ON SEQUENCE mac_history_id_seq TO %1"),
                // The record: appended to and read back, never changed.
                QStringLiteral("GRANT SELECT, INSERT ON record_lines TO %1"),
                QStringLiteral("GRANT USAGE ON SEQUENCE record_lines_id_seq TO %1"),
            };
            for (const QString &grant : grants) {
                if (!Exec(grant.arg(r), failure))
                    return Outcome::SqlFailed;
            }
            return Outcome::Done;
        },
        false, error);
}

bool MacPoolDatabase::Read(const std::function<bool(QSqlDatabase, QString *)> &read, QString *error)
{
    if (!Open(false, error))
        return false;
    // A report reads while stations write: let SQLite wait for a checkpoint itself.
    if (!m_postgres &&
        !Exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(m_timeouts.busyMs), error))
        return false;
    return read(QSqlDatabase::database(m_connectionName, false), error);
}
