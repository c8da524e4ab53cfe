// Figures for the production tool's gang: a settings write, a MAC number and a 32,700-byte
// image for one unit and for 8, 32 and 64 at once, each a simulated unit moving bytes at 19200
// baud. Goals: 32 units take at most 1.02 times as long as one, and the tool's CPU time per
// unit cycle (write + MAC + image) is at most 10 ms, so one core could drive over a thousand
// units. That figure is (cpu(N) - cpu(1)) / (N - 1): the process's start-up and its fixed
// costs do not count. The same figure with --record: each unit cycle writes five record lines
// (start, three steps, the unit's verdict), each synced to the disk, in a file and in an SQLite
// database (one transaction per line); the run's time with a record against the run without
// shows whether writing the lines ever holds the units up.
// The simulated units run on this machine and share its cores with the tool, which a line's
// units never do: each of the tool's wake-ups then costs more the more units there are (a
// switch back from a busy unit's process). The CPU figure is therefore also taken with the tool
// on a core of its own and the units on the others, as it is on a line.

#include "support/EventWait.h"
#include "support/PtyTools.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "support/TolvexRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";

struct GangFigures
{
    double seconds = -1;
    double cpuSeconds = -1;
    int exitCode = -1;
    QList<QJsonObject> events;
};

// Keeps the calling process (and what it starts from now on) on core 0, or on every core.
void KeepToFirstCore(bool first)
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    for (int c = 0; c < CPU_SETSIZE && c < 1024; ++c)
        if (!first || c == 0)
            CPU_SET(c, &cores);
    sched_setaffinity(0, sizeof cores, &cores);
}

// Runs the tool on `units` simulated units at line speed, with a record of `record`'s kind
// ("file", "sqlite") when asked; its own CPU time comes from wait4. With `ownCore` the units
// (and this process) keep to core 0 and the tool to the others.
GangFigures RunGang(int units, const QString &record = QString(), bool ownCore = false)
{
    GangFigures figures;
    if (ownCore)
        KeepToFirstCore(true);
    struct Restore
    {
        bool active;
        ~Restore()
        {
            if (active)
                KeepToFirstCore(false);
        }
    } restore{ownCore};
    QTemporaryDir dir;
    std::vector<std::unique_ptr<SimUnit>> sims;
    QStringList arguments{TolvexRun::Program(), "--json"};
    for (int u = 0; u < units; ++u) {
        sims.push_back(std::make_unique<SimUnit>());
        if (!sims.back()->start(
                {"--link", dir.filePath(QStringLiteral("unit%1").arg(u)), "--wire-delay"}))
            return figures;
        arguments << "--port" << sims.back()->linkPath();
    }
    QByteArray image(32700, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 131 + 7) & 0xFF);
    WriteTestFile(dir.filePath("image.bin"), image);
    WriteTestFile(dir.filePath("cfg.txt"), kSettings);
    WriteTestFile(dir.filePath("counter.txt"), "00\r\n00\r\n");
    if (record == QLatin1String("file"))
        arguments << "--record" << dir.filePath("record.jsonl");
    else if (record == QLatin1String("sqlite"))
        arguments << "--record"
                  << "sqlite:" + dir.filePath("record.db");
    arguments << "--counter" << dir.filePath("counter.txt") << "write" << dir.filePath("cfg.txt")
              << "+"
              << "assign-mac"
              << "--next"
              << "+"
              << "download"
              << "--image" << dir.filePath("image.bin");

    ArgVector argv(arguments);
    const QByteArray output = dir.filePath("events.jsonl").toLocal8Bit();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.constData(), O_WRONLY | O_CREAT, 0644);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv.program(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return figures;
    if (ownCore) {
        cpu_set_t others;
        CPU_ZERO(&others);
        for (int c = 1; c < CPU_SETSIZE && c < 1024; ++c)
            CPU_SET(c, &others);
        sched_setaffinity(pid, sizeof others, &others);
    }
    int status = 0;
    rusage usage{};
    // The loop keeps running so the simulated units' reports are read as they come.
    WaitFor([&] { return ::wait4(pid, &status, WNOHANG, &usage) == pid; }, 120000);
    figures.seconds = double(clock.nsecsElapsed()) / 1e9;
    figures.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    figures.events = TolvexRun::ParseLines(ReadTestFile(dir.filePath("events.jsonl")));
    return figures;
}

