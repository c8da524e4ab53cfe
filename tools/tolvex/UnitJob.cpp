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

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const QString kOk = QStringLiteral("ok");
const QString kFailed = QStringLiteral("failed");
const QString kIncomplete = QStringLiteral("incomplete");
const QString kCancelled = QStringLiteral("cancelled");
// assign-mac --next on a reworked unit: its confirmed number stays, nothing is sent.
const QString kKept = QStringLiteral("kept");

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

// The tool's words for a line that did not come back as it should: "ba4001 answered BA4002",
// "ni192.168.0.100 refused", "ba answered OK".
QString LineWords(const LineResult &entry)
{
    switch (entry.verdict) {
    case LineResult::Verdict::Ok:
        return QString();
    case LineResult::Verdict::Refused:
        return entry.line + QStringLiteral(" refused");
    case LineResult::Verdict::Differs:
    case LineResult::Verdict::WrongCode:
        return QStringLiteral("%1 answered %2")
            .arg(entry.line, entry.answer.isEmpty() ? QStringLiteral("nothing") : entry.answer);
    case LineResult::Verdict::Unanswered:
        return entry.line + QStringLiteral(" unanswered");
    }
    return QString();
}

// The record's word for a line's verdict.
QString VerdictWord(LineResult::Verdict verdict)
{
    switch (verdict) {
    case LineResult::Verdict::Ok:
        return QStringLiteral("ok");
    case LineResult::Verdict::Differs:
        return QStringLiteral("mismatch");
    case LineResult::Verdict::Refused:
        return QStringLiteral("refused");
    case LineResult::Verdict::WrongCode:
        return QStringLiteral("wrong-code");
    case LineResult::Verdict::Unanswered:
        break;
    }
    return QStringLiteral("unanswered");
}

// The mismatch event's kind for a line's verdict.
QString MismatchKind(LineResult::Verdict verdict)
{
    return verdict == LineResult::Verdict::Differs ? QStringLiteral("differs")
                                                   : VerdictWord(verdict);
}

