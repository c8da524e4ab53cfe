#include "UnitJob.h"

#include "EventOutput.h"
#include "ProductionRecord.h"
#include "exchanges/MacAssignment.h"
#include "exchanges/MacCounter.h"
#include "exchanges/MacNumber.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/WriteExchange.h"
#include "settings/DateTimeText.h"
#include "settings/SettingsFile.h"

#include <QDateTime>
#include <QMetaObject>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A step's fields with its verdict, as its record line and its step-end event carry them.
QJsonObject WithResult(QJsonObject object, const StepOutcome &outcome)
{
    object["result"] = outcome.result;
    object["error"] = outcome.error;
    object["message"] = outcome.message;
    return object;
}

} // namespace

UnitJob::UnitJob(const JobPlan &plan, const UnitPort &port, EventSink &events,
                 ProductionRecord *record, QObject *parent)
    : QObject(parent), m_plan(plan), m_unitPort(port), m_report(events, port.name),
      m_record(plan, port, events, record), m_engine(m_port, *this, *this)
{
    connect(&m_engine, &ExchangeEngine::Finished, this, &UnitJob::OnFinished);
    connect(&m_engine, &ExchangeEngine::UnitVersionAnswered, this, [this](const QString &version) {
        if (!m_running)
            return;
        QJsonObject event = m_report.Event("unit");
        event["step"] = StepName(CurrentStep().options.kind);
        event["unitVersion"] = version;
        m_report.Emit(event);
    });
    connect(&m_port, &QtSerialPortIo::Notice, this, [this](const QString &text) {
        QJsonObject event = m_report.Event("warning");
        event["text"] = text;
        m_report.Emit(event);
    });
}

UnitJob::~UnitJob()
{
    m_engine.disconnect(this);
    m_engine.Cancel(QStringLiteral("the program's end"));
}

bool UnitJob::StartRound(int round)
{
    return BeginRound(round);
}

bool UnitJob::CancelBeforeStart(int round, const QString &byWhom)
{
    if (!BeginRound(round))
        return false;
    m_cancelRequested = true;
    m_cancelledBy = byWhom;
    return true;
}

bool UnitJob::BeginRound(int round)
{
    if (m_running)
        return false;
    m_round = round;
    m_stepIndex = 0;
    m_running = true;
    m_cancelRequested = false;
    m_stepsDone = QJsonArray();
    m_unitVersion.clear();
    m_outcome = UnitOutcome();
    m_outcomeMessage.clear();
    m_failedStep.clear();
    m_macNumber = -1;
    m_macAddress.clear();
    m_macSent.clear();
    m_macStepUnrecorded = false;
    m_macAnswered.clear();
    m_roundClock.start();
    m_resultEvent = QJsonObject();
    m_report.SetRound(round);
    QJsonObject event = m_report.Event("start");
    event["device"] = m_unitPort.device;
    m_report.Emit(event);
    // Before anything is sent, so a process killed mid-round still leaves its trace; the
    // first step starts when the line is written, or fails at once when it was not.
    m_startError.clear();
    m_lineWriting = true;
    m_record.Start(round, this, [this, round](const QString &error) {
        if (!m_running || round != m_round || !m_lineWriting)
            return;
        m_lineWriting = false;
        m_startError = error;
        StartStep();
    });
    return true;
}

void UnitJob::QueueStep()
{
    const int round = m_round;
    const int step = m_stepIndex;
    QMetaObject::invokeMethod(
        this,
        [this, round, step] {
            if (m_running && round == m_round && step == m_stepIndex)
                StartStep();
        },
        Qt::QueuedConnection);
}

bool UnitJob::Launch(std::unique_ptr<SnapshotSettingsStore> store,
                     std::unique_ptr<Exchange> exchange)
{
    if (m_engine.Running())
        return false;
    m_exchange = std::move(exchange);
    m_store = std::move(store);
    return m_engine.Start(*m_exchange);
}

void UnitJob::Cancel(const QString &byWhom)
{
    if (!m_running)
        return;
    m_cancelRequested = true;
    m_cancelledBy = byWhom;
    if (m_lineWriting)
        return; // the record's answer comes first; what follows sees the request
    if (m_macReserving) {
        // Nothing went out: the step ends now, and a number that arrives late goes back.
        ++m_macRequest;
        m_macReserving = false;
        EmitMacStep(m_macStepEvent);
        StepOutcome outcome;
        outcome.result = Verdict::kCancelled;
        outcome.exitStatus = ExitStatus::kCancelled;
        outcome.message =
            QStringLiteral("%1 cancelled by %2 while waiting for the %3")
                .arg(StepName(StepKind::AssignMac), byWhom, m_plan.macSource->Describe());
        EndStep(outcome);
        return;
    }
    // Ends at once (Finished follows from inside); between two steps the next one sees the
    // request instead.
    m_engine.Cancel(byWhom);
}

