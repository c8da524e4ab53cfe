#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// A soak run of the production tool against simulated units: one `tolvex --loop --json`
// process runs "write + verify" round after round on every unit at once, while a fault is
// injected into one exchange in ten (silence, noise, a pulled cable, a wrong echo, an "Error"
// answer). Every step's verdict is checked against the one its fault calls for, no round may
// hang, and the tool's resident memory is taken after the 100th cycle and at the end.
class GangSoak
{
public:
    struct Options
    {
        int units = 3;
        int cycles = 30;    // write + verify cycles over all units (rounded up to whole rounds)
        int faultEvery = 5; // a fault in every n-th cycle: one exchange in 2n
        int roundTimeoutMs = 30000;
        bool wireDelay = false;
    };

    struct Figures
    {
        int cycles = 0;
        int exchanges = 0;
        int faults = 0;
        int rounds = 0;
        QMap<QString, int> faultsByKind;
        QStringList problems; // every verdict that was not the expected one, and every hang
        qint64 rssKbAfter100 = -1;
        qint64 rssKbAtEnd = -1;
        double seconds = 0;
        int exitCode = -1;
    };

    // Runs the soak in `folder`; false when it could not be set up at all (see problems).
    static bool Run(const Options &options, const QString &folder, Figures *figures);
};
