// How long a station's pre-flight takes: `tolvex --check` for 8 ports with the whole chain a
// line runs (a settings write, a MAC number from the counter, the web pages built into an image
// by the image builder), every check made and the plan printed, nothing opened or sent. Wall
// time and the tool's CPU time, the median of 10 runs.

#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "support/TolvexRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::vector<std::unique_ptr<SimUnit>> sims;
    QStringList arguments{"--check", "--json"};
    for (int u = 0; u < 8; ++u) {
        sims.push_back(std::make_unique<SimUnit>());
        if (!sims.back()->start({"--link", dir.filePath(QStringLiteral("unit%1").arg(u))})) {
            std::printf("the simulated units did not start\n");
            return 1;
        }
        arguments << "--port" << sims.back()->linkPath();
    }
    WriteTestFile(dir.filePath("cfg.txt"), kSettings);
    WriteTestFile(dir.filePath("counter.txt"), "00\r\n00\r\n");
    // Twelve pages of some 2 kB each, as a unit's web pages are.
    QStringList pages;
    for (int i = 0; i < 12; ++i) {
        QByteArray page = "<html><body>\r\n";
        while (page.size() < 2000)
            page += QByteArray("<p>page ") + QByteArray::number(i) + " line " +
                    QByteArray::number(page.size()) + "</p>\r\n";
        page += "</body></html>\r\n";
        const QString name = dir.filePath(QStringLiteral("page%1.htm").arg(i));
        WriteTestFile(name, page);
        pages << name;
    }
    arguments << "--counter" << dir.filePath("counter.txt") << "write" << dir.filePath("cfg.txt")
              << "+"
              << "assign-mac"
              << "--next"
              << "+"
              << "download";
    arguments += pages;

    std::vector<double> wall;
    std::vector<double> cpu;
    int exitCode = -1;
    for (int run = 0; run < 10; ++run) {
        QProcess tool;
        const double cpuBefore = ChildrenCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        tool.start(TolvexRun::Program(), arguments);
        tool.waitForFinished(60000);
        wall.push_back(double(clock.nsecsElapsed()) / 1e6);
        cpu.push_back((ChildrenCpuSeconds() - cpuBefore) * 1000.0);
        exitCode = tool.exitCode();
        if (exitCode != 0) {
            std::printf("--check ended with %d: %s\n", exitCode,
                        tool.readAllStandardError().constData());
            return 1;
        }
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("--check for 8 ports (write + assign-mac + download of 12 pages built into an "
                "image): median %.0f ms, slowest %.0f ms; CPU (tool and image builder) median "
                "%.0f ms; exit status %d\n",
                wall[wall.size() / 2], wall.back(), cpu[cpu.size() / 2], exitCode);
    return 0;
}
