#include "GangSoak.h"

#include "EventWait.h"
#include "SimUnit.h"
#include "TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <memory>
#include <vector>

namespace {

// A fault and the verdicts it calls for. The write sends "sv" and 15 lines (every line), the
// verify "sv" and 15 queries, so a count of 16 answers lands a fault in the verify.
struct Fault
{
    const char *kind;
    const char *command;
    const char *writeResult; // "ok" or "failed"
    int writeError;
    const char *verifyResult; // "ok", "failed", or "" when the verify is skipped
    int verifyError;
    bool cutsTheLink;
};

const Fault kFaults[] = {
    {"silence", "silent on", "failed", 7, "", 0, false},
    {"silence", "stop-after 16", "ok", 0, "failed", 7, false},
    {"noise", "clean-noise on", "ok", 0, "ok", 0, false},
    {"pulled cable", "close-after 5", "failed", 7, "", 0, true},
    {"pulled cable", "close-after 20", "ok", 0, "failed", 7, true},
    {"wrong echo", "wrong-echo ba", "failed", 6, "", 0, false},
    {"Error answer", "error-first 5", "failed", 4, "", 0, false},
};
constexpr int kFaultCount = int(sizeof kFaults / sizeof kFaults[0]);

const Fault kNoFault = {"", "", "ok", 0, "ok", 0, false};

const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";

qint64 ResidentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

bool GangSoak::Run(const Options &options, const QString &folder, Figures *figures)
{
    *figures = Figures();
    QElapsedTimer clock;
    clock.start();
    const QString settings = folder + QStringLiteral("/soak-settings.txt");
    if (!WriteTestFile(settings, kSettings)) {
        figures->problems << QStringLiteral("cannot write %1").arg(settings);
        return false;
    }
    std::vector<std::unique_ptr<SimUnit>> sims;
    QStringList arguments{"--json", "--loop"};
    for (int u = 0; u < options.units; ++u) {
        sims.push_back(std::make_unique<SimUnit>());
        QStringList simArguments{"--link", folder + QStringLiteral("/soak-unit%1").arg(u)};
        if (options.wireDelay)
            simArguments << QStringLiteral("--wire-delay");
        if (!sims.back()->start(simArguments)) {
            figures->problems << sims.back()->errorString();
            return false;
        }
        arguments << QStringLiteral("--port") << sims.back()->linkPath();
    }
    arguments << "write"
              << "--all-lines" << settings << "+"
              << "verify" << settings;

    const int rounds = (options.cycles + options.units - 1) / options.units;
    // The fault of every unit in every round, in a fixed rotation through all of them.
    std::vector<std::vector<int>> plan(size_t(rounds), std::vector<int>(size_t(options.units), -1));
    int cycle = 0;
    int nextFault = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int u = 0; u < options.units; ++u, ++cycle) {
            if (cycle % options.faultEvery == options.faultEvery - 1)
                plan[size_t(r)][size_t(u)] = nextFault++ % kFaultCount;
        }
    }
    auto inject = [&](int round) {
        for (int u = 0; u < options.units; ++u) {
            const int fault = plan[size_t(round)][size_t(u)];
            if (fault >= 0 &&
                !sims[size_t(u)]->sendCommand(QString::fromLatin1(kFaults[fault].command)))
                figures->problems << QStringLiteral("unit %1 refused fault %2")
                                         .arg(u)
                                         .arg(QLatin1String(kFaults[fault].command));
        }
    };
    auto clear = [&](int round) {
        for (int u = 0; u < options.units; ++u) {
            const int fault = plan[size_t(round)][size_t(u)];
            if (fault < 0)
                continue;
            SimUnit &sim = *sims[size_t(u)];
            sim.sendCommand(QStringLiteral("reset"));
            if (kFaults[fault].cutsTheLink) {
                sim.skipEvents();
                sim.sendCommand(QStringLiteral("reopen"));
                if (!sim.waitForEvent(QStringLiteral("PTY "), 5000))
                    figures->problems << QStringLiteral("unit %1 did not come back").arg(u);
            }
        }
    };

    QProcess tool;
    QByteArray pending;
    QList<QJsonObject> events;
    QObject::connect(&tool, &QProcess::readyReadStandardOutput, [&] {
        pending += tool.readAllStandardOutput();
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            events << QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
        }
    });
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    inject(0);
    tool.start(QStringLiteral(TOLVEX_BIN_DIR "/tolvex"), arguments);
    if (!tool.waitForStarted(5000)) {
        figures->problems << QStringLiteral("tolvex did not start: ") + tool.errorString();
        return false;
    }

    int cyclesDone = 0;
    for (int r = 0; r < rounds; ++r) {
        const int round = r + 1;
        auto roundEnded = [&] {
            for (const QJsonObject &event : events) {
                if (event.value("event").toString() == QLatin1String("round-end") &&
                    event.value("round").toInt() == round)
                    return true;
            }
            return tool.state() == QProcess::NotRunning;
        };
        if (!WaitFor(roundEnded, options.roundTimeoutMs) || tool.state() == QProcess::NotRunning) {
            figures->problems << QStringLiteral("round %1 did not end").arg(round);
            break;
        }
        // Every step's verdict against its fault's.
        for (int u = 0; u < options.units; ++u) {
            const int faultIndex = plan[size_t(r)][size_t(u)];
            const Fault &fault = faultIndex >= 0 ? kFaults[faultIndex] : kNoFault;
            const QString port = sims[size_t(u)]->linkPath();
            QMap<QString, QJsonObject> ends;
            for (const QJsonObject &event : events) {
                if (event.value("event").toString() == QLatin1String("step-end") &&
                    event.value("round").toInt() == round && event.value("port").toString() == port)
                    ends.insert(event.value("step").toString(), event);
            }
            auto check = [&](const char *step, const QString &result, int error) {
                const QJsonObject end = ends.value(QLatin1String(step));
                if (result.isEmpty()) {
                    if (!end.isEmpty())
                        figures->problems << QStringLiteral("round %1 unit %2: %3 ran after a "
                                                            "failed write (%4)")
                                                 .arg(round)
                                                 .arg(u)
                                                 .arg(QLatin1String(step), fault.kind);
                    return;
                }
                ++figures->exchanges;
                if (end.value("result").toString() != result || end.value("error").toInt() != error)
                    figures->problems
                        << QStringLiteral("round %1 unit %2 fault \"%3\": %4 ended %5 (error %6), "
                                          "expected %7 (error %8): %9")
                               .arg(round)
                               .arg(u)
                               .arg(QLatin1String(fault.command), QLatin1String(step),
                                    end.value("result").toString())
                               .arg(end.value("error").toInt())
                               .arg(result)
                               .arg(error)
                               .arg(end.value("message").toString());
            };
            check("write", QLatin1String(fault.writeResult), fault.writeError);
            check("verify", QLatin1String(fault.verifyResult), fault.verifyError);
            ++cyclesDone;
            if (faultIndex >= 0) {
                ++figures->faults;
                ++figures->faultsByKind[QLatin1String(fault.kind)];
            }
        }
        if (cyclesDone >= 100 && figures->rssKbAfter100 < 0)
            figures->rssKbAfter100 = ResidentKb(tool.processId());
        figures->rounds = round;
        // Nothing older than this round is needed any more.
        events.clear();
        if (r + 1 < rounds) {
            clear(r);
            inject(r + 1);
            tool.write("\n");
        }
    }
    figures->cycles = cyclesDone;
    figures->rssKbAtEnd = ResidentKb(tool.processId());
    tool.closeWriteChannel();
    if (!WaitFor([&] { return tool.state() == QProcess::NotRunning; }, 10000)) {
        figures->problems << QStringLiteral("tolvex did not end at the end of its input");
        tool.kill();
        tool.waitForFinished(3000);
    }
    figures->exitCode = tool.exitCode();
    figures->seconds = double(clock.elapsed()) / 1000.0;
    return true;
}
