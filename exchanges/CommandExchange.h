#pragma once

#include "link/Exchange.h"
#include "settings/SortedStringList.h"

// The shape the read, the write and the MAC assignment share: optionally the version query
// first, then the queued command lines one per answer, each answer handed to the exchange,
// then one verdict. Answers of "Error" are remembered as refused lines; they are never a
// success.
class CommandExchange : public Exchange
{
public:
    void Begin(ExchangeLink &link) override;
    void HandleReply(ExchangeLink &link, const QByteArray &reply) override;
    void Retry(ExchangeLink &link) override;

    // Lines the unit answered with "Error" in this run (without CR LF), in the order sent.
    const QStringList &RefusedLines() const { return m_refused; }

protected:
    // Fills the queue from the beginning: at the start and before every retry.
    virtual void FillQueue(CommandQueue &queue) = 0;
    // Whether the run starts with "sv" and the version step.
    virtual bool QueriesVersion() const { return true; }
    // The unit's answer to `sent` (a queued line). Called for "Error" answers too, after they
    // were recorded as refused.
    virtual void HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                              const QByteArray &answer) = 0;
    // A retry starts the lines over: forget what the earlier attempt concluded.
    virtual void ResetAttempt() { m_refused.clear(); }
    // The queue is empty and the last answer handled: build the verdict.
    virtual ExchangeResult Conclude(ExchangeLink &link) = 0;

    // "ax1" for "ax1\r\n".
    static QString LineText(const QByteArray &line);
    // The verdict of a run whose lines went out but did not all take (Error 6): an error box,
    // then the log line with the date and time; the refused lines go with it.
    ExchangeResult MismatchResult(ExchangeLink &link, const QString &boxText,
                                  const QString &logText) const;

private:
    void SendNext(ExchangeLink &link);

    CommandQueue m_queue;
    QByteArray m_sent;
    bool m_versionPending = false;
    bool m_probePending = false;
    QStringList m_refused;
};