void UnitJob::StartStep()
{
    const StepPlan &step = CurrentStep();
    m_stepClock.start();
    m_report.BeginProgress();
    QJsonObject event = m_report.Event("step");
    event["step"] = StepName(step.options.kind);

    if (!m_startError.isEmpty()) {
        // A round the record has no start line of sends nothing.
        StepOutcome outcome;
        outcome.result = Verdict::kFailed;
        outcome.exitStatus = ExitStatus::kFileUnusable;
        outcome.message = m_startError;
        EndStep(outcome);
        return;
    }

    if (m_cancelRequested) {
        StepOutcome outcome;
        outcome.result = Verdict::kCancelled;
        outcome.exitStatus = ExitStatus::kCancelled;
        outcome.message = QStringLiteral("%1 cancelled by %2 before it started")
                              .arg(StepName(step.options.kind), m_cancelledBy);
        EndStep(outcome);
        return;
    }

    std::unique_ptr<SnapshotSettingsStore> store;
    std::unique_ptr<Exchange> exchange;
    switch (step.options.kind) {
    case StepKind::Read:
    case StepKind::Verify:
        store = std::make_unique<SnapshotSettingsStore>();
        exchange = std::make_unique<ReadExchange>(*store);
        break;
    case StepKind::Write: {
        store = std::make_unique<SnapshotSettingsStore>(step.settings);
        auto write = std::make_unique<WriteExchange>(*store);
        write->SetSendAllLines(step.options.allLines);
        exchange = std::move(write);
        break;
    }
    case StepKind::AssignMac:
        ReserveMacNumber(event);
        return;
    case StepKind::Download: {
        auto download = std::make_unique<ImageDownload>(static_cast<DownloadView &>(*this));
        download->SetImage(step.image.bytes);
        exchange = std::move(download);
        break;
    }
    }
    m_report.Emit(event);
    if (!Launch(std::move(store), std::move(exchange))) {
        StepOutcome outcome;
        outcome.result = Verdict::kFailed;
        outcome.exitStatus = ExitStatus::kNoCommunication;
        outcome.message = QStringLiteral("The port is still busy with the last exchange");
        EndStep(outcome);
    }
}

void UnitJob::OnFinished(const ExchangeResult &result)
{
    if (!m_running)
        return;
    if (!result.unitVersion.isEmpty())
        m_unitVersion = result.unitVersion;
    StepOutcome outcome = m_report.FromResult(result);
    const StepPlan &step = CurrentStep();
    switch (step.options.kind) {
    case StepKind::Read:
        SaveRead(m_report.ConcludeRead(result, m_store->Settings(), &outcome), &outcome);
        break;
    case StepKind::Write:
        m_report.ConcludeWrite(result, step, &outcome);
        break;
    case StepKind::Verify:
        m_report.ConcludeVerify(result, step, m_store->Settings(), &outcome);
        break;
    case StepKind::AssignMac:
        if (m_macReading)
            MacAddressRead(result, outcome);
        else
            FinishMac(result, outcome);
        return;
    case StepKind::Download:
        m_report.ConcludeDownload(result, step.image, &outcome);
        break;
    }
    EndStep(outcome);
}

