#pragma once

#include <QString>
#include <QStringList>

// A model-based run of the production tool: simulated units that each misbehave in a way drawn
// at random (fast, silent, refusing, a pulled cable, a NAK, slow), a random chain of steps,
// --rounds 1 to 5 and, in most runs, a signal at a random moment. Whatever happened, the events,
// the record, the lines the units received and the MAC counter must then agree with the
// invariants of a run: no crash, one `round-end` per round, `end` last, one `result` per unit
// and round, every MAC number that went out in exactly one record line, the counter past every
// number sent. Everything random comes from the seed, so a failing run can be replayed.
class GangModel
{
public:
    struct Options
    {
        unsigned seed = 1;
        int minUnits = 2;
        int maxUnits = 6;
        int maxRounds = 5;
        // Units that answer nothing cost four reply time-outs a step; a short run can do
        // without them.
        bool silentUnits = true;
        int timeoutMs = 120000;
        // The record in an SQLite database instead of a file; the lines are checked alike.
        bool sqliteRecord = false;
    };

    struct Outcome
    {
        QString scenario;       // the drawn units, steps, rounds and signal, for a report
        QStringList violations; // every invariant that did not hold
        int units = 0;
        int rounds = 0;    // rounds that ended
        int exitCode = -1; // the exit status, or 128 + the signal that ended the process
        bool cancelled = false;
        int macNumbersSent = 0;
        double seconds = 0;
    };

    // Runs one drawn scenario in `folder` (which must exist and be empty).
    static Outcome Run(const Options &options, const QString &folder);
};
