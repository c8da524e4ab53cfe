#pragma once

#include "JobPlan.h"
#include "webpages/ImageMaker.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

class EventSink;
class ProductionRecord;
class StdinLines;
class UnitJob;

// The whole run: the image builds first, then every port's unit job at once, round after
// round. One timer ticks every engine; everything else is driven by the ports' own events, so
// a slow or failing unit never holds up another.
//
// The run is a state machine (Phase): a round starts only from Building, Between or Waiting,
// ends only from Running once every unit it started has reported its end, and the run ends
// once. So a round ends exactly once however many units finish in one event-loop turn, a unit
// never gets a round while it runs one, and `end` is the last event.
class Gang : public QObject
{
    Q_OBJECT
public:
    Gang(JobPlan &plan, EventSink &events, ProductionRecord *record, QObject *parent = nullptr);
    ~Gang() override;

    void Start();
    // Ctrl-C or SIGTERM: a running build is stopped, every running exchange ends cleanly and
    // the run ends as cancelled.
    void Cancel(const QString &signalName);
    int ExitStatus() const { return m_exitStatus; }

signals:
    void Done();
    // --check: every image is built; the run ends right after this, with nothing opened.
    void ImagesReady();

private:
    enum class Phase
    {
        Idle,     // before Start
        Building, // the image builds; no unit has been spoken to
        Running,  // round m_round runs; m_unitsLeft units have not ended it yet
        Between,  // --rounds: a round ended, the next one is queued
        Waiting,  // --loop: a round ended, the next waits for a line on standard input
        Finished, // `end` went out; nothing follows
    };

    void BuildNextImage();
    void OnImageBuilt(const ImageMakerResult &result);
    // Starts round m_round + 1 on every unit; nothing unless the phase allows a round.
    void StartRound();
    // A unit's round `round` ended; the round ends with the last of its units.
    void OnUnitFinished(UnitJob *unit, int round);
    void EndRound();
    void OnLine();
    void OnInputEnded();
    void FinishRun();
    void Fail(int status, const QString &message);

    JobPlan &m_plan;
    EventSink &m_events;
    ProductionRecord *m_record;
    std::vector<std::unique_ptr<UnitJob>> m_units; // in --port order
    QTimer m_tick;
    // Builds in a temporary folder of its own, so runs side by side never pack each other's pages.
    ImageMaker m_maker;
    int m_buildStep = -1;
    StdinLines *m_stdin = nullptr;
    Phase m_phase = Phase::Idle;
    int m_round = 0;
    int m_unitsLeft = 0;
    int m_exitStatus = 0;
    bool m_cancelled = false;
    bool m_inputEnded = false; // --loop: standard input has ended
    QString m_cancelledBy;
    int m_cancelStatus = ExitStatus::kCancelled; // 128 + the first signal's number
};