void UnitJob::SaveRead(const CommandQueue &lines, StepOutcome *outcome)
{
    if (!outcome->details.contains("lines"))
        return; // nothing was read
    const QString path = ReadOutputPath(CurrentStep().options, m_unitPort);
    if (!path.isEmpty()) {
        QString error;
        if (!SaveSettingsFile(path, lines, &error)) {
            outcome->result = Verdict::kFailed;
            outcome->exitStatus = ExitStatus::kFileUnusable;
            outcome->message = error;
            return;
        }
        outcome->details["output"] = path;
    } else if (m_plan.readToStdout) {
        const QByteArray bytes = SettingsFileBytes(lines);
        // Settings that never reached standard output (a full disk, a closed pipe) were not read
        // for whoever waits for them.
        errno = 0;
        if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) !=
                size_t(bytes.size()) ||
            std::fflush(stdout) != 0) {
            outcome->result = Verdict::kFailed;
            outcome->exitStatus = ExitStatus::kFileUnusable;
            outcome->message = QStringLiteral("Cannot write the settings to standard output: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
}

MacNumberHolder UnitJob::MacHolder() const
{
    return MacNumberHolder{m_plan.station, m_unitPort.name, m_plan.runId};
}

void UnitJob::ReserveMacNumber(const QJsonObject &stepEvent)
{
    const StepOptions &options = CurrentStep().options;
    m_macFromCounter = options.macSource == StepOptions::MacSource::Next;
    m_macStepEmitted = false;
    MacNumberSource *source = m_plan.macSource.get();
    if (!source) {
        // A typed number on a workstation that keeps no counter.
        StartMacExchange(stepEvent, options.macNumber);
        return;
    }
    m_macReserving = true;
    m_macStepEvent = stepEvent;
    const int request = ++m_macRequest;
    if (m_macFromCounter) {
        if (!options.newMac && source->KnowsAddresses())
            ReadMacAddress();
        else
            TakeMacNumber();
        return;
    }
    const int number = options.macNumber;
    source->Claim(number, MacHolder(), this, [this, number, request](const MacNumberReply &reply) {
        if (!MacRequestCurrent(request))
            return;
        if (!reply.ok) {
            MacSourceFailed(m_macStepEvent, reply.error);
            return;
        }
        if (reply.givenBefore) {
            m_report.Log(StepKind::AssignMac,
                         QStringLiteral("MAC number %1 was given out before; sent again as asked")
                             .arg(MacHex(number)));
        }
        MarkMacNumberSent(number);
    });
}

void UnitJob::ReadMacAddress()
{
    // An exchange runs now: a cancel goes to the engine and ends the step through it.
    m_macReserving = false;
    m_macReading = true;
    EmitMacStep(m_macStepEvent);
    auto store = std::make_unique<SnapshotSettingsStore>();
    auto read = std::make_unique<ReadExchange>(*store);
    read->SetQueries({QStringLiteral("ma")});
    if (!Launch(std::move(store), std::move(read))) {
        m_macReading = false;
        StepOutcome outcome;
        outcome.result = Verdict::kFailed;
        outcome.exitStatus = ExitStatus::kNoCommunication;
        outcome.message = QStringLiteral("The port is still busy with the last exchange");
        EndStep(outcome);
    }
}

void UnitJob::MacAddressRead(const ExchangeResult &result, const StepOutcome &outcome)
{
    m_macReading = false;
    if (result.outcome != ExchangeResult::Outcome::Succeeded &&
        result.outcome != ExchangeResult::Outcome::Incomplete) {
        // No unit, an unsupported version, a cancel: nothing was taken or sent.
        EndStep(outcome);
        return;
    }
    // An address the unit would not tell gets a new number, as without a pool.
    const QString address = result.Succeeded() ? m_store->Settings().macAddress : QString();
    const int number = MacNumberOfAddress(address);
    m_macReserving = true;
    if (number < 0) {
        TakeMacNumber();
        return;
    }
    MacNumberSource *source = m_plan.macSource.get();
    const int request = m_macRequest;
    source->LookUp(
        number, this, [this, source, request, number, address](const MacNumberLookup &found) {
            if (!MacRequestCurrent(request))
                return;
            if (!found.ok) {
                MacSourceFailed(m_macStepEvent, found.error);
                return;
            }
            if (!found.confirmed || found.address.compare(address, Qt::CaseInsensitive) != 0) {
                TakeMacNumber();
                return;
            }
            m_macReserving = false;
            m_macNumber = number;
            m_macAddress = address;
            StepOutcome kept;
            kept.result = Verdict::kKept;
            kept.details["mac"] = MacHex(number);
            kept.details["macAddress"] = address;
            kept.message = QStringLiteral("MAC address %1 kept: %2 shows MAC number %3 as "
                                          "confirmed for it")
                               .arg(address, source->Describe(), MacNumberText(number));
            EndStep(kept);
        });
}

void UnitJob::TakeMacNumber()
{
    MacNumberSource *source = m_plan.macSource.get();
    const int request = m_macRequest;
    source->Take(MacHolder(), this, [this, source, request](const MacNumberReply &reply) {
        if (!MacRequestCurrent(request)) {
            // Cancelled while waiting: the number never went out.
            if (reply.ok)
                source->GiveBack(reply.number, this, [](const MacNumberReply &) {});
            return;
        }
        if (!reply.ok) {
            MacSourceFailed(m_macStepEvent, reply.error);
            return;
        }
        MarkMacNumberSent(reply.number);
    });
}

void UnitJob::EmitMacStep(const QJsonObject &stepEvent)
{
    if (m_macStepEmitted)
        return;
    m_macStepEmitted = true;
    m_report.Emit(stepEvent);
}

void UnitJob::MarkMacNumberSent(int number)
{
    MacNumberSource *source = m_plan.macSource.get();
    const int request = m_macRequest;
    const bool taken = m_macFromCounter;
    source->MarkSent(number, this,
                     [this, source, request, number, taken](const MacNumberReply &reply) {
                         const bool current = MacRequestCurrent(request);
                         if (taken && (!current || !reply.ok))
                             source->GiveBack(number, this, [](const MacNumberReply &) {});
                         if (!current)
                             return;
                         if (!reply.ok) {
                             MacSourceFailed(m_macStepEvent, reply.error);
                             return;
                         }
                         StartMacExchange(m_macStepEvent, number);
                     });
}

void UnitJob::StartMacExchange(QJsonObject stepEvent, int number)
{
    m_macReserving = false;
    m_macNumber = number;
    stepEvent["mac"] = MacHex(number);
    auto store = std::make_unique<SnapshotSettingsStore>();
    auto mac = std::make_unique<MacAssignment>(*store);
    mac->SetNumber(number);
    EmitMacStep(stepEvent);
    if (!Launch(std::move(store), std::move(mac))) {
        // The line never went out: a taken number goes back.
        if (m_macFromCounter && m_plan.macSource)
            m_plan.macSource->GiveBack(number, this, [](const MacNumberReply &) {});
        StepOutcome outcome;
        outcome.result = Verdict::kFailed;
        outcome.exitStatus = ExitStatus::kNoCommunication;
        outcome.message = QStringLiteral("The port is still busy with the last exchange");
        EndStep(outcome);
    }
}

void UnitJob::MacSourceFailed(const QJsonObject &stepEvent, const QString &error)
{
    m_macReserving = false;
    EmitMacStep(stepEvent);
    StepOutcome outcome;
    outcome.result = Verdict::kFailed;
    outcome.exitStatus = ExitStatus::kFileUnusable;
    outcome.message = error;
    EndStep(outcome);
}

void UnitJob::FinishMac(const ExchangeResult &result, StepOutcome outcome)
{
    m_macAddress = m_report.ConcludeMac(result, &outcome);
    if (result.macSent >= 0)
        m_macSent = MacHex(result.macSent);
    m_macAnswered = result.macAnswered;
    MacNumberSource *source = m_plan.macSource.get();
    const bool sent = result.macSent >= 0;
    if (!source || (!sent && !m_macFromCounter)) {
        EndStep(outcome);
        return;
    }
    const int request = ++m_macRequest;
    const int number = m_macNumber;
    auto end = [this, request, outcome, sent](const MacNumberReply &reply) mutable {
        if (!MacRequestCurrent(request))
            return;
        if (sent && !reply.ok)
            m_report.Log(StepKind::AssignMac, reply.error);
        if (!sent)
            outcome.details["macReturned"] = reply.ok;
        EndStep(outcome);
    };
    if (!sent)
        source->GiveBack(number, this, end); // the port never took the line
    else if (outcome.result == Verdict::kOk)
        source->Confirm(number, m_macAddress, this, end);
    else
        source->Void(number, outcome.message, this, end);
}

void UnitJob::EndStep(const StepOutcome &outcome)
{
    if (m_lineWriting)
        return; // a step ends once
    const QString step = StepName(CurrentStep().options.kind);
    // The step's own fields, as its event and its record line both carry them.
    QJsonObject fields{{"step", step}, {"durationMs", m_stepClock.elapsed()}};
    if (!m_unitVersion.isEmpty())
        fields["unitVersion"] = m_unitVersion;
    for (auto it = outcome.details.constBegin(); it != outcome.details.constEnd(); ++it)
        fields[it.key()] = it.value();
    m_lineWriting = true;
    const int round = m_round;
    m_record.Step(m_round, WithResult(fields, outcome), this,
                  [this, round, outcome, fields](const QString &error) {
                      if (!m_running || round != m_round || !m_lineWriting)
                          return;
                      m_lineWriting = false;
                      StepWritten(outcome, fields, error);
                  });
}

void UnitJob::StepWritten(StepOutcome outcome, const QJsonObject &fields, const QString &error)
{
    const QString step = fields.value(QLatin1String("step")).toString();
    if (!error.isEmpty() && fields.contains(QLatin1String("macSent")))
        m_macStepUnrecorded = true;
    if (!error.isEmpty() && (outcome.result == Verdict::kOk || outcome.result == Verdict::kKept)) {
        // A unit without its record line is not done: the line must be written again.
        outcome.result = Verdict::kFailed;
        outcome.exitStatus = ExitStatus::kFileUnusable;
        outcome.message = error;
    }
    QJsonObject event = m_report.Event("step-end");
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        event[it.key()] = it.value();
    event = WithResult(event, outcome);
    event["exitStatus"] = outcome.exitStatus;
    m_report.Emit(event);

    QJsonObject done{{"step", step}, {"result", outcome.result}};
    if (outcome.details.contains("mac"))
        done["mac"] = outcome.details["mac"];
    m_stepsDone.append(done);

    if (outcome.result != Verdict::kOk && outcome.result != Verdict::kKept) {
        m_outcome.result = outcome.result;
        m_outcome.exitStatus = outcome.exitStatus;
        m_outcome.error = outcome.error;
        m_outcomeMessage = outcome.message;
        m_failedStep = step;
        EndRound();
        return;
    }
    ++m_stepIndex;
    if (m_stepIndex >= m_plan.steps.size()) {
        EndRound();
        return;
    }
    QueueStep();
}

void UnitJob::EndRound()
{
    if (!m_running || m_lineWriting)
        return;
    const qint64 durationMs = m_roundClock.elapsed();
    QJsonObject verdict{{"result", m_outcome.result},
                        {"error", m_outcome.error},
                        {"exitStatus", m_outcome.exitStatus},
                        {"message", m_outcomeMessage},
                        {"durationMs", durationMs}};
    if (!m_unitVersion.isEmpty())
        verdict["unitVersion"] = m_unitVersion;
    if (!m_macAddress.isEmpty())
        verdict["macAddress"] = m_macAddress;
    QJsonObject line = verdict;
    if (!m_failedStep.isEmpty())
        line["failedStep"] = m_failedStep;
    if (!m_macSent.isEmpty())
        line["macSent"] = m_macSent;
    if (m_macStepUnrecorded)
        line["macStepUnrecorded"] = true;
    if (!m_macAnswered.isEmpty())
        line["macAnswered"] = m_macAnswered;
    // The steps that ran, each with the files it used.
    QJsonArray steps;
    for (int i = 0; i < m_stepsDone.size(); ++i) {
        QJsonObject entry = m_record.PlannedStep(m_plan.steps.at(i));
        const QJsonObject done = m_stepsDone.at(i).toObject();
        for (auto it = done.constBegin(); it != done.constEnd(); ++it)
            entry[it.key()] = it.value();
        steps.append(entry);
    }
    line["steps"] = steps;
    m_lineWriting = true;
    const int round = m_round;
    m_record.Unit(m_round, line, this, [this, round, verdict](const QString &error) {
        if (!m_running || round != m_round || !m_lineWriting)
            return;
        m_lineWriting = false;
        UnitWritten(verdict, error);
    });
}

void UnitJob::UnitWritten(QJsonObject verdict, const QString &error)
{
    if (!error.isEmpty() && m_outcome.result == Verdict::kOk) {
        // A round the record has no verdict of is not done.
        m_outcome.result = Verdict::kFailed;
        m_outcome.exitStatus = ExitStatus::kFileUnusable;
        m_outcomeMessage = error;
        verdict["result"] = m_outcome.result;
        verdict["exitStatus"] = m_outcome.exitStatus;
        verdict["message"] = m_outcomeMessage;
    }
    QJsonObject event = m_report.Event("result");
    for (auto it = verdict.constBegin(); it != verdict.constEnd(); ++it)
        event[it.key()] = it.value();
    event["device"] = m_unitPort.device;
    if (!m_failedStep.isEmpty())
        event["step"] = m_failedStep;
    event["steps"] = m_stepsDone;
    m_resultEvent = event;
    m_running = false;
    emit RoundFinished(this, m_round);
}

void UnitJob::AppendLog(const QString &line)
{
    // The closing lines of an exchange come with its result instead.
    if (!m_engine.Running())
        return;
    for (const QString &text : PlainLineBreaks(line).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        m_report.Log(CurrentStep().options.kind, text.trimmed());
}

void UnitJob::ShowMessage(MessageKind, const QString &) {}

void UnitJob::ShowPortError(const QString &) {}

QString UnitJob::DateTimeText()
{
    return LocalDateTimeText(QDateTime::currentDateTime());
}

void UnitJob::SetProgressVisible(bool visible)
{
    if (visible)
        m_report.BeginProgress();
}

void UnitJob::SetProgress(int percent, qint64 bytesSent, qint64 total)
{
    m_report.Progress(percent, bytesSent, total);
}
