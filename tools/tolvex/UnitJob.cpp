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
#include "settings/SettingsLineCompare.h"
#include "settings/SettingsLines.h"

#include <QDateTime>
#include <QJsonArray>
#include <QMetaObject>
#include <QSet>

#include <cstdio>

namespace {

const QString kOk = QStringLiteral("ok");
const QString kFailed = QStringLiteral("failed");
const QString kIncomplete = QStringLiteral("incomplete");
const QString kCancelled = QStringLiteral("cancelled");

int ExitStatusFor(ExchangeError error)
{
    switch (error) {
    case ExchangeError::NotFoundTooManyErrors:
    case ExchangeError::NotFound:
    case ExchangeError::NotFoundRead:
        return ExitStatus::kNotFound;
    case ExchangeError::FileUnreadable:
        return ExitStatus::kFileUnusable;
    case ExchangeError::WriteMismatch:
        return ExitStatus::kMismatch;
    case ExchangeError::NoCommunication:
    case ExchangeError::None:
        break;
    }
    return ExitStatus::kNoCommunication;
}

QString MacHex(int number)
{
    return QStringLiteral("%1").arg(number, 4, 16, QLatin1Char('0')).toUpper();
}

// Line breaks of a box text as plain "\n".
QString Lines(const QString &text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

// A port's name as part of a file name: "/dev/ttyUSB0" gives "dev_ttyUSB0".
QString FileNamePart(const QString &port)
{
    QString part = port;
    for (QChar &c : part) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            c = QLatin1Char('_');
    }
    while (part.startsWith(QLatin1Char('_')))
        part.remove(0, 1);
    return part;
}

QJsonArray AddressJson(const std::array<QString, 4> &address)
{
    return QJsonArray{address[0], address[1], address[2], address[3]};
}

// The settings as a JSON object, field by field as the window shows them.
QJsonObject SettingsJson(const SettingsSnapshot &s)
{
    static const int kBauds[] = {2400, 4800, 9600, 19200, 38400};
    QJsonObject o;
    o["ipAddress"] = AddressJson(s.ip);
    o["gateway"] = AddressJson(s.gateway);
    o["subnetMask"] = AddressJson(s.submask);
    o["clientAddress"] = AddressJson(s.client);
    o["hysteresis"] =
        QJsonArray{s.hysteresis[0], s.hysteresis[1], s.hysteresis[2], s.hysteresis[3]};
    o["clientPort"] = s.clientPort;
    o["serverTimeout"] = s.serverTimeout;
    o["updatePeriod"] = s.updatePeriod;
    o["serialTimedMs"] = s.serialTimedInterval;
    o["serialBaud"] =
        s.baudIndex >= 0 && s.baudIndex < 5 ? QJsonValue(kBauds[s.baudIndex]) : QJsonValue();
    o["dhcp"] = s.dhcpEnabled;
    o["useBroadcast"] = s.useBroadcast;
    o["clientEnabled"] = s.clientEnabled;
    o["serialTimed"] = s.serialTimed;
    o["watchdog"] = s.enableWatchdog;
    o["macAddress"] = s.macAddress;
    return o;
}

QStringList WithoutLineEnds(const QStringList &lines)
{
    QStringList result;
    for (QString line : lines) {
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        result << line;
    }
    return result;
}

} // namespace

UnitJob::UnitJob(const JobPlan &plan, const UnitPort &port, EventSink &events,
                 ProductionRecord *record, QObject *parent)
    : QObject(parent), m_plan(plan), m_unitPort(port), m_events(events), m_record(record),
      m_engine(m_port, *this, *this)
{
    connect(&m_engine, &ExchangeEngine::Finished, this, &UnitJob::OnFinished);
}

UnitJob::~UnitJob()
{
    m_engine.disconnect(this);
    m_engine.Cancel(QStringLiteral("the program's end"));
}

QJsonObject UnitJob::Event(const char *type) const
{
    return QJsonObject{
        {"event", QLatin1String(type)},
        {"time", m_events.TimeText()},
        {"port", m_unitPort.name},
        {"round", m_round},
    };
}

void UnitJob::Emit(const QJsonObject &event)
{
    m_events.Emit(event);
}

