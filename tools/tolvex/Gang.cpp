#include "Gang.h"
#include "settings/FileLocations.h"

#include "EventOutput.h"
#include "Interrupts.h"
#include "TolvexVersion.h"
#include "UnitJob.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

QJsonObject RunEvent(EventSink &events, const char *type)
{
    return QJsonObject{{"event", QLatin1String(type)}, {"time", events.TimeText()}};
}

} // namespace

Gang::Gang(JobPlan &plan, EventSink &events, ProductionRecord *record, QObject *parent)
    : QObject(parent), m_plan(plan), m_events(events), m_record(record)
{
    m_tick.setInterval(100);
    connect(&m_tick, &QTimer::timeout, this, [this] {
        for (const auto &unit : m_units)
            unit->Tick();
        m_events.Tick();
    });
    connect(&m_maker, &ImageMaker::Finished, this, &Gang::OnImageBuilt);
    for (const UnitPort &port : m_plan.ports) {
        m_units.push_back(std::make_unique<UnitJob>(m_plan, port, m_events, m_record));
        connect(m_units.back().get(), &UnitJob::RoundFinished, this, &Gang::OnUnitFinished);
    }
}

Gang::~Gang() = default;

void Gang::Start()
{
    QJsonObject event = RunEvent(m_events, "run");
    event["version"] = QStringLiteral(TOLVEX_VERSION);
    event["station"] = m_plan.station;
    event["runId"] = m_plan.runId;
    QJsonArray ports;
    QJsonArray devices;
    for (const UnitPort &port : m_plan.ports) {
        ports.append(port.name);
        devices.append(port.device);
    }
    event["ports"] = ports;
    event["devices"] = devices;
    QJsonArray steps;
    for (const StepPlan &step : m_plan.steps)
        steps.append(StepName(step.options.kind));
    event["steps"] = steps;
    if (m_plan.loop)
        event["loop"] = true;
    else
        event["rounds"] = m_plan.rounds;
    m_events.Emit(event);
    m_phase = Phase::Building;
    m_tick.start();
    if (m_plan.loop) {
        // Read from the start, so a line typed while a round runs is read (and dropped) then,
        // never taken later as the request for the next round.
        m_stdin = new StdinLines(this);
        connect(m_stdin, &StdinLines::LineRead, this, &Gang::OnLine);
        connect(m_stdin, &StdinLines::Finished, this, &Gang::OnInputEnded);
    }
    BuildNextImage();
}

void Gang::BuildNextImage()
{
    if (m_phase != Phase::Building)
        return;
    do {
        ++m_buildStep;
    } while (m_buildStep < m_plan.steps.size() &&
             (m_plan.steps.at(m_buildStep).options.kind != StepKind::Download ||
              !m_plan.steps.at(m_buildStep).image.NeedsBuild()));
    if (m_buildStep >= m_plan.steps.size()) {
        if (m_plan.checkOnly) {
            emit ImagesReady();
            FinishRun();
            return;
        }
        StartRound();
        return;
    }
    const ImageInput &image = m_plan.steps.at(m_buildStep).image;
    QJsonObject event = RunEvent(m_events, "build");
    event["state"] = QStringLiteral("begin");
    event["pages"] = image.pages.Count();
    event["source"] = image.source;
    m_events.Emit(event);
    m_maker.Start(FindBuilder(SystemFileFolders(m_plan.programFolder)), image.pages);
}

void Gang::OnImageBuilt(const ImageMakerResult &result)
{
    if (m_phase != Phase::Building)
        return;
    if (m_cancelled) {
        // Every unit's round ends at once as cancelled, so the record shows what did not run.
        m_phase = Phase::Running;
        m_round = 1;
        m_unitsLeft = int(m_units.size());
        for (const auto &unit : m_units)
            unit->CancelBeforeStart(m_round, m_cancelledBy);
        return;
    }
    ImageInput &image = m_plan.steps[m_buildStep].image;
    QJsonObject event = RunEvent(m_events, "build");
    event["state"] = QStringLiteral("end");
    if (!result.ok) {
        event["result"] = QStringLiteral("failed");
        event["message"] = result.message;
        m_events.Emit(event);
        Fail(ExitStatus::kFileUnusable, result.message);
        return;
    }
    image.bytes = result.image;
    image.sha256 = Sha256Hex(image.bytes);
    event["result"] = QStringLiteral("ok");
    event["size"] = image.bytes.size();
    event["sha256"] = image.sha256;
    m_events.Emit(event);
    BuildNextImage();
}

