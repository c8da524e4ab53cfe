#pragma once

#include "ExchangeLog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The numbered errors the operator sees in the boxes; the production tool exits with them.
enum class ExchangeError
{
    None = 0,
    NotFoundTooManyErrors = 1, // download: a fifth "Error" answer to the version query
    NotFound = 2,              // the version answer is no version of this unit
    FileUnreadable = 3,        // the image file could not be read
    NotFoundRead = 4,          // read or write: a fifth "Error" answer to the version query
    WriteMismatch = 6,         // an echo differed, or the unit refused a line
    NoCommunication = 7,       // silence, a lost or unusable port
};

// What the link saw during one exchange, so a failure can be told apart: nothing came back,
// only noise came back, or the unit answered and then stopped.
struct LinkActivity
{
    qint64 bytesReceived = 0;
    int repliesReceived = 0; // whole reply lines (or single bytes in block mode) handed over
    int timeouts = 0;
};

// One command line an exchange sent and what became of it.
struct LineResult
{
    enum class Verdict
    {
        Ok,         // answered as it should be
        Differs,    // answered with the line's code, but not with what was sent
        Refused,    // answered "Error"
        WrongCode,  // the answer does not carry the line's code: it is no answer to this line
        Unanswered, // the exchange ended before an answer came, or before the line went out
    };
    QString line;   // without CR LF: "ba4001"
    QString answer; // without CR LF; empty when unanswered
    Verdict verdict = Verdict::Unanswered;
    // The differences as the window logs them ("Client Port Write Error "); write only.
    QStringList messages;
};

// How an exchange ended. The engine reports it to the operator (box and log line in the order
// `logBeforeBox` gives) and then hands it to whoever started the exchange. The typed part says
// what happened; the box and log texts are the window's words for it, made from the typed part.
struct ExchangeResult
{
    enum class Outcome
    {
        Succeeded,
        Incomplete, // ran to the end, but the unit refused some queries
        Failed,
        Cancelled,
    };
    Outcome outcome = Outcome::Succeeded;
    ExchangeError error = ExchangeError::None;

    // The closing box; no box when `boxText` is empty. A port box is the plain one.
    MessageKind boxKind = MessageKind::Information;
    bool portBox = false;
    QString boxText;
    // The closing log line; none when empty.
    QString logLine;
    bool logBeforeBox = false;
    // For a unit that fell silent: what the link saw, in plain words, logged after the line.
    QString diagnosis;

    // Every command line of the run (the last attempt after a retry), in the order sent, with
    // the unit's answer and its verdict; lines not yet sent when the run ended are Unanswered.
    QList<LineResult> lines;
    // MAC assignment: the number sent (0 to 65535; -1 when the "ma" line never went out) and the
    // address the unit answered it with ("" when no address came). The answered address is the
    // unit's only when it ends in the number sent.
    int macSent = -1;
    QString macAnswered;
    // The unit's version text from its last version answer in this run ("" when none came).
    QString unitVersion;
    LinkActivity activity;

    bool Succeeded() const { return outcome == Outcome::Succeeded; }
    int ErrorNumber() const { return int(error); }
    // The lines with `verdict`, without CR LF, in the order sent.
    QStringList LinesWith(LineResult::Verdict verdict) const
    {
        QStringList texts;
        for (const LineResult &entry : lines) {
            if (entry.verdict == verdict)
                texts << entry.line;
        }
        return texts;
    }
};

// What a running exchange may ask of the engine. Only the running exchange gets one, and only
// between its start and its end.
class ExchangeLink
{
public:
    // The unit gets this long to answer a line or a block: ten ticks of 100 ms.
    static constexpr int kReplyTicks = 10;

    virtual ~ExchangeLink() = default;

    // Sends a command line (with its CR LF). It becomes the line an "Error" answer resends.
    // The reply time-out restarts at kReplyTicks.
    virtual void SendLine(const QByteArray &line) = 0;
    // Sends bytes that are no command line (a block, EOT, CAN CAN); the reply time-out restarts
    // at `replyTicks`, or stops for 0.
    virtual void SendBytes(const QByteArray &bytes, int replyTicks = kReplyTicks) = 0;

    enum class ErrorAnswer
    {
        NotError, // the reply is not "Error\r\n"
        Resent,   // the last line went out again; wait for its answer
        GaveUp,   // a fifth "Error" answer in this exchange: nothing was sent
    };
    // "Error\r\n" answers to the version query are resent up to four times per exchange.
    virtual ErrorAnswer CheckErrorReply(const QByteArray &reply) = 0;

    enum class VersionOutcome
    {
        Waiting,  // resent after an "Error" or unreadable answer
        Accepted, // a supported version: go on
        Failed,   // the exchange has ended with the version step's error
    };
    // The answer to "sv\r\n": logs the version and judges it. `tooManyErrors` is the error the
    // exchange ends with at a fifth "Error" answer (1 for the download, 4 for the others).
    virtual VersionOutcome VersionStep(const QByteArray &reply, ExchangeError tooManyErrors) = 0;

    virtual void Log(const QString &line) = 0;
    virtual QString DateTimeText() = 0;

    // Ends the exchange: the time-out stops, the port closes, the engine is free for the next
    // start, then the result is reported. Nothing may be sent afterwards.
    virtual void Finish(const ExchangeResult &result) = 0;
};

// One conversation with the unit: read, write, MAC assignment or image download. It owns its
// lines, what a retry resends and how it ends; the engine owns the port, the time-out and the
// retry budget, and runs one exchange at a time.
class Exchange
{
public:
    // Why an exchange is ended from outside.
    enum class EndCause
    {
        TimedOut,  // no answer, no retries left (or the exchange refused one)
        Cancelled, // the operator or a signal stopped it
        PortLost,  // the device vanished or refused a write
    };

    virtual ~Exchange() = default;

    // For log lines: "Read", "Write", "MAC assignment", "Download".
    virtual QString Name() const = 0;
    // The port is open and the retry budget fresh: send the first line.
    virtual void Begin(ExchangeLink &link) = 0;
    // One reply line, or one byte while SingleBytes() holds.
    virtual void HandleReply(ExchangeLink &link, const QByteArray &reply) = 0;
    // Whether a reply time-out may be answered by reopening the port and calling Retry.
    virtual bool RetryAllowed() const { return true; }
    // After a reply time-out the port was reopened: resend what this exchange needs.
    virtual void Retry(ExchangeLink &link) = 0;
    // Last words before the engine ends the exchange from outside: for TimedOut and Cancelled
    // the port is normally still open (a download cancels the unit's transfer here; a reopen
    // that failed leaves it closed, and the bytes then go nowhere), for PortLost it is closed.
    virtual void Abort(ExchangeLink &link, EndCause cause)
    {
        (void)link;
        (void)cause;
    }
    // Adds what this run did to the result of any end (its lines, the number sent), so a
    // time-out or a cancel reports them as well as the exchange's own verdict does. Called
    // once at every end, its port not opened included, just before Ended().
    virtual void Describe(ExchangeResult &result) { (void)result; }
    // Called once when the exchange has ended, however it ended (its port could not even be
    // opened, included), before the result is reported: clean-up that every end needs.
    virtual void Ended() {}
    // True while the unit answers in single bytes rather than lines.
    virtual bool SingleBytes() const { return false; }
};
