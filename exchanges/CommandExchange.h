#pragma once

#include "CommandVerdict.h"
#include "link/Exchange.h"
#include "settings/SortedStringList.h"

// The shape the read, the write and the MAC assignment share: optionally the version query
// first, then the queued command lines one per answer, each answer judged, then one verdict.
// An answer is the line's answer only when it carries the line's code (letter case aside):
// "Error" makes the line refused, any other answer without the code (an "OK", another
// setting's line) leaves it answered wrongly and is never applied or compared. Neither is ever
// a success.
class CommandExchange : public Exchange
{
public:
    void Begin(ExchangeLink &link) override;
    void HandleReply(ExchangeLink &link, const QByteArray &reply) override;
    void Retry(ExchangeLink &link) override;
    void Describe(ExchangeResult &result) override;
    void Ended() override { m_begun = false; }

    // The code a command line carries and its answer must carry, in lower case: "ax1" for
    // "ax15\r\n", "ba" for "ba3012"; empty for a line that carries none ("zc", "").
    static QByteArray LineCode(const QByteArray &line);
    // Whether `answer` carries `code` (either case).
    static bool CarriesCode(const QByteArray &answer, const QByteArray &code);

protected:
    // Fills the queue from the beginning: at the start and before every retry.
    virtual void FillQueue(CommandQueue &queue) = 0;
    // Whether the run starts with "sv" and the version step.
    virtual bool QueriesVersion() const { return true; }
    // The unit's answer to `sent` (a queued line that carries a code), already known to carry
    // that code, which is given in upper case whatever case the unit used. Returns Ok or
    // Differs, with the differences' log messages in *messages.
    virtual LineResult::Verdict HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                             const QByteArray &answer, QStringList *messages) = 0;
    // A retry starts the lines over: forget what the earlier attempt concluded.
    virtual void ResetAttempt() { m_lines.clear(); }
    // Which verdict the run ends with once every line was answered (CommandVerdict).
    virtual CommandKind Kind() const = 0;

    // "ax1" for "ax1\r\n".
    static QString LineText(const QByteArray &line);

private:
    void SendNext(ExchangeLink &link);

    CommandQueue m_queue;
    QByteArray m_sent;
    bool m_begun = false;    // this run began: its port opened
    bool m_awaiting = false; // m_sent went out and its answer has not come
    bool m_versionPending = false;
    bool m_probePending = false;
    QList<LineResult> m_lines;
};
