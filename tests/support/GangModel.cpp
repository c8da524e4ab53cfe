#include "GangModel.h"

#include "EventWait.h"
#include "PtyTools.h"
#include "SimUnit.h"
#include "TestFiles.h"
#include "TolvexRun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <csignal>
#include <memory>
#include <random>
#include <sys/wait.h>
#include <vector>

namespace {

const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";
// The counter's two lines, high byte then low byte in hex: the next number is 0x0010.
const QByteArray kCounter = "00\r\n10\r\n";
constexpr int kFirstNumber = 0x10;
// 16 XMODEM blocks of 128 bytes.
constexpr int kImageSize = 2000;

struct Unit
{
    QString behaviour;
    QStringList arguments;
};

class Draw
{
public:
    explicit Draw(unsigned seed) : m_random(seed) {}
    int Between(int low, int high)
    {
        return std::uniform_int_distribution<int>(low, high)(m_random);
    }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_random) < p; }
    template <typename T> void Shuffle(T &list)
    {
        std::shuffle(list.begin(), list.end(), m_random);
    }

    Unit DrawUnit(bool silentUnits)
    {
        const int kinds = silentUnits ? 9 : 7;
        // Half the units behave; the others share the faults.
        const int kind = Chance(0.5) ? 0 : Between(1, kinds - 1);
        // From 1: a unit whose cable is pulled at once is not there when the run starts.
        const QString n = QString::number(Between(1, 30));
        switch (kind) {
        case 1: {
            const QString ms = QString::number(Between(5, 40));
            return {"slow " + ms + " ms", {"--answer-delay-ms", ms}};
        }
        case 2: {
            const QString code = QStringList{"ba", "ni", "ma"}.at(Between(0, 2));
            return {"refusing " + code, {"--refuse", code}};
        }
        case 3: {
            const QString count = QString::number(Between(1, 6));
            return {"Error to the first " + count, {"--error-first", count}};
        }
        case 4: {
            const QString block = QString::number(Between(1, 16));
            return {"NAK block " + block, {"--nak-block", block}};
        }
        case 5: {
            const QString ms = QString::number(Between(100, 600));
            return {"cable pulled after " + n + ", back after " + ms + " ms",
                    {"--close-after", n, "--reopen-after-ms", ms}};
        }
        case 6:
            return {"cable pulled after " + n + " for good", {"--close-after", n}};
        case 7:
            return {"silent", {"--silent"}};
        case 8:
            return {"silent after " + n, {"--stop-after", n}};
        default:
            return {"fast", {}};
        }
    }

private:
    std::mt19937 m_random;
};

QString Hex4(int number)
{
    return QStringLiteral("%1").arg(number, 4, 16, QLatin1Char('0')).toUpper();
}

// The number the counter file gives next, or -1.
int CounterNumber(const QString &path)
{
    const QList<QByteArray> lines = ReadTestFile(path).split('\n');
    if (lines.size() < 2)
        return -1;
    bool highOk = false;
    bool lowOk = false;
    const int high = lines[0].trimmed().toInt(&highOk, 16);
    const int low = lines[1].trimmed().toInt(&lowOk, 16);
    return highOk && lowOk ? high * 256 + low : -1;
}

QString Type(const QJsonObject &event)
{
    return event.value("event").toString();
}

