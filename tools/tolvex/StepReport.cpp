#include "StepReport.h"

#include "EventOutput.h"
#include "exchanges/MacNumber.h"
#include "settings/SettingsLineCompare.h"
#include "settings/SettingsLines.h"

#include <QJsonArray>

namespace {

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

QString PlainLineBreaks(const QString &text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

QString MacHex(int number)
{
    return QStringLiteral("%1").arg(number, 4, 16, QLatin1Char('0')).toUpper();
}

QJsonObject StepReport::Event(const char *type) const
{
    return QJsonObject{
        {"event", QLatin1String(type)},
        {"time", m_events.TimeText()},
        {"port", m_port},
        {"round", m_round},
    };
}

void StepReport::Emit(const QJsonObject &event)
{
    m_events.Emit(event);
}

void StepReport::Log(StepKind step, const QString &text)
{
    QJsonObject event = Event("log");
    event["step"] = StepName(step);
    event["text"] = text;
    Emit(event);
}

StepOutcome StepReport::FromResult(const ExchangeResult &result) const
{
    StepOutcome outcome;
    switch (result.outcome) {
    case ExchangeResult::Outcome::Succeeded:
        outcome.result = Verdict::kOk;
        break;
    case ExchangeResult::Outcome::Incomplete:
        outcome.result = Verdict::kIncomplete;
        outcome.exitStatus = ExitStatus::kMismatch;
        break;
    case ExchangeResult::Outcome::Failed:
        outcome.result = Verdict::kFailed;
        outcome.error = result.ErrorNumber();
        outcome.exitStatus = ExitStatusFor(result.error);
        break;
    case ExchangeResult::Outcome::Cancelled:
        outcome.result = Verdict::kCancelled;
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
    outcome.message =
        !failing.isEmpty()
            ? failing.join(QLatin1Char('\n'))
            : PlainLineBreaks(result.boxText.isEmpty() ? result.logLine : result.boxText);
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

CommandQueue StepReport::ConcludeRead(const ExchangeResult &result,
                                      const SettingsSnapshot &settings, StepOutcome *outcome) const
{
    CommandQueue kept;
    if (result.outcome != ExchangeResult::Outcome::Succeeded &&
        result.outcome != ExchangeResult::Outcome::Incomplete)
        return kept;
    CommandQueue all;
    BuildSettingsLines(settings, true, all);
    // A query the unit refused or answered with another code leaves its setting unknown: its
    // line stays out of the file.
    QStringList refusedCodes;
    for (const LineResult &entry : UnknownLines(result))
        refusedCodes << entry.line.toLower();
    for (const QString &line : all.Items()) {
        const QString code = SettingsLineCode(line);
        if (code.isEmpty() || !refusedCodes.contains(code))
            kept.Add(line);
    }
    outcome->details["settings"] = SettingsJson(settings);
    outcome->details["lines"] = QJsonArray::fromStringList(WithoutLineEnds(kept.Items()));
    return kept;
}

void StepReport::ConcludeWrite(const ExchangeResult &result, const StepPlan &step,
                               StepOutcome *outcome)
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
    outcome->details["settingsFile"] = step.settingsFile;
    outcome->details["settingsSha256"] = step.settingsSha256;
    outcome->details["lines"] = lines;
}

void StepReport::ConcludeVerify(const ExchangeResult &result, const StepPlan &step,
                                const SettingsSnapshot &unitSettings, StepOutcome *outcome)
{
    outcome->details["settingsFile"] = step.settingsFile;
    outcome->details["settingsSha256"] = step.settingsSha256;
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
        CompareSettingsLines(step.settings, unitSettings, codes);
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
    outcome->result = Verdict::kFailed;
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

QString StepReport::ConcludeMac(const ExchangeResult &result, StepOutcome *outcome)
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
    const QString address = taken ? result.macAnswered : QString();
    if (taken)
        outcome->details["macAddress"] = address;
    if (result.Succeeded()) {
        outcome->message = QStringLiteral("MAC address %1").arg(address);
        return address;
    }
    // Silence, a lost port or a cancel keep their own verdict; only the exchange's own
    // mismatch is named here.
    if (result.error != ExchangeError::WriteMismatch)
        return address;
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
    return address;
}

void StepReport::ConcludeDownload(const ExchangeResult &result, const ImageInput &image,
                                  StepOutcome *outcome)
{
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
    outcome->details["image"] = ImageJson(image);
}

void StepReport::BeginProgress()
{
    m_lastPercent = -1;
    m_firstBytes = -1;
}

void StepReport::Progress(int percent, qint64 bytesSent, qint64 total)
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
