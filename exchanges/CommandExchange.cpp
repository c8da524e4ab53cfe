#include "CommandExchange.h"

#include <cctype>

namespace {
const QByteArray kVersionQuery = QByteArrayLiteral("sv\r\n");
// After a time-out in the middle of the lines, an empty line asks whether the unit is back
// before the lines start over.
const QByteArray kProbe = QByteArrayLiteral("\r\n");
const QByteArray kErrorAnswer = QByteArrayLiteral("Error\r\n");
} // namespace

QString CommandExchange::LineText(const QByteArray &line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return QString::fromLatin1(text);
}

QByteArray CommandExchange::LineCode(const QByteArray &line)
{
    const QByteArray lower = line.left(3).toLower();
    if (lower.size() == 3 && lower.startsWith("ax"))
        return lower;
    const QByteArray code = lower.left(2);
    if (code.size() < 2 || code == "zc" || !std::isalpha(uchar(code.at(0))) ||
        !std::isalpha(uchar(code.at(1))))
        return QByteArray();
    return code;
}

bool CommandExchange::CarriesCode(const QByteArray &answer, const QByteArray &code)
{
    return answer.size() >= code.size() && answer.left(code.size()).toLower() == code;
}

void CommandExchange::Describe(ExchangeResult &result)
{
    if (!m_begun) {
        // The port never opened: nothing of an earlier run counts, every line is unanswered.
        ResetAttempt();
        m_queue.Clear();
        FillQueue(m_queue);
        m_awaiting = false;
    }
    result.lines = m_lines;
    auto unanswered = [&result](const QByteArray &line) {
        LineResult entry;
        entry.line = LineText(line);
        result.lines << entry;
    };
    if (m_awaiting)
        unanswered(m_sent);
    for (const QString &line : m_queue.Items())
        unanswered(line.toLatin1());
}

void CommandExchange::Begin(ExchangeLink &link)
{
    m_begun = true;
    ResetAttempt();
    m_queue.Clear();
    FillQueue(m_queue);
    m_awaiting = false;
    m_probePending = false;
    m_versionPending = QueriesVersion();
    if (m_versionPending)
        link.SendLine(kVersionQuery);
    else
        SendNext(link);
}

void CommandExchange::SendNext(ExchangeLink &link)
{
    if (m_queue.IsEmpty()) {
        ExchangeResult result;
        Describe(result);
        SetCommandVerdict(Kind(), link.DateTimeText(), result);
        link.Finish(result);
        return;
    }
    m_sent = m_queue.TakeFirst().toLatin1();
    m_awaiting = true;
    link.SendLine(m_sent);
}

void CommandExchange::HandleReply(ExchangeLink &link, const QByteArray &reply)
{
    if (m_versionPending) {
        if (link.VersionStep(reply, ExchangeError::NotFoundRead) !=
            ExchangeLink::VersionOutcome::Accepted)
            return;
        m_versionPending = false;
        SendNext(link);
        return;
    }
    if (m_probePending) {
        // Any answer to the probe says the unit is back; the lines start over.
        m_probePending = false;
        SendNext(link);
        return;
    }
    if (!m_awaiting)
        return;
    m_awaiting = false;
    LineResult entry;
    entry.line = LineText(m_sent);
    entry.answer = LineText(reply);
    const QByteArray code = LineCode(m_sent);
    if (reply == kErrorAnswer) {
        entry.verdict = LineResult::Verdict::Refused;
        link.Log(QStringLiteral("Refused by TOLVEX: ") + entry.line);
    } else if (code.isEmpty()) {
        entry.verdict = LineResult::Verdict::Ok; // the closing line's answer is not examined
    } else if (!CarriesCode(reply, code)) {
        entry.verdict = LineResult::Verdict::WrongCode;
        link.Log(
            QStringLiteral("Wrong answer from TOLVEX to %1: %2").arg(entry.line, entry.answer));
    } else {
        // Letter case is no reason to skip a check: the code goes on in upper case.
        QByteArray answer = reply;
        for (qsizetype i = 0; i < code.size(); ++i)
            answer[i] = char(std::toupper(uchar(answer.at(i))));
        entry.verdict = HandleAnswer(link, m_sent, answer, &entry.messages);
    }
    m_lines << entry;
    SendNext(link);
}

void CommandExchange::Retry(ExchangeLink &link)
{
    ResetAttempt();
    m_queue.Clear();
    FillQueue(m_queue);
    m_awaiting = false;
    if (m_versionPending) {
        link.SendLine(kVersionQuery);
    } else if (QueriesVersion()) {
        m_probePending = true;
        link.SendLine(kProbe);
    } else {
        SendNext(link);
    }
}