bool UnitJob::StartRound(int round)
{
    if (!BeginRound(round))
        return false;
    QueueStep();
    return true;
}

bool UnitJob::CancelBeforeStart(int round, const QString &byWhom)
{
    if (!BeginRound(round))
        return false;
    m_cancelRequested = true;
    m_cancelledBy = byWhom;
    QueueStep();
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
    m_roundClock.start();
    m_resultEvent = QJsonObject();
    QJsonObject event = Event("start");
    event["device"] = m_unitPort.device;
    Emit(event);
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
    // Ends at once (Finished follows from inside); between two steps the next one sees the
    // request instead.
    m_engine.Cancel(byWhom);
}

void UnitJob::StartStep()
{
    const StepPlan &step = CurrentStep();
    m_stepClock.start();
    m_lastPercent = -1;
    m_firstBytes = -1;
    QJsonObject event = Event("step");
    event["step"] = StepName(step.options.kind);

    if (m_cancelRequested) {
        StepOutcome outcome;
        outcome.result = kCancelled;
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
    case StepKind::AssignMac: {
        m_macFromCounter = step.options.macSource == StepOptions::MacSource::Next;
        int number = step.options.macNumber;
        if (m_macFromCounter) {
            QString error;
            if (!TakeMacNumber(m_plan.counterPath, &number, &error)) {
                Emit(event);
                StepOutcome outcome;
                outcome.result = kFailed;
                outcome.exitStatus = ExitStatus::kFileUnusable;
                outcome.message = error;
                EndStep(outcome);
                return;
            }
        }
        m_macNumber = number;
        event["mac"] = MacHex(number);
        store = std::make_unique<SnapshotSettingsStore>();
        auto mac = std::make_unique<MacAssignment>(*store);
        mac->SetNumber(number);
        exchange = std::move(mac);
        break;
    }
    case StepKind::Download: {
        auto download = std::make_unique<ImageDownload>(static_cast<DownloadView &>(*this));
        download->SetImage(step.image.bytes);
        exchange = std::move(download);
        break;
    }
    }
    Emit(event);
    if (!Launch(std::move(store), std::move(exchange))) {
        StepOutcome outcome;
        outcome.result = kFailed;
        outcome.exitStatus = ExitStatus::kNoCommunication;
        outcome.message = QStringLiteral("The port is still busy with the last exchange");
        EndStep(outcome);
    }
}

UnitJob::StepOutcome UnitJob::FromResult(const ExchangeResult &result) const
{
    StepOutcome outcome;
    switch (result.outcome) {
    case ExchangeResult::Outcome::Succeeded:
        outcome.result = kOk;
        break;
    case ExchangeResult::Outcome::Incomplete:
        outcome.result = kIncomplete;
        outcome.exitStatus = ExitStatus::kMismatch;
        break;
    case ExchangeResult::Outcome::Failed:
        outcome.result = kFailed;
        outcome.error = result.ErrorNumber();
        outcome.exitStatus = ExitStatusFor(result.error);
        break;
    case ExchangeResult::Outcome::Cancelled:
        outcome.result = kCancelled;
        outcome.exitStatus = ExitStatus::kCancelled;
        break;
    }
    outcome.message = Lines(result.boxText.isEmpty() ? result.logLine : result.boxText);
    if (!result.diagnosis.isEmpty())
        outcome.message += QLatin1Char('\n') + result.diagnosis;
    if (!result.refusedLines.isEmpty())
        outcome.details["refused"] = QJsonArray::fromStringList(result.refusedLines);
    return outcome;
}

void UnitJob::OnFinished(const ExchangeResult &result)
{
    if (!m_running)
        return;
    if (!m_engine.UnitVersion().isEmpty())
        m_unitVersion = m_engine.UnitVersion();
    StepOutcome outcome = FromResult(result);
    switch (CurrentStep().options.kind) {
    case StepKind::Read:
        ConcludeRead(result, &outcome);
        break;
    case StepKind::Write:
        ConcludeWrite(&outcome);
        break;
    case StepKind::Verify:
        ConcludeVerify(result, &outcome);
        break;
    case StepKind::AssignMac:
        ConcludeMac(&outcome);
        break;
    case StepKind::Download: {
        const ImageInput &image = CurrentStep().image;
        // The last block's acknowledgement is the whole image: say so.
        if (result.Succeeded() && m_lastPercent != 100) {
            QJsonObject event = Event("progress");
            event["step"] = StepName(StepKind::Download);
            event["percent"] = 100;
            event["bytes"] = image.bytes.size();
            event["total"] = image.bytes.size();
            event["secondsLeft"] = 0;
            Emit(event);
        }
        outcome.details["image"] = QJsonObject{
            {"source", image.source}, {"size", image.bytes.size()}, {"sha256", image.sha256}};
        break;
    }
    }
    EndStep(outcome);
}

