#pragma once

#include "JobPlan.h"
#include "link/Exchange.h"
#include "settings/SettingsTypes.h"
#include "settings/SortedStringList.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

class EventSink;

// The words of every verdict, as events and record lines carry them.
namespace Verdict {
inline const QString kOk = QStringLiteral("ok");
inline const QString kFailed = QStringLiteral("failed");
inline const QString kIncomplete = QStringLiteral("incomplete");
inline const QString kCancelled = QStringLiteral("cancelled");
// assign-mac --next on a reworked unit: its confirmed number stays, nothing is sent.
inline const QString kKept = QStringLiteral("kept");
} // namespace Verdict

// How one step ended, in the terms of its `step-end` event and its record line.
struct StepOutcome
{
    QString result = Verdict::kOk; // "ok", "kept", "failed", "incomplete", "cancelled"
    int error = 0;                 // the unit's error number, 0 for none
    int exitStatus = 0;
    QString message;
    QJsonObject details; // step-specific fields for the event and the record
};

// How one unit's round ended: the first step that did not succeed, or success.
struct UnitOutcome
{
    QString result = Verdict::kOk;
    int exitStatus = 0;
    int error = 0;
};

// One unit's events: turns typed exchange results into step outcomes and the events that
// explain them (mismatches, log lines, progress), so the step order (UnitJob) never words
// anything and the words exist once. Everything goes to the sink stamped with the unit's port
// and the round.
class StepReport
{
public:
    StepReport(EventSink &events, const QString &port) : m_events(events), m_port(port) {}

    void SetRound(int round) { m_round = round; }
    // An event of this unit and round, with "event", "time", "port" and "round".
    QJsonObject Event(const char *type) const;
    void Emit(const QJsonObject &event);
    void Log(StepKind step, const QString &text);

    // The verdict the exchange's result gives on its own, with the lines that did not come back
    // as they should named in the tool's words.
    StepOutcome FromResult(const ExchangeResult &result) const;
    // What each step adds: its details, its mismatch events, a sharper verdict or message.
    // The read's settings as "Save File" would write them (without the lines the unit left
    // unknown) are returned for the step to save or print.
    CommandQueue ConcludeRead(const ExchangeResult &result, const SettingsSnapshot &settings,
                              StepOutcome *outcome) const;
    void ConcludeWrite(const ExchangeResult &result, const StepPlan &step, StepOutcome *outcome);
    void ConcludeVerify(const ExchangeResult &result, const StepPlan &step,
                        const SettingsSnapshot &unitSettings, StepOutcome *outcome);
    // Returns the unit's new address: the answer, when it ends in the number sent.
    QString ConcludeMac(const ExchangeResult &result, StepOutcome *outcome);
    void ConcludeDownload(const ExchangeResult &result, const ImageInput &image,
                          StepOutcome *outcome);

    // The download's progress: a new percentage at most once a second (100 % always), with
    // the time left worked out from the first block on.
    void BeginProgress();
    void Progress(int percent, qint64 bytesSent, qint64 total);

private:
    static constexpr qint64 kProgressMs = 1000;

    EventSink &m_events;
    QString m_port;
    int m_round = 0;
    int m_lastPercent = -1;
    QElapsedTimer m_lastProgressClock;
    QElapsedTimer m_progressClock;
    qint64 m_firstBytes = -1;
};

// Line breaks of a box text as plain "\n".
QString PlainLineBreaks(const QString &text);
// A MAC number as its 4 hex digits, upper case.
QString MacHex(int number);
