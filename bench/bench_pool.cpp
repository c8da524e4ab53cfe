// The MAC pool under a line's load, on SQLite and on a local PostgreSQL 15 server (fsync on):
//  - take + mark-sent latency, median and 99th percentile, with 16 station processes at once
//    (goal: p99 under 20 ms);
//  - 100,000 numbers taken by 16 processes while one of them is killed every half second and
//    replaced; then a drain: every number must have gone out exactly once (0 duplicates).
// The stations are real processes (tolvex-pool-driver) over the real DatabaseMacPool.
// --latency-only leaves out the 100,000 numbers.

#include "pool/MacPoolDatabase.h"
#include "support/EventWait.h"
#include "support/PostgresServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString kDriver = QStringLiteral(TOLVEX_BIN_DIR "/tolvex-pool-driver");

bool InitPool(const QString &url, int first, int last)
{
    PoolUrl parsed;
    QString error;
    int added = 0;
    if (!ParsePoolUrl(url, &parsed, &error))
        return false;
    MacPoolDatabase pool(parsed, MacPoolTimeouts());
    if (!pool.Initialise(first, last, &added, &error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }
    return true;
}

std::unique_ptr<QProcess> StartDriver(const QString &url, int index, const QStringList &extra)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(kDriver, QStringList{"--pool", url, "--station", QStringLiteral("st%1").arg(index),
                                  "--seed", QString::number(index + 1)} +
                          extra);
    p->waitForStarted();
    return p;
}

