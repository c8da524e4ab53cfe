#include "Gang.h"
#include "settings/FileLocations.h"

#include "EventOutput.h"
#include "Interrupts.h"
#include "TolvexVersion.h"
#include "UnitJob.h"

#include <QDateTime>
#include <QJsonArray>

namespace {

QJsonObject RunEvent(const char *type)
{
    return QJsonObject{{"event", QLatin1String(type)},
                       {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}};
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
    QJsonObject event = RunEvent("run");
    event["version"] = QStringLiteral(TOLVEX_VERSION);
    event["station"] = m_plan.station;
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
    m_tick.start();
    BuildNextImage();
}

void Gang::BuildNextImage()
{
    if (m_cancelled)
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
    QJsonObject event = RunEvent("build");
    event["state"] = QStringLiteral("begin");
    event["pages"] = image.pages.Count();
    event["source"] = image.source;
    m_events.Emit(event);
    m_maker.Start(FindBuilder(SystemFileFolders(m_plan.programFolder)), image.pages);
}

void Gang::OnImageBuilt(const ImageMakerResult &result)
{
    if (m_cancelled) {
        m_round = 1;
        for (const auto &unit : m_units)
            unit->CancelBeforeStart(m_round, m_cancelledBy);
        return;
    }
    ImageInput &image = m_plan.steps[m_buildStep].image;
    QJsonObject event = RunEvent("build");
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
    if (m_cancelled || m_finished)
        return;
    ++m_round;
    for (const auto &unit : m_units)
        unit->StartRound(m_round);
}

void Gang::OnUnitFinished()
{
    for (const auto &unit : m_units) {
        if (unit->Running())
            return;
    }
    EndRound();
}

void Gang::EndRound()
{
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    int roundStatus = 0;
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
    }
    if (m_exitStatus == 0)
        m_exitStatus = roundStatus;
    QJsonObject event = RunEvent("round-end");
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
        m_waiting = true;
        QJsonObject waiting = RunEvent("waiting");
        waiting["round"] = m_round + 1;
        m_events.Emit(waiting);
        if (!m_stdin) {
            m_stdin = new StdinLines(this);
            // Lines typed while a round runs are not a request for another one.
            connect(m_stdin, &StdinLines::LineRead, this, [this] {
                if (!m_waiting)
                    return;
                m_waiting = false;
                StartRound();
            });
            connect(m_stdin, &StdinLines::Finished, this, [this] {
                m_inputEnded = true;
                if (m_waiting)
                    FinishRun();
            });
        }
        return;
    }
    if (m_round < m_plan.rounds) {
        QMetaObject::invokeMethod(this, &Gang::StartRound, Qt::QueuedConnection);
        return;
    }
    FinishRun();
}

void Gang::FinishRun()
{
    if (m_finished)
        return;
    // A line read while a round runs would start another before this one ended.
    for (const auto &unit : m_units) {
        if (unit->Running())
            return;
    }
    m_finished = true;
    m_tick.stop();
    m_events.Tick();
    if (m_cancelled)
        m_exitStatus = m_cancelStatus;
    QJsonObject event = RunEvent("end");
    event["exitStatus"] = m_exitStatus;
    m_events.Emit(event);
    emit Done();
}

void Gang::Fail(int status, const QString &message)
{
    m_exitStatus = status;
    QJsonObject event = RunEvent("error");
    event["exitStatus"] = status;
    event["message"] = message;
    m_events.Emit(event);
    FinishRun();
}

void Gang::Cancel(const QString &signalName)
{
    if (m_finished)
        return;
    const bool first = !m_cancelled;
    m_cancelled = true;
    if (!first)
        return;
    m_cancelledBy = signalName == QLatin1String("SIGINT") ? QStringLiteral("Ctrl-C") : signalName;
    m_cancelStatus = SignalExitStatus(signalName);
    if (m_maker.Running()) {
        // The build's end cancels every unit's round before it starts.
        m_maker.Cancel();
        return;
    }
    bool anyRunning = false;
    for (const auto &unit : m_units) {
        if (unit->Running()) {
            anyRunning = true;
            unit->Cancel(m_cancelledBy);
        }
    }
    if (!anyRunning)
        FinishRun();
}