// The lines a read left unknown: refused, or answered with another code.
QList<LineResult> UnknownLines(const ExchangeResult &result)
{
    QList<LineResult> unknown;
    for (const LineResult &entry : result.lines) {
        if (entry.verdict == LineResult::Verdict::Refused ||
            entry.verdict == LineResult::Verdict::WrongCode)
            unknown << entry;
    }
    return unknown;
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
    connect(&m_engine, &ExchangeEngine::UnitVersionAnswered, this, [this](const QString &version) {
        if (!m_running)
            return;
        QJsonObject event = Event("unit");
        event["step"] = StepName(CurrentStep().options.kind);
        event["unitVersion"] = version;
        Emit(event);
    });
    connect(&m_port, &QtSerialPortIo::Notice, this, [this](const QString &text) {
        QJsonObject event = Event("warning");
        event["text"] = text;
        Emit(event);
    });
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
    if (m_macReserving) {
        // Nothing went out: the step ends now, and a number that arrives late goes back.
        ++m_macRequest;
        m_macReserving = false;
        EmitMacStep(m_macStepEvent);
        StepOutcome outcome;
        outcome.result = kCancelled;
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
    // Lines that did not come back as they should are named in the tool's words; an end the
    // lines do not explain (silence, a lost port, the version step) keeps the window's box text.
    QStringList failing;
    if (result.outcome == ExchangeResult::Outcome::Incomplete ||
        result.error == ExchangeError::WriteMismatch) {
        for (const LineResult &entry : result.lines) {
            if (entry.verdict != LineResult::Verdict::Ok)
                failing << LineWords(entry);
        }
    }
    outcome.message = !failing.isEmpty()
                          ? failing.join(QLatin1Char('\n'))
                          : Lines(result.boxText.isEmpty() ? result.logLine : result.boxText);
    if (!result.diagnosis.isEmpty())
        outcome.message += QLatin1Char('\n') + result.diagnosis;
    const QStringList refused = result.LinesWith(LineResult::Verdict::Refused);
    if (!refused.isEmpty())
        outcome.details["refused"] = QJsonArray::fromStringList(refused);
    const QStringList wrong = result.LinesWith(LineResult::Verdict::WrongCode);
    if (!wrong.isEmpty())
        outcome.details["wrongCode"] = QJsonArray::fromStringList(wrong);
    return outcome;
}

void UnitJob::OnFinished(const ExchangeResult &result)
{
    if (!m_running)
        return;
    if (!result.unitVersion.isEmpty())
        m_unitVersion = result.unitVersion;
    StepOutcome outcome = FromResult(result);
    switch (CurrentStep().options.kind) {
    case StepKind::Read:
        ConcludeRead(result, &outcome);
        break;
    case StepKind::Write:
        ConcludeWrite(result, &outcome);
        break;
    case StepKind::Verify:
        ConcludeVerify(result, &outcome);
        break;
    case StepKind::AssignMac:
        if (m_macReading)
            MacAddressRead(result, outcome);
        else
            FinishMac(result, outcome);
        return;
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
    // A query the unit refused or answered with another code leaves its setting unknown: its
    // line stays out of the file.
    QStringList refusedCodes;
    for (const LineResult &entry : UnknownLines(result))
        refusedCodes << entry.line.toLower();
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
        // Settings that never reached standard output (a full disk, a closed pipe) were not read
        // for whoever waits for them.
        errno = 0;
        if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) !=
                size_t(bytes.size()) ||
            std::fflush(stdout) != 0) {
            outcome->result = kFailed;
            outcome->exitStatus = ExitStatus::kFileUnusable;
            outcome->message = QStringLiteral("Cannot write the settings to standard output: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
}

void UnitJob::ConcludeWrite(const ExchangeResult &result, StepOutcome *outcome)
{
    QJsonArray lines;
    for (const LineResult &echo : result.lines) {
        QJsonObject entry{{"line", echo.line}, {"verdict", VerdictWord(echo.verdict)}};
        if (echo.verdict != LineResult::Verdict::Unanswered)
            entry["answer"] = echo.answer;
        if (!echo.messages.isEmpty()) {
            QStringList messages;
            for (const QString &message : echo.messages)
                messages << message.trimmed();
            entry["messages"] = QJsonArray::fromStringList(messages);
        }
        if (echo.verdict != LineResult::Verdict::Ok &&
            echo.verdict != LineResult::Verdict::Unanswered) {
            QJsonObject event = Event("mismatch");
            event["step"] = StepName(StepKind::Write);
            event["kind"] = MismatchKind(echo.verdict);
            event["line"] = echo.line;
            event["answer"] = echo.answer;
            if (entry.contains("messages"))
                event["messages"] = entry["messages"];
            Emit(event);
        }
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
    // A query refused or answered with another code leaves its setting unknown: a mismatch,
    // named, and not compared.
    const QList<LineResult> unknown = UnknownLines(result);
    QStringList unknownCodes;
    for (const LineResult &entry : unknown)
        unknownCodes << entry.line.toLower();
    QStringList codes;
    for (const QString &code : step.codes) {
        if (!unknownCodes.contains(code))
            codes << code;
    }
    for (const LineResult &entry : unknown) {
        QJsonObject event = Event("mismatch");
        event["step"] = StepName(StepKind::Verify);
        event["kind"] = MismatchKind(entry.verdict);
        event["line"] = entry.line;
        event["answer"] = entry.answer;
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
    if (differences.isEmpty() && unknown.isEmpty()) {
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
    for (const LineResult &entry : unknown)
        parts << LineWords(entry);
    outcome->message = parts.join(QLatin1Char('\n'));
}

void UnitJob::ConcludeMac(const ExchangeResult &result, StepOutcome *outcome)
{
    const bool sent = result.macSent >= 0;
    if (sent) {
        outcome->details["mac"] = MacHex(result.macSent);
        outcome->details["macSent"] = MacHex(result.macSent);
    }
    if (!result.macAnswered.isEmpty())
        outcome->details["macAnswered"] = result.macAnswered;
    // Only an answer that ends in the number sent is the unit's new address.
    const bool taken = sent && MacNumberOfAddress(result.macAnswered) == result.macSent;
    m_macAddress = taken ? result.macAnswered : QString();
    if (taken)
        outcome->details["macAddress"] = m_macAddress;
    if (result.Succeeded()) {
        outcome->message = QStringLiteral("MAC address %1").arg(m_macAddress);
        return;
    }
    // Silence, a lost port or a cancel keep their own verdict; only the exchange's own
    // mismatch is named here.
    if (result.error != ExchangeError::WriteMismatch)
        return;
    for (const LineResult &entry : result.lines) {
        if (entry.verdict == LineResult::Verdict::Ok)
            continue;
        if (entry.verdict == LineResult::Verdict::Differs && !result.macAnswered.isEmpty())
            outcome->message =
                QStringLiteral("The unit answered with MAC address %1, which does not end in %2")
                    .arg(result.macAnswered, MacHex(result.macSent).insert(2, QLatin1Char(':')));
        QJsonObject event = Event("mismatch");
        event["step"] = StepName(StepKind::AssignMac);
        event["kind"] = MismatchKind(entry.verdict);
        event["line"] = entry.line;
        event["answer"] = entry.answer;
        Emit(event);
        break;
    }
}

MacNumberHolder UnitJob::MacHolder() const
{
    return MacNumberHolder{m_plan.station, m_unitPort.name, QString()};
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
            QJsonObject event = Event("log");
            event["step"] = StepName(StepKind::AssignMac);
            event["text"] = QStringLiteral("MAC number %1 was given out before; sent again as "
                                           "asked")
                                .arg(MacHex(number));
            Emit(event);
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
        outcome.result = kFailed;
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
            kept.result = kKept;
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
    Emit(stepEvent);
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
        outcome.result = kFailed;
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
    outcome.result = kFailed;
    outcome.exitStatus = ExitStatus::kFileUnusable;
    outcome.message = error;
    EndStep(outcome);
}

void UnitJob::FinishMac(const ExchangeResult &result, StepOutcome outcome)
{
    ConcludeMac(result, &outcome);
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
        if (sent && !reply.ok) {
            QJsonObject event = Event("log");
            event["step"] = StepName(StepKind::AssignMac);
            event["text"] = reply.error;
            Emit(event);
        }
        if (!sent)
            outcome.details["macReturned"] = reply.ok;
        EndStep(outcome);
    };
    if (!sent)
        source->GiveBack(number, this, end); // the port never took the line
    else if (outcome.result == kOk)
        source->Confirm(number, m_macAddress, this, end);
    else
        source->Void(number, outcome.message, this, end);
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
        if (!m_record->Append(withResult(line), &error) &&
            (outcome.result == kOk || outcome.result == kKept)) {
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

    if (outcome.result != kOk && outcome.result != kKept) {
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
