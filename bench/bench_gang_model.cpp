// The long model-based run of the production tool's gang: scenario after scenario of up to 16
// simulated units misbehaving at random, random step chains, --rounds 1 to 5 and signals at
// random moments, each checked against the run's invariants (tests/support/GangModel.h).
// Every scenario's seed is printed; `bench_gang_model --seed N --runs 1` replays one.

#include "support/GangModel.h"
#include "support/PtyTools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    unsigned seed = unsigned(QDateTime::currentMSecsSinceEpoch() % 1000000);
    int runs = 30;
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--seed"))
            seed = arguments[i + 1].toUInt();
        else if (arguments[i] == QLatin1String("--runs"))
            runs = arguments[i + 1].toInt();
    }
    RaiseFileLimit();
    std::printf("gang model: %d scenarios from seed %u\n", runs, seed);
    int failed = 0;
    int rounds = 0;
    int cancelled = 0;
    int macNumbers = 0;
    double seconds = 0;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        GangModel::Options options;
        options.seed = seed + unsigned(run);
        options.minUnits = 2;
        options.maxUnits = 16;
        const GangModel::Outcome outcome = GangModel::Run(options, dir.path());
        std::printf("  %s\n    %d rounds, exit status %d, %d MAC numbers, %.1f s: %s\n",
                    qPrintable(outcome.scenario), outcome.rounds, outcome.exitCode,
                    outcome.macNumbersSent, outcome.seconds,
                    outcome.violations.isEmpty() ? "ok" : "VIOLATED");
        for (const QString &violation : outcome.violations)
            std::printf("      %s\n", qPrintable(violation));
        std::fflush(stdout);
        failed += outcome.violations.isEmpty() ? 0 : 1;
        rounds += outcome.rounds;
        cancelled += outcome.cancelled ? 1 : 0;
        macNumbers += outcome.macNumbersSent;
        seconds += outcome.seconds;
    }
    std::printf("gang model: %d scenarios (%d cancelled by a signal), %d rounds, %d MAC numbers "
                "sent, %.0f s; %d with violations (goal 0)\n",
                runs, cancelled, rounds, macNumbers, seconds, failed);
    return failed == 0 ? 0 : 1;
}