void UnitJob::ConcludeRead(const ExchangeResult &result, StepOutcome *outcome)
{
    if (result.outcome != ExchangeResult::Outcome::Succeeded &&
        result.outcome != ExchangeResult::Outcome::Incomplete)
        return;
    const SettingsSnapshot settings = m_store->Settings();
    CommandQueue all;
    BuildSettingsLines(settings, true, all);
    // A query the unit refused leaves its setting unknown: its line stays out of the file.
    QStringList refusedCodes;
    for (const QString &line : result.refusedLines)
        refusedCodes << line.toLower();
    CommandQueue kept;
    for (const QString &line : all.Items()) {
        const QString code = SettingsLineCode(line);
        if (code.isEmpty() || !refusedCodes.contains(code))
            kept.Add(line);
    }
    outcome->details["settings"] = SettingsJson(settings);
    outcome->details["lines"] = QJsonArray::fromStringList(WithoutLineEnds(kept.Items()));
    const QString outputPath = CurrentStep().options.outputPath;
    if (!outputPath.isEmpty()) {
        QString path = outputPath;
        path.replace(QLatin1String("{port}"), FileNamePart(m_unitPort.name));
        QString error;
        if (!SaveSettingsFile(path, kept, &error)) {
            outcome->result = kFailed;
            outcome->exitStatus = ExitStatus::kFileUnusable;
            outcome->message = error;
            return;
        }
        outcome->details["output"] = path;
    } else if (m_plan.readToStdout) {
        const QByteArray bytes = SettingsFileBytes(kept);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }
}

void UnitJob::ConcludeWrite(StepOutcome *outcome)
{
    auto *write = static_cast<WriteExchange *>(m_exchange.get());
    const QList<WriteExchange::Echo> echoes = write->Echoes();
    QJsonArray lines;
    QSet<int> used;
    for (const QString &line : write->Lines()) {
        QJsonObject entry{{"line", line}};
        QString verdict = QStringLiteral("unanswered");
        for (int i = 0; i < echoes.size(); ++i) {
            const WriteExchange::Echo &echo = echoes.at(i);
            if (used.contains(i) || echo.line != line)
                continue;
            used.insert(i);
            entry["answer"] = echo.answer;
            const bool refused = echo.answer == QLatin1String("Error");
            verdict = refused                   ? QStringLiteral("refused")
                      : echo.messages.isEmpty() ? kOk
                                                : QStringLiteral("mismatch");
            if (!echo.messages.isEmpty()) {
                QStringList messages;
                for (const QString &message : echo.messages)
                    messages << message.trimmed();
                entry["messages"] = QJsonArray::fromStringList(messages);
            }
            if (verdict != kOk) {
                QJsonObject event = Event("mismatch");
                event["step"] = StepName(StepKind::Write);
                event["kind"] = refused ? QStringLiteral("refused") : QStringLiteral("differs");
                event["line"] = line;
                event["answer"] = echo.answer;
                if (entry.contains("messages"))
                    event["messages"] = entry["messages"];
                Emit(event);
            }
            break;
        }
        entry["verdict"] = verdict;
        lines.append(entry);
    }
    outcome->details["settingsFile"] = CurrentStep().options.settingsPath;
    outcome->details["lines"] = lines;
}