void Gang::StartRound()
{
    if (m_phase != Phase::Building && m_phase != Phase::Between && m_phase != Phase::Waiting)
        return;
    if (m_cancelled) {
        FinishRun();
        return;
    }
    ++m_round;
    m_phase = Phase::Running;
    m_unitsLeft = int(m_units.size());
    // A unit whose round ends at once (a port that does not open) reports it from inside this
    // loop; the round still waits for every other unit.
    for (const auto &unit : m_units)
        unit->StartRound(m_round);
}

void Gang::OnUnitFinished(UnitJob *, int round)
{
    // Each unit reports each round it started once; anything else is not this round's end.
    if (m_phase != Phase::Running || round != m_round || m_unitsLeft <= 0)
        return;
    if (--m_unitsLeft == 0)
        EndRound();
}

void Gang::EndRound()
{
    m_phase = Phase::Between;
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    int roundStatus = 0;
    // In --port order, whatever order the units finished in.
    for (const auto &unit : m_units) {
        const UnitOutcome &outcome = unit->Outcome();
        if (outcome.result == QLatin1String("ok"))
            ++ok;
        else if (outcome.result == QLatin1String("cancelled"))
            ++cancelled;
        else
            ++failed;
        if (roundStatus == 0)
            roundStatus = outcome.exitStatus;
        m_events.Emit(unit->ResultEvent());
    }
    if (m_exitStatus == 0)
        m_exitStatus = roundStatus;
    QJsonObject event = RunEvent(m_events, "round-end");
    event["round"] = m_round;
    event["units"] = int(m_units.size());
    event["ok"] = ok;
    event["failed"] = failed;
    event["cancelled"] = cancelled;
    event["exitStatus"] = roundStatus;
    m_events.Emit(event);

    if (m_cancelled) {
        FinishRun();
        return;
    }
    if (m_plan.loop) {
        if (m_inputEnded) {
            FinishRun();
            return;
        }
        m_phase = Phase::Waiting;
        QJsonObject waiting = RunEvent(m_events, "waiting");
        waiting["round"] = m_round + 1;
        m_events.Emit(waiting);
        return;
    }
    if (m_round < m_plan.rounds) {
        // From the event loop: this may run inside the exchange that just ended.
        QMetaObject::invokeMethod(this, &Gang::StartRound, Qt::QueuedConnection);
        return;
    }
    FinishRun();
}

void Gang::OnLine()
{
    // Only a line read while the run waits for one starts a round; one typed while a round
    // runs is not a request for the next.
    if (m_phase == Phase::Waiting)
        StartRound();
}

void Gang::OnInputEnded()
{
    m_inputEnded = true;
    if (m_phase == Phase::Waiting)
        FinishRun();
}

void Gang::FinishRun()
{
    if (m_phase == Phase::Finished)
        return;
    m_phase = Phase::Finished;
    m_tick.stop();
    m_events.Tick();
    if (m_cancelled)
        m_exitStatus = m_cancelStatus;
    QJsonObject event = RunEvent(m_events, "end");
    event["exitStatus"] = m_exitStatus;
    m_events.Emit(event);
    emit Done();
}

void Gang::Fail(int status, const QString &message)
{
    m_exitStatus = status;
    QJsonObject event = RunEvent(m_events, "error");
    event["exitStatus"] = status;
    event["message"] = message;
    m_events.Emit(event);
    FinishRun();
}

void Gang::Cancel(const QString &signalName)
{
    if (m_phase == Phase::Finished || m_cancelled)
        return;
    m_cancelled = true;
    m_cancelledBy = signalName == QLatin1String("SIGINT") ? QStringLiteral("Ctrl-C") : signalName;
    m_cancelStatus = SignalExitStatus(signalName);
    switch (m_phase) {
    case Phase::Building:
        // The build's end cancels every unit's round before it starts.
        if (m_maker.Running())
            m_maker.Cancel();
        else
            FinishRun();
        return;
    case Phase::Running:
        // Units end now or, between two steps, at the next; the last one ends the round and
        // the run. The round may end inside this loop.
        for (const auto &unit : m_units)
            unit->Cancel(m_cancelledBy);
        return;
    case Phase::Idle:
    case Phase::Between:
    case Phase::Waiting:
        FinishRun();
        return;
    case Phase::Finished:
        return;
    }
}
