// Figures for keeping the adapter list current: the cost of one listing and of one change
// check, and the idle CPU of a running watcher against an idle event loop.

#include "link/PortDiscovery.h"
#include "support/CpuTime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

// CPU milliseconds per call of `work`, over `count` calls.
template <typename Work> double CpuMsPerCall(int count, Work work)
{
    const double start = CpuSeconds();
    for (int i = 0; i < count; ++i)
        work();
    return (CpuSeconds() - start) * 1000.0 / count;
}

// Percent of one core used while the event loop runs for `ms` milliseconds.
double IdlePercent(int ms)
{
    QElapsedTimer wall;
    wall.start();
    const double start = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return (CpuSeconds() - start) * 100.0 / (double(wall.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;

    const QList<SerialPortEntry> ports = ListSerialPorts();
    std::printf("ports present: %lld\n", static_cast<long long>(ports.size()));
    PortDiscoveryOptions noProc;
    noProc.procDir.clear();
    const double listMs = CpuMsPerCall(50, [] { ListSerialPorts(); });
    const double listNoProcMs = CpuMsPerCall(50, [&] { ListSerialPorts(noProc); });
    const double printMs = CpuMsPerCall(2000, [&] { PortFingerprint(ports, {}); });
    std::printf("one listing: %.3f ms CPU (%.3f ms without looking for open handles)\n", listMs,
                listNoProcMs);
    std::printf("one change check (fingerprint): %.4f ms CPU\n", printMs);
    const double interval = PortWatcher::kDefaultIntervalMs / 1000.0;
    std::printf("at one tick per %.1f s: %.4f %% of a core checking, plus a listing every %d "
                "ticks (%.4f %%); listing at every tick would be %.3f %%\n",
                interval, printMs / 10.0 / interval, PortWatcher::kFullListEveryTicks,
                listMs / 10.0 / interval / PortWatcher::kFullListEveryTicks,
                listMs / 10.0 / interval);

    const double baseline = IdlePercent(seconds * 1000 / 3);
    int changes = 0;
    PortWatcher watcher;
    QObject::connect(&watcher, &PortWatcher::PortsChanged, [&] { ++changes; });
    watcher.Start();
    const double watching = IdlePercent(seconds * 1000);
    std::printf(
        "idle CPU over %d s: event loop alone %.4f %%, with the watcher running %.4f %% "
        "of a core (goal: below 0.5 %%); %d list changes seen (the first listing included)\n",
        seconds, baseline, watching, changes);
    return 0;
}