void UnitJob::ConcludeVerify(const ExchangeResult &result, StepOutcome *outcome)
{
    const StepPlan &step = CurrentStep();
    outcome->details["settingsFile"] = step.options.settingsPath;
    if (result.outcome != ExchangeResult::Outcome::Succeeded &&
        result.outcome != ExchangeResult::Outcome::Incomplete)
        return;
    QStringList refusedCodes;
    for (const QString &line : result.refusedLines)
        refusedCodes << line.toLower();
    QStringList codes;
    for (const QString &code : step.codes) {
        if (!refusedCodes.contains(code))
            codes << code;
    }
    for (const QString &line : result.refusedLines) {
        QJsonObject event = Event("mismatch");
        event["step"] = StepName(StepKind::Verify);
        event["kind"] = QStringLiteral("refused");
        event["line"] = line;
        event["answer"] = QStringLiteral("Error");
        Emit(event);
    }
    const QList<SettingsLineDifference> differences =
        CompareSettingsLines(step.settings, m_store->Settings(), codes);
    QJsonArray list;
    QStringList named;
    for (const SettingsLineDifference &difference : differences) {
        list.append(QJsonObject{{"line", difference.expected}, {"unit", difference.actual}});
        named << difference.code;
        QJsonObject event = Event("mismatch");
        event["step"] = StepName(StepKind::Verify);
        event["kind"] = QStringLiteral("differs");
        event["line"] = difference.expected;
        event["answer"] = difference.actual;
        Emit(event);
    }
    outcome->details["differences"] = list;
    if (differences.isEmpty() && result.refusedLines.isEmpty()) {
        outcome->message = QStringLiteral("The unit holds the %1 settings of %2")
                               .arg(codes.size())
                               .arg(step.options.settingsPath);
        return;
    }
    outcome->result = kFailed;
    outcome->error = int(ExchangeError::WriteMismatch);
    outcome->exitStatus = ExitStatus::kMismatch;
    QStringList parts;
    if (!differences.isEmpty())
        parts << QStringLiteral("%1 of the settings in %2 differ on the unit: %3")
                     .arg(differences.size())
                     .arg(step.options.settingsPath, named.join(QStringLiteral(", ")));
    if (!result.refusedLines.isEmpty())
        parts << QStringLiteral("the unit refused: %1")
                     .arg(result.refusedLines.join(QStringLiteral(", ")));
    outcome->message = parts.join(QLatin1Char('\n'));
}

void UnitJob::ConcludeMac(StepOutcome *outcome)
{
    auto *mac = static_cast<MacAssignment *>(m_exchange.get());
    const bool sent = mac->NumberSent();
    outcome->details["macSent"] = sent;
    if (sent)
        outcome->details["mac"] = MacHex(m_macNumber);
    m_macAddress = m_store->Settings().macAddress;
    if (!m_macAddress.isEmpty())
        outcome->details["macAddress"] = m_macAddress;
    if (!sent && m_macFromCounter) {
        // Never sent: back to the counter, unless another was taken since.
        outcome->details["macReturned"] = ReturnMacNumber(m_plan.counterPath, m_macNumber);
    }
    if (sent && !m_macFromCounter) {
        QString error;
        if (!NoteMacNumberGiven(m_plan.counterPath, m_macNumber, &error)) {
            QJsonObject event = Event("log");
            event["step"] = StepName(StepKind::AssignMac);
            event["text"] =
                QStringLiteral("MAC counter not moved past %1: %2").arg(MacHex(m_macNumber), error);
            Emit(event);
        }
    }
    // The exchange fails a number the unit did not take; here that failure is named.
    if (outcome->result != kOk && (mac->NumberTaken() || !sent || !mac->RefusedLines().isEmpty()))
        return;
    // The unit answers with the address it now holds; one that does not end in the number
    // sent did not take it.
    if (MacNumberOfAddress(m_macAddress) == m_macNumber) {
        outcome->message = QStringLiteral("MAC address %1").arg(m_macAddress);
        return;
    }
    outcome->result = kFailed;
    outcome->error = int(ExchangeError::WriteMismatch);
    outcome->exitStatus = ExitStatus::kMismatch;
    outcome->message =
        m_macAddress.isEmpty()
            ? QStringLiteral("The unit did not answer with its MAC address")
            : QStringLiteral("The unit answered with MAC address %1, which does not end in %2")
                  .arg(m_macAddress, MacHex(m_macNumber).insert(2, QLatin1Char(':')));
    QJsonObject event = Event("mismatch");
    event["step"] = StepName(StepKind::AssignMac);
    event["kind"] = QStringLiteral("differs");
    event["line"] = MacAssignmentLine(m_macNumber).trimmed();
    event["answer"] = m_macAddress;
    Emit(event);
}