void PrintSteps(const GangFigures &figures)
{
    double longest[3] = {0, 0, 0};
    const char *names[3] = {"write", "assign-mac", "download"};
    for (const QJsonObject &event : figures.events) {
        if (event.value("event").toString() != QLatin1String("step-end"))
            continue;
        for (int k = 0; k < 3; ++k) {
            if (event.value("step").toString() == QLatin1String(names[k]))
                longest[k] = qMax(longest[k], event.value("durationMs").toDouble() / 1000.0);
        }
    }
    std::printf("  slowest unit per step: write %.2f s, assign-mac %.2f s, download %.2f s\n",
                longest[0], longest[1], longest[2]);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    RaiseFileLimit();
    // 256 blocks of 132 bytes and their acknowledgements at 10 bits a byte.
    std::printf("line time of the image alone: %.1f s\n", 256.0 * 133 * 10 / 19200);
    const GangFigures one = RunGang(1);
    std::printf("gang of 1: %.2f s, tool CPU %.3f s, exit status %d\n", one.seconds, one.cpuSeconds,
                one.exitCode);
    PrintSteps(one);
    if (one.seconds <= 0 || one.exitCode != 0) {
        std::printf("gang: the run of one unit failed\n");
        return 1;
    }
    // Sizes named on the command line replace the usual ones and skip the record runs.
    QList<int> sizes{8, 32, 64};
    const QStringList named = app.arguments().mid(1);
    if (!named.isEmpty()) {
        sizes.clear();
        for (const QString &size : named)
            if (size.toInt() > 1)
                sizes << size.toInt();
    }
    bool failed = false;
    for (int units : sizes) {
        const GangFigures gang = RunGang(units);
        std::printf("gang of %d: %.2f s, tool CPU %.3f s, exit status %d\n", units, gang.seconds,
                    gang.cpuSeconds, gang.exitCode);
        PrintSteps(gang);
        if (gang.seconds <= 0 || gang.exitCode != 0) {
            std::printf("gang: the run of %d units failed\n", units);
            failed = true;
            continue;
        }
        std::printf("  %d units take %.3f x the time of 1%s\n", units, gang.seconds / one.seconds,
                    units == 32 ? " (goal <= 1.02)" : "");
        std::printf("  tool CPU per unit cycle, sharing the cores with the units: %.1f ms; %.2f %% "
                    "of one core for "
                    "all %d\n",
                    1000.0 * (gang.cpuSeconds - one.cpuSeconds) / (units - 1),
                    100.0 * gang.cpuSeconds / gang.seconds, units);
    }
    // The tool's own cost per unit cycle, on a core the units do not share.
    if (QThread::idealThreadCount() >= 2) {
        const GangFigures alone = RunGang(1, QString(), true);
        std::printf("tool on a core of its own, the units on the others: 1 unit, tool CPU %.3f s\n",
                    alone.cpuSeconds);
        for (int units : sizes) {
            const GangFigures gang = RunGang(units, QString(), true);
            if (alone.exitCode != 0 || gang.exitCode != 0) {
                std::printf("gang: the run of %d units on separate cores failed\n", units);
                failed = true;
                continue;
            }
            std::printf("  gang of %d: tool CPU %.3f s, per unit cycle %.1f ms (goal <= 10)\n",
                        units, gang.cpuSeconds,
                        1000.0 * (gang.cpuSeconds - alone.cpuSeconds) / (units - 1));
        }
    }
    if (!named.isEmpty())
        return failed ? 1 : 0;
    // A station keeps a record: its lines' cost per unit cycle, against one unit with a record.
    const GangFigures plain = RunGang(32);
    for (const char *kind : {"file", "sqlite"}) {
        const GangFigures recordOne = RunGang(1, kind);
        const GangFigures recordGang = RunGang(32, kind);
        std::printf("gang of 32 with a record (%s): %.2f s, tool CPU %.3f s, exit status %d\n",
                    kind, recordGang.seconds, recordGang.cpuSeconds, recordGang.exitCode);
        if (recordOne.exitCode != 0 || recordGang.exitCode != 0) {
            std::printf("gang: the runs with a record failed\n");
            return 1;
        }
        std::printf("  tool CPU per unit cycle with the record: %.1f ms (goal <= 10); %.3f x "
                    "the time without a record\n",
                    1000.0 * (recordGang.cpuSeconds - recordOne.cpuSeconds) / 31,
                    recordGang.seconds / plain.seconds);
    }
    return failed ? 1 : 0;
}