// 16 stations take 150 numbers each: every `paceMs` (0: each take right after the last).
void Latency(const QString &engine, const QString &url, int paceMs)
{
    if (!InitPool(url, 0, 0x7FFF))
        return;
    std::vector<std::unique_ptr<QProcess>> drivers;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 16; ++i)
        drivers.push_back(StartDriver(
            url, i, {"--count", "150", "--latency", "--pace-ms", QString::number(paceMs)}));
    std::vector<double> ms;
    std::vector<double> first; // connecting to the pool included
    int errors = 0;
    for (auto &p : drivers) {
        p->waitForFinished(600000);
        for (const QByteArray &line : p->readAllStandardOutput().split('\n')) {
            if (line.startsWith("L "))
                ms.push_back(line.mid(2).toDouble() / 1000.0);
            else if (line.startsWith("F "))
                first.push_back(line.mid(2).toDouble() / 1000.0);
            else if (line.startsWith("E ") || line.startsWith("X "))
                ++errors;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::sort(first.begin(), first.end());
    if (ms.empty()) {
        std::printf("  %s: no samples\n", qPrintable(engine));
        return;
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    std::printf("  %-10s %s: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu samples, %.0f "
                "numbers/s, %d errors)\n",
                qPrintable(engine),
                paceMs ? qPrintable(QStringLiteral("a take every %1 ms per station").arg(paceMs))
                       : "flat out",
                ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(), ms.size(),
                double(ms.size() + first.size()) / seconds, errors);
    if (!first.empty())
        std::printf("  %-10s   each station's first number, connecting included: median %.2f ms, "
                    "max %.2f ms\n",
                    qPrintable(engine), first[first.size() / 2], first.back());
}

// Takes every number of a pool of `size` with 16 stations, one killed every half second. True
// when, after the drain, the pool holds nothing free or reserved and every number went out.
// *sent counts the numbers stations said they marked sent; a station killed between the mark
// and its saying so leaves one more in the pool than it said.
bool KillRun(const QString &url, int size, int *sent, int *duplicates, int *killed)
{
    if (!InitPool(url, 0, size - 1))
        return false;
    const QStringList lease = {"--lease-ms", "2000"};
    std::vector<std::unique_ptr<QProcess>> drivers;
    QByteArray out;
    for (int i = 0; i < 16; ++i)
        drivers.push_back(StartDriver(url, i, lease));
    int index = 16;
    QElapsedTimer sinceKill;
    sinceKill.start();
    for (;;) {
        IdleFor(50);
        bool running = false;
        for (auto &p : drivers) {
            out += p->readAllStandardOutput();
            running = running || p->state() != QProcess::NotRunning;
        }
        if (!running)
            break;
        if (sinceKill.elapsed() > 500 && !out.contains("EMPTY")) {
            sinceKill.restart();
            auto &victim = drivers[QRandomGenerator::global()->bounded(16)];
            if (victim->state() != QProcess::NotRunning) {
                victim->kill(); // SIGKILL
                victim->waitForFinished(5000);
                out += victim->readAllStandardOutput();
                ++*killed;
            }
            victim = StartDriver(url, index++, lease);
        }
    }
    // The killed stations' reservations come back once their leases run out.
    IdleFor(2100);
    auto drain = StartDriver(url, index, lease);
    drain->waitForFinished(600000);
    out += drain->readAllStandardOutput();
    QHash<int, int> times;
    for (const QByteArray &line : out.split('\n')) {
        if (line.startsWith("S "))
            ++times[line.mid(2).toInt()];
    }
    *sent = int(times.size());
    for (int count : times)
        *duplicates += count - 1;
    PoolUrl parsed;
    QString error;
    MacPoolStatus status;
    ParsePoolUrl(url, &parsed, &error);
    MacPoolDatabase pool(parsed, MacPoolTimeouts());
    if (!pool.Status(&status, &error)) {
        std::printf("  %s\n", qPrintable(error));
        return false;
    }
    const MacPoolCounts &c = status.all;
    std::printf("  %s: %lld sent, %lld confirmed, %lld void, %lld free, %lld reserved\n",
                qPrintable(url), c.sent, c.confirmed, c.voided, c.free, c.reserved);
    return c.free == 0 && c.reserved == 0 && c.sent + c.confirmed + c.voided == size;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTemporaryDir dir;
    PostgresServer server;
    QString error;
    if (!server.Start(&error, true)) {
        std::printf("PostgreSQL did not start: %s\n", qPrintable(error));
        return 1;
    }
    server.Psql(QStringLiteral("CREATE DATABASE latency"), nullptr, &error);
    server.Psql(QStringLiteral("CREATE DATABASE kill1"), nullptr, &error);
    server.Psql(QStringLiteral("CREATE DATABASE kill2"), nullptr, &error);
    // A line of 16 stations with 8 ports each and a unit cycle of 18 s takes about 7 numbers a
    // second; a take every 100 ms per station is over 20 times that. Flat out shows the pool's
    // capacity on this machine, each station queueing behind the 15 others.
    std::printf("MAC pool take + mark-sent latency, 16 station processes (goal: p99 < 20 ms)\n");
    server.Psql(QStringLiteral("CREATE DATABASE flat"), nullptr, &error);
    Latency(QStringLiteral("sqlite"), QStringLiteral("sqlite:") + dir.filePath("latency.db"), 500);
    Latency(QStringLiteral("postgresql"),
            server.Url(QStringLiteral("tolvex"), QStringLiteral("latency")), 500);
    Latency(QStringLiteral("sqlite"), QStringLiteral("sqlite:") + dir.filePath("flat.db"), 0);
    Latency(QStringLiteral("postgresql"),
            server.Url(QStringLiteral("tolvex"), QStringLiteral("flat")), 0);

    if (app.arguments().contains(QStringLiteral("--latency-only"))) {
        server.Stop();
        return 0;
    }
    std::printf("MAC pool, 100,000 numbers with random kills (PostgreSQL, two pools of 50,000)\n");
    int sent = 0;
    int duplicates = 0;
    int killed = 0;
    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    for (const QString &db : {QStringLiteral("kill1"), QStringLiteral("kill2")}) {
        int s = 0;
        ok = KillRun(server.Url(QStringLiteral("tolvex"), db), 50000, &s, &duplicates, &killed) &&
             ok;
        sent += s;
    }
    std::printf("  100000 numbers went out, %d of them reported sent by their stations (the rest "
                "marked by stations killed before they said so), %d stations killed, %d "
                "duplicates, %.0f s%s\n",
                sent, killed, duplicates, double(clock.elapsed()) / 1000.0,
                ok ? "" : " (the pool's counts do NOT add up)");
    server.Stop();
    return ok && duplicates == 0 ? 0 : 1;
}