// Checks the events of a run; `cancelled` says whether a signal ended it.
void CheckEvents(const QList<QJsonObject> &events, const QStringList &ports, int rounds,
                 bool cancelled, QStringList *violations, int *roundsEnded)
{
    auto violation = [violations](const QString &text) { *violations << text; };
    if (events.isEmpty() || Type(events.first()) != QLatin1String("run")) {
        violation(QStringLiteral("the first event is not \"run\""));
        return;
    }
    int ends = 0;
    for (const QJsonObject &event : events)
        ends += Type(event) == QLatin1String("end") ? 1 : 0;
    if (ends != 1 || Type(events.last()) != QLatin1String("end"))
        violation(QStringLiteral("%1 \"end\" events, the last event is \"%2\"")
                      .arg(ends)
                      .arg(Type(events.last())));

    // The run in pieces: each round's events end with its round-end.
    int round = 1;
    QStringList results;
    QHash<QString, int> starts;
    for (int i = 1; i < events.size(); ++i) {
        const QJsonObject &event = events[i];
        const QString type = Type(event);
        if (event.contains("port")) {
            if (event.value("round").toInt() != round)
                violation(QStringLiteral("event %1 (%2 of %3) is of round %4 while round %5 runs")
                              .arg(i)
                              .arg(type, event.value("port").toString())
                              .arg(event.value("round").toInt())
                              .arg(round));
            if (type == QLatin1String("result"))
                results << event.value("port").toString();
            if (type == QLatin1String("start"))
                ++starts[event.value("port").toString()];
            continue;
        }
        if (type != QLatin1String("round-end"))
            continue;
        if (event.value("round").toInt() != round)
            violation(QStringLiteral("round-end of round %1 where round %2 ends")
                          .arg(event.value("round").toInt())
                          .arg(round));
        if (results != ports)
            violation(QStringLiteral("round %1: results for [%2], expected one per port in "
                                     "--port order")
                          .arg(round)
                          .arg(results.join(QStringLiteral(", "))));
        for (const QString &port : ports) {
            if (starts.value(port) != 1)
                violation(QStringLiteral("round %1: %2 starts of %3")
                              .arg(round)
                              .arg(starts.value(port))
                              .arg(port));
        }
        const int counted = event.value("ok").toInt() + event.value("failed").toInt() +
                            event.value("cancelled").toInt();
        if (counted != ports.size() || event.value("units").toInt() != ports.size())
            violation(
                QStringLiteral("round %1: round-end counts %2 units").arg(round).arg(counted));
        results.clear();
        starts.clear();
        ++round;
    }
    *roundsEnded = round - 1;
    if (!results.isEmpty() || !starts.isEmpty())
        violation(QStringLiteral("round %1 started but never ended").arg(round));
    if (!cancelled && *roundsEnded != rounds)
        violation(QStringLiteral("%1 rounds ended, %2 asked for").arg(*roundsEnded).arg(rounds));
    if (*roundsEnded > rounds)
        violation(
            QStringLiteral("%1 rounds ended, only %2 asked for").arg(*roundsEnded).arg(rounds));
}

// The lines of a record in an SQLite database, in the order they were written.
QList<QJsonObject> DatabaseLines(const QString &path)
{
    QList<QJsonObject> lines;
    const QString name = QStringLiteral("gang-model-record");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("SELECT line FROM record_lines ORDER BY id"))) {
            while (query.next())
                lines << QJsonDocument::fromJson(query.value(0).toString().toUtf8()).object();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return lines;
}

// A record line's kind; a line without one is a step's, as lines were before kinds.
QString Kind(const QJsonObject &line)
{
    return line.value("kind").toString(QStringLiteral("step"));
}

// Checks the record against the events: per unit and round, the lines in the order start,
// steps, unit, as many steps as step-end events and the result event's verdict; one run id.
void CheckRecord(const QList<QJsonObject> &events, const QList<QJsonObject> &lines,
                 QStringList *violations)
{
    auto key = [](const QJsonObject &o) {
        return o.value("port").toString() + QStringLiteral(" round ") +
               QString::number(o.value("round").toInt());
    };
    const QString runId = events.isEmpty() ? QString() : events.first().value("runId").toString();
    if (runId.isEmpty())
        *violations << QStringLiteral("the run event has no run id");
    QMap<QString, QString> kinds; // per unit and round: "s" start, "t" step, "u" unit
    QHash<QString, QJsonObject> unitLines;
    QHash<QString, QString> macSent; // per unit and round: its assign-mac step line's
    for (const QJsonObject &line : lines) {
        if (line.value("runId").toString() != runId) {
            *violations << QStringLiteral("a record line of %1 has run id \"%2\", the run \"%3\"")
                               .arg(key(line), line.value("runId").toString(), runId);
        }
        const QString kind = Kind(line);
        kinds[key(line)] += kind == QLatin1String("start")  ? QStringLiteral("s")
                            : kind == QLatin1String("unit") ? QStringLiteral("u")
                                                            : QStringLiteral("t");
        if (kind == QLatin1String("unit"))
            unitLines.insert(key(line), line);
        if (kind == QLatin1String("step") && line.contains("macSent"))
            macSent.insert(key(line), line.value("macSent").toString());
    }
    QMap<QString, QString> expected;
    QHash<QString, QJsonObject> results;
    for (const QJsonObject &event : events) {
        const QString type = Type(event);
        if (type == QLatin1String("start"))
            expected[key(event)] += QStringLiteral("s");
        else if (type == QLatin1String("step-end"))
            expected[key(event)] += QStringLiteral("t");
        else if (type == QLatin1String("result")) {
            expected[key(event)] += QStringLiteral("u");
            results.insert(key(event), event);
        }
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (kinds.value(it.key()) != it.value())
            *violations << QStringLiteral("%1: record lines \"%2\", events \"%3\" (s start, t "
                                          "step, u unit)")
                               .arg(it.key(), kinds.value(it.key()), it.value());
        const QJsonObject unit = unitLines.value(it.key());
        const QJsonObject result = results.value(it.key());
        if (!unit.isEmpty() && !result.isEmpty() &&
            (unit.value("result") != result.value("result") ||
             unit.value("exitStatus") != result.value("exitStatus") ||
             unit.value("failedStep") != result.value("step")))
            *violations << QStringLiteral(
                               "%1: the unit line says %2 (%3), the result event %4 (%5)")
                               .arg(it.key(), unit.value("result").toString(),
                                    unit.value("failedStep").toString(),
                                    result.value("result").toString(),
                                    result.value("step").toString());
        if (!unit.isEmpty() && unit.value("macSent").toString() != macSent.value(it.key()))
            *violations << QStringLiteral("%1: the unit line says MAC number \"%2\" went out, "
                                          "the step line \"%3\"")
                               .arg(it.key(), unit.value("macSent").toString(),
                                    macSent.value(it.key()));
    }
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it) {
        if (!expected.contains(it.key()))
            *violations << QStringLiteral("%1: record lines \"%2\" for a round that never started")
                               .arg(it.key(), it.value());
    }
}

} // namespace

