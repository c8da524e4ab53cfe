// `tolvex report` over a long production record: 100,000 unit rounds (a start line, three step
// lines and a unit line each) of eight stations over two weeks, a few of them failed, as a
// JSON Lines file, in an SQLite pool and on a local PostgreSQL 15 server. Prints how long the
// built tool takes for the whole record and for one station's day (goal: under 2 s).

#include "support/PostgresServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int kRounds = 100000;
constexpr int kStations = 8;
const qint64 kStartMs = QDateTime(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC).toMSecsSinceEpoch();

struct Row
{
    qint64 timeMs;
    const char *kind;
    QString runId, station, port;
    int round;
    QString step, result, failedStep, message;
    qint64 durationMs; // -1: none
    int macSent;       // -1: none
    QByteArray line;
};

QString Time(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

// Lines as a station writes them, with the fields that make real lines long (paths, hashes,
// a write's answered lines).
template <typename Sink> void Generate(Sink &&sink)
{
    QJsonArray writeLines;
    for (const char *l :
         {"ax15", "ax26", "ax37", "ax48", "ba3020", "bb15", "bh90", "bj30", "bt4",
          "eo0001100000000000", "nc10.0.0.9", "ng10.0.0.1", "ni10.0.0.50", "ns255.255.255.0"})
        writeLines.append(QJsonObject{
            {"line", l}, {"answer", QString::fromLatin1(l).toUpper()}, {"verdict", "ok"}});
    const QString sha(64, QLatin1Char('a'));
    for (int i = 0; i < kRounds; ++i) {
        const int s = i % kStations;
        const QString station = QStringLiteral("station-%1").arg(s + 1);
        const QString runId = QStringLiteral("%1").arg(s, 32, 16, QLatin1Char('0'));
        const QString port = QStringLiteral("/dev/ttyUSB%1").arg((i / kStations) % 4);
        const int round = i / (kStations * 4) + 1;
        qint64 t = kStartMs + qint64(i) * 12000; // a unit every 12 s across the line
        const bool failWrite = i % 53 == 7, failMac = i % 97 == 11;
        QJsonObject common{{"version", "2.4.0"}, {"runId", runId},
                           {"station", station}, {"record", "/srv/line/record.jsonl"},
                           {"port", port},       {"device", port},
                           {"round", round}};
        auto line = [&](const char *kind, qint64 at, QJsonObject fields) {
            for (auto it = common.begin(); it != common.end(); ++it)
                fields.insert(it.key(), it.value());
            fields.insert("kind", kind);
            fields.insert("time", Time(at));
            return fields;
        };
        sink(line("start", t,
                  {{"steps", QJsonArray{QJsonObject{{"step", "write"},
                                                    {"settingsFile", "/srv/line/cfg.txt"},
                                                    {"settingsSha256", sha}},
                                        QJsonObject{{"step", "assign-mac"}, {"mac", "next"}},
                                        QJsonObject{{"step", "download"},
                                                    {"image", "/srv/line/pages.txt"}}}}}));
        const qint64 writeMs = 1800 + (i * 37) % 900;
        t += writeMs;
        sink(line("step", t,
                  {{"step", "write"},
                   {"result", failWrite ? "failed" : "ok"},
                   {"error", failWrite ? 6 : 0},
                   {"message", failWrite ? "ba3020 answered BA3012" : ""},
                   {"durationMs", writeMs},
                   {"settingsFile", "/srv/line/cfg.txt"},
                   {"settingsSha256", sha},
                   {"lines", writeLines},
                   {"unitVersion", "1.0.5-UDP"}}));
        QString failedStep = failWrite ? "write" : "";
        if (!failWrite) {
            const qint64 macMs = 300 + (i * 13) % 200;
            t += macMs;
            const QString mac = QStringLiteral("%1").arg(i % 0xFFFF, 4, 16, QLatin1Char('0'));
            sink(line("step", t,
                      {{"step", "assign-mac"},
                       {"result", failMac ? "failed" : "ok"},
                       {"error", failMac ? 7 : 0},
                       {"message", failMac ? "Cannot communicate with TOLVEX\nError 7" : ""},
                       {"durationMs", macMs},
                       {"macSent", mac},
                       {"mac", mac},
                       {"macAnswered", "00:04:A3:00:" + mac.left(2) + ":" + mac.mid(2)},
                       {"unitVersion", "1.0.5-UDP"}}));
            if (failMac)
                failedStep = "assign-mac";
            else {
                const qint64 downloadMs = 17800 + (i * 7) % 400;
                t += downloadMs;
                sink(line("step", t,
                          {{"step", "download"},
                           {"result", "ok"},
                           {"error", 0},
                           {"message", ""},
                           {"durationMs", downloadMs},
                           {"image", QJsonObject{{"source", "/srv/line/pages.txt"},
                                                 {"size", 32700},
                                                 {"sha256", sha}}},
                           {"unitVersion", "1.0.5-UDP"}}));
            }
        }
        QJsonObject unit{{"result", failedStep.isEmpty() ? "ok" : "failed"},
                         {"error", failWrite ? 6
                                   : failMac ? 7
                                             : 0},
                         {"message", failWrite ? "ba3020 answered BA3012"
                                     : failMac ? "Cannot communicate with TOLVEX\nError 7"
                                               : ""},
                         {"durationMs", t - (kStartMs + qint64(i) * 12000)},
                         {"unitVersion", "1.0.5-UDP"}};
        if (!failedStep.isEmpty())
            unit.insert("failedStep", failedStep);
        // One round in a thousand never ends: its station was killed.
        if (i % 1000 != 999)
            sink(line("unit", t + 5, unit));
    }
}

bool FillDatabase(QSqlDatabase db, const QString &dir, QString *error)
{
    QSqlQuery q(db);
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    q.prepare("INSERT INTO record_lines (time_ms, kind, run_id, station, port, round, step, "
              "result, failed_step, message, duration_ms, mac_sent, line) VALUES "
              "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    bool ok = true;
    Generate([&](const QJsonObject &o) {
        if (!ok)
            return;
        auto text = [&](const char *key) {
            return o.contains(key) ? QVariant(o.value(key).toString())
                                   : QVariant(QMetaType::fromType<QString>());
        };
        q.addBindValue(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs)
                           .toMSecsSinceEpoch());
        q.addBindValue(o.value("kind").toString());
        q.addBindValue(o.value("runId").toString());
        q.addBindValue(o.value("station").toString());
        q.addBindValue(o.value("port").toString());
        q.addBindValue(o.value("round").toInt());
        q.addBindValue(text("step"));
        q.addBindValue(text("result"));
        q.addBindValue(text("failedStep"));
        q.addBindValue(text("message"));
        q.addBindValue(o.contains("durationMs") ? QVariant(o.value("durationMs").toInteger())
                                                : QVariant(QMetaType::fromType<qint64>()));
        q.addBindValue(o.contains("macSent")
                           ? QVariant(o.value("macSent").toString().toInt(nullptr, 16))
                           : QVariant(QMetaType::fromType<int>()));
        q.addBindValue(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        if (!q.exec()) {
            *error = q.lastError().text();
            ok = false;
        }
    });
    Q_UNUSED(dir);
    return ok && db.commit();
}

void TimeReport(const char *what, const QString &record)
{
    const QString tool = QStringLiteral(TOLVEX_BIN_DIR "/tolvex");
    struct Case
    {
        const char *name;
        QStringList arguments;
    };
    for (const Case &c :
         {Case{"whole record", {}},
          Case{"one station, one day",
               {"--station", "station-3", "--since", "2026-03-05", "--until", "2026-03-06"}}}) {
        // Wall time, and the tool's own CPU time, which a busy machine does not stretch.
        struct rusage before, after;
        getrusage(RUSAGE_CHILDREN, &before);
        QElapsedTimer timer;
        timer.start();
        QProcess p;
        p.start(tool, QStringList{"report", "--json", "--record", record} + c.arguments);
        p.waitForFinished(600000);
        const qint64 ms = timer.elapsed();
        getrusage(RUSAGE_CHILDREN, &after);
        auto cpuMs = [](const struct rusage &r) {
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000LL +
                   (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
        };
        const QJsonObject report = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        std::printf("  %-10s %-22s %6lld ms, CPU %6lld ms  (units %lld, interrupted %lld, "
                    "exit %d)%s\n",
                    what, c.name, ms, cpuMs(after) - cpuMs(before),
                    report.value("units").toInteger(), report.value("interrupted").toInteger(),
                    p.exitCode(), ms < 2000 ? "" : "  over the 2 s goal");
        if (p.exitCode() != 0)
            std::printf("    %s\n", p.readAllStandardError().trimmed().constData());
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("report over %d unit rounds of %d stations (start, 3 steps, unit each)\n", kRounds,
                kStations);

    const QString file = dir.filePath("record.jsonl");
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        Generate([&](const QJsonObject &o) {
            out.write(QJsonDocument(o).toJson(QJsonDocument::Compact));
            out.write("\n");
        });
        std::printf("  JSON Lines file: %.0f MB\n", double(out.size()) / 1e6);
    }
    TimeReport("file", file);

    const QString tool = QStringLiteral(TOLVEX_BIN_DIR "/tolvex");
    auto init = [&](const QString &url) {
        QProcess p;
        p.start(tool, {"pool", "init", "--pool", url, "--range", "0000-FFFE"});
        return p.waitForFinished(120000) && p.exitCode() == 0;
    };
    QString error;
    const QString sqlite = "sqlite:" + dir.filePath("pool.db");
    if (init(sqlite)) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sqlite");
            db.setDatabaseName(dir.filePath("pool.db"));
            if (db.open() && FillDatabase(db, dir.path(), &error))
                TimeReport("sqlite", sqlite);
            else
                std::printf("  sqlite: %s\n", qPrintable(error));
        }
        QSqlDatabase::removeDatabase("sqlite");
    }

    PostgresServer server;
    if (!QFile::exists(PostgresServer::BinDir() + "/initdb") || !server.Start(&error)) {
        std::printf("  postgresql: not run (%s)\n", qPrintable(error));
        return 0;
    }
    if (init(server.Url())) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "postgresql");
            db.setHostName("127.0.0.1");
            db.setPort(server.Port());
            db.setUserName("tolvex");
            db.setDatabaseName("tolvex");
            if (db.open() && FillDatabase(db, dir.path(), &error)) {
                QSqlQuery(db).exec("ANALYZE record_lines");
                TimeReport("postgresql", server.Url());
            } else {
                std::printf("  postgresql: %s\n", qPrintable(error));
            }
        }
        QSqlDatabase::removeDatabase("postgresql");
    }
    return 0;
}
