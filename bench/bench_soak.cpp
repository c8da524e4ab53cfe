// The production tool's soak: 1,000 write + verify cycles over eight simulated units at once,
// a fault in one exchange in ten (silence, noise, a pulled cable, a wrong echo, an "Error"
// answer). Every exchange must end with the verdict its fault calls for, no round may hang,
// and the tool's resident memory may grow by less than 1 MB from the 100th cycle to the last.

#include "support/GangSoak.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    GangSoak::Options options;
    options.units = 8;
    options.cycles = 1000;
    options.faultEvery = 5;
    GangSoak::Figures figures;
    const bool ran = GangSoak::Run(options, dir.path(), &figures);
    std::printf("soak: %d cycles in %d rounds on %d units, %.0f s\n", figures.cycles,
                figures.rounds, options.units, figures.seconds);
    std::printf("  %d exchanges checked, %d faults:", figures.exchanges, figures.faults);
    for (auto it = figures.faultsByKind.cbegin(); it != figures.faultsByKind.cend(); ++it)
        std::printf(" %s %d,", qPrintable(it.key()), it.value());
    std::printf("\n  wrong verdicts or hangs: %d\n", int(figures.problems.size()));
    for (const QString &problem : figures.problems.mid(0, 20))
        std::printf("    %s\n", qPrintable(problem));
    std::printf("  resident memory: %lld kB after cycle 100, %lld kB at the end: %+lld kB "
                "(goal < 1024)\n",
                figures.rssKbAfter100, figures.rssKbAtEnd,
                figures.rssKbAtEnd - figures.rssKbAfter100);
    return ran && figures.problems.isEmpty() ? 0 : 1;
}