GangModel::Outcome GangModel::Run(const Options &options, const QString &folder)
{
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    Draw draw(options.seed);

    // The scenario.
    outcome.units = draw.Between(options.minUnits, options.maxUnits);
    std::vector<Unit> units;
    for (int u = 0; u < outcome.units; ++u)
        units.push_back(draw.DrawUnit(options.silentUnits));
    QList<QStringList> pool{{"write", folder + "/cfg.txt"},
                            {"verify", folder + "/cfg.txt"},
                            {"assign-mac", "--next"},
                            {"download", "--image", folder + "/image.bin"},
                            {"read", "-o", folder + "/read-{port}.txt"}};
    draw.Shuffle(pool);
    pool = pool.mid(0, draw.Between(1, 4));
    // assign-mac is the step the invariants are most about: in most chains.
    if (draw.Chance(0.7) && std::none_of(pool.begin(), pool.end(), [](const QStringList &s) {
            return s.first() == QLatin1String("assign-mac");
        }))
        pool.insert(draw.Between(0, int(pool.size())), QStringList{"assign-mac", "--next"});
    const int rounds = draw.Between(1, options.maxRounds);
    const int kinds[] = {SIGINT, SIGTERM, SIGHUP};
    const int signal = draw.Chance(0.7) ? kinds[draw.Between(0, 2)] : 0;
    const int signalAfterMs = draw.Between(0, 3000);

    QStringList steps;
    for (const QStringList &step : pool)
        steps << step.first();
    QStringList behaviours;
    for (const Unit &unit : units)
        behaviours << unit.behaviour;
    outcome.scenario =
        QStringLiteral("seed %1: %2 units [%3]; %4; --rounds %5; %6")
            .arg(options.seed)
            .arg(outcome.units)
            .arg(behaviours.join(QStringLiteral(", ")), steps.join(" + "))
            .arg(rounds)
            .arg(signal ? QStringLiteral("signal %1 after %2 ms").arg(signal).arg(signalAfterMs)
                        : QStringLiteral("no signal"));

    QByteArray image(kImageSize, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 131 + 7) & 0xFF);
    const QString counter = folder + "/counter.txt";
    const QString record = options.sqliteRecord ? folder + "/record.db" : folder + "/record.jsonl";
    if (!WriteTestFile(folder + "/cfg.txt", kSettings) ||
        !WriteTestFile(folder + "/image.bin", image) || !WriteTestFile(counter, kCounter)) {
        outcome.violations << QStringLiteral("cannot write the files in %1").arg(folder);
        return outcome;
    }
    std::vector<std::unique_ptr<SimUnit>> sims;
    QStringList ports;
    for (int u = 0; u < outcome.units; ++u) {
        sims.push_back(std::make_unique<SimUnit>());
        const QString link = folder + QStringLiteral("/unit%1").arg(u);
        if (!sims.back()->start(QStringList{"--link", link} + units[size_t(u)].arguments)) {
            outcome.violations << sims.back()->errorString();
            return outcome;
        }
        ports << link;
    }

    QStringList arguments{TolvexRun::Program(), "--json",
                          "--record",           options.sqliteRecord ? "sqlite:" + record : record,
                          "--counter",          counter,
                          "--rounds",           QString::number(rounds)};
    for (const QString &port : ports)
        arguments << "--port" << port;
    for (int s = 0; s < pool.size(); ++s)
        arguments << (s > 0 ? QStringList{"+"} : QStringList{}) << pool[s];

    const QString eventsPath = folder + "/events.jsonl";
    const QByteArray eventsFile = eventsPath.toLocal8Bit();
    const QByteArray errorsFile = (folder + "/stderr.txt").toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, eventsFile.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errorsFile.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ArgVector argv(arguments);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, argv.program(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        outcome.violations << QStringLiteral("cannot start %1").arg(TolvexRun::Program());
        return outcome;
    }
    int status = 0;
    bool reaped = false;
    auto ended = [&] {
        if (!reaped)
            reaped = ::waitpid(pid, &status, WNOHANG) == pid;
        return reaped;
    };
    if (signal) {
        // The moment counts from the run's first event: the handlers are in place by then.
        WaitFor([&] { return ended() || ReadTestFile(eventsPath).contains("\"run\""); }, 10000);
        if (!WaitFor(ended, signalAfterMs))
            ::kill(pid, signal);
    }
    if (!WaitFor(ended, options.timeoutMs)) {
        outcome.violations << QStringLiteral("the tool did not end within %1 s; killed")
                                  .arg(options.timeoutMs / 1000);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    // The units' last reports, then they go.
    IdleFor(200);
    for (auto &sim : sims)
        sim->stop();

    const QList<QJsonObject> events = TolvexRun::ParseLines(ReadTestFile(eventsPath));
    const QJsonObject end = events.isEmpty() ? QJsonObject() : events.last();
    if (WIFSIGNALED(status)) {
        outcome.exitCode = 128 + WTERMSIG(status);
        // A signal that comes while the program closes down after its end ends it by default.
        if (WTERMSIG(status) != signal || Type(end) != QLatin1String("end"))
            outcome.violations << QStringLiteral("the tool was killed by signal %1 (%2)")
                                      .arg(WTERMSIG(status))
                                      .arg(QString::fromLocal8Bit(
                                          ReadTestFile(QString::fromLocal8Bit(errorsFile))));
    } else {
        outcome.exitCode = WEXITSTATUS(status);
        if (outcome.exitCode != end.value("exitStatus").toInt(-1))
            outcome.violations << QStringLiteral("exit status %1, the end event says %2")
                                      .arg(outcome.exitCode)
                                      .arg(end.value("exitStatus").toInt(-1));
    }
    const int endStatus = end.value("exitStatus").toInt();
    outcome.cancelled = endStatus == 130 || endStatus == 128 + SIGTERM || endStatus == 128 + SIGHUP;
    if (outcome.cancelled && !signal)
        outcome.violations << QStringLiteral("cancelled without a signal");
    CheckEvents(events, ports, rounds, outcome.cancelled, &outcome.violations, &outcome.rounds);

    // The record: a step line for every step-end; for every unit and round that started, one
    // start line before its step lines and one unit line after them, with the round's verdict;
    // one run id throughout, the run event's; and every MAC number that went out in exactly one
    // step line.
    const QList<QJsonObject> lines = !QFile::exists(record) ? QList<QJsonObject>()
                                     : options.sqliteRecord
                                         ? DatabaseLines(record)
                                         : TolvexRun::ParseLines(ReadTestFile(record));
    CheckRecord(events, lines, &outcome.violations);
    QMap<QString, int> recorded;
    for (const QJsonObject &line : lines) {
        if (Kind(line) == QLatin1String("step") &&
            line.value("step").toString() == QLatin1String("assign-mac") &&
            line.contains("macSent"))
            ++recorded[line.value("macSent").toString()];
    }
    const int next = CounterNumber(counter);
    for (auto it = recorded.cbegin(); it != recorded.cend(); ++it) {
        if (it.value() != 1)
            outcome.violations
                << QStringLiteral("MAC number %1 in %2 step lines").arg(it.key()).arg(it.value());
        if (it.key().toInt(nullptr, 16) >= next)
            outcome.violations << QStringLiteral("MAC number %1 recorded; the counter is at %2")
                                      .arg(it.key(), Hex4(next));
    }
    QSet<int> sent;
    for (const auto &sim : sims) {
        for (const QByteArray &line : sim->receivedLines()) {
            // "ma" and a decimal number; a bare "ma" asks for the address.
            bool number = false;
            const int n = line.mid(2).trimmed().toInt(&number);
            if (line.startsWith("ma") && number)
                sent.insert(n);
        }
    }
    outcome.macNumbersSent = int(sent.size());
    for (int number : sent) {
        if (recorded.value(Hex4(number)) != 1)
            outcome.violations << QStringLiteral("MAC number %1 went out, in %2 step lines")
                                      .arg(Hex4(number))
                                      .arg(recorded.value(Hex4(number)));
        if (number < kFirstNumber || number >= next)
            outcome.violations << QStringLiteral("MAC number %1 went out; the counter is at %2")
                                      .arg(Hex4(number), Hex4(next));
    }
    outcome.seconds = double(clock.elapsed()) / 1000.0;
    return outcome;
}