void UnitJob::EndStep(const StepOutcome &given)
{
    StepOutcome outcome = given;
    const QString step = StepName(CurrentStep().options.kind);
    QJsonObject line{
        {"time", m_events.TimeText()},
        {"station", m_plan.station},
        {"port", m_unitPort.name},
        {"device", m_unitPort.device},
        {"round", m_round},
        {"step", step},
        {"durationMs", m_stepClock.elapsed()},
    };
    if (!m_unitVersion.isEmpty())
        line["unitVersion"] = m_unitVersion;
    for (auto it = outcome.details.constBegin(); it != outcome.details.constEnd(); ++it)
        line[it.key()] = it.value();
    auto withResult = [&outcome](QJsonObject object) {
        object["result"] = outcome.result;
        object["error"] = outcome.error;
        object["message"] = outcome.message;
        return object;
    };
    if (m_record) {
        QString error;
        if (!m_record->Append(withResult(line), &error) && outcome.result == kOk) {
            // A unit without its record line is not done: the line must be written again.
            outcome.result = kFailed;
            outcome.exitStatus = ExitStatus::kFileUnusable;
            outcome.message = error;
        }
    }
    QJsonObject event = Event("step-end");
    for (auto it = line.constBegin(); it != line.constEnd(); ++it) {
        if (!event.contains(it.key()) && it.key() != QLatin1String("station") &&
            it.key() != QLatin1String("device"))
            event[it.key()] = it.value();
    }
    event = withResult(event);
    event["exitStatus"] = outcome.exitStatus;
    Emit(event);

    QJsonObject done{{"step", step}, {"result", outcome.result}};
    if (outcome.details.contains("mac"))
        done["mac"] = outcome.details["mac"];
    m_stepsDone.append(done);

    if (outcome.result != kOk) {
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
    if (!m_running)
        return;
    m_running = false;
    QJsonObject event = Event("result");
    event["device"] = m_unitPort.device;
    event["result"] = m_outcome.result;
    event["error"] = m_outcome.error;
    event["exitStatus"] = m_outcome.exitStatus;
    event["message"] = m_outcomeMessage;
    if (!m_failedStep.isEmpty())
        event["step"] = m_failedStep;
    event["durationMs"] = m_roundClock.elapsed();
    event["steps"] = m_stepsDone;
    if (!m_unitVersion.isEmpty())
        event["unitVersion"] = m_unitVersion;
    if (!m_macAddress.isEmpty())
        event["macAddress"] = m_macAddress;
    m_resultEvent = event;
    emit RoundFinished(this, m_round);
}

void UnitJob::AppendLog(const QString &line)
{
    // The closing lines of an exchange come with its result instead.
    if (!m_engine.Running())
        return;
    for (const QString &text : Lines(line).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonObject event = Event("log");
        event["step"] = StepName(CurrentStep().options.kind);
        event["text"] = text.trimmed();
        Emit(event);
    }
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
        m_firstBytes = -1;
}

void UnitJob::SetProgress(int percent, qint64 bytesSent, qint64 total)
{
    if (m_firstBytes < 0) {
        m_firstBytes = bytesSent;
        m_progressClock.start();
    }
    // A new percentage at most every kProgressMs (the last one always): each event is
    // formatted and written, and a gang of units would spend most of its time on them.
    if (percent == m_lastPercent ||
        (percent < 100 && m_lastPercent >= 0 && m_lastProgressClock.elapsed() < kProgressMs))
        return;
    m_lastPercent = percent;
    m_lastProgressClock.start();
    QJsonObject event = Event("progress");
    event["step"] = StepName(StepKind::Download);
    event["percent"] = percent;
    event["bytes"] = bytesSent;
    event["total"] = total;
    const qint64 ms = m_progressClock.elapsed();
    if (bytesSent > m_firstBytes && ms > 0) {
        const double bytesPerMs = double(bytesSent - m_firstBytes) / double(ms);
        event["secondsLeft"] = double(total - bytesSent) / bytesPerMs / 1000.0;
    }
    Emit(event);
}
