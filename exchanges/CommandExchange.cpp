#include "CommandExchange.h"

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

ExchangeResult CommandExchange::MismatchResult(ExchangeLink &link, const QString &boxText,
                                               const QString &logText) const
{
    ExchangeResult result;
    result.outcome = ExchangeResult::Outcome::Failed;
    result.error = ExchangeError::WriteMismatch;
    result.boxKind = MessageKind::Error;
    result.boxText = boxText;
    result.logLine = logText + link.DateTimeText();
    result.refusedLines = m_refused;
    return result;
}

void CommandExchange::Begin(ExchangeLink &link)
{
    ResetAttempt();
    m_queue.Clear();
    FillQueue(m_queue);
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
        link.Finish(Conclude(link));
        return;
    }
    m_sent = m_queue.TakeFirst().toLatin1();
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
    if (reply == kErrorAnswer) {
        m_refused << LineText(m_sent);
        link.Log(QStringLiteral("Refused by TOLVEX: ") + LineText(m_sent));
    }
    HandleAnswer(link, m_sent, reply);
    SendNext(link);
}

void CommandExchange::Retry(ExchangeLink &link)
{
    ResetAttempt();
    m_queue.Clear();
    FillQueue(m_queue);
    if (m_versionPending) {
        link.SendLine(kVersionQuery);
    } else if (QueriesVersion()) {
        m_probePending = true;
        link.SendLine(kProbe);
    } else {
        SendNext(link);
    }
}
