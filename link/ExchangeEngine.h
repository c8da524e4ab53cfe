#pragma once

#include "ExchangeHost.h"
#include "Port1CommsUnit.h"
#include "PortIo.h"
#include "settings/SortedStringList.h"

#include <QByteArray>
#include <array>

// One conversation with the unit (read, write, MAC assignment, image download). The engine
// routes each reply to the running exchange by its state and calls back for a retry.
class Exchange
{
public:
    virtual ~Exchange() = default;
    virtual void HandleReply(const QByteArray &reply) = 0;
    // Refills the command queue from the beginning before a retry resends; exchanges that
    // keep no queue do nothing.
    virtual void RebuildQueue() {}
};

// The state every exchange shares, the port operations, the reply routing, the version check,
// "Error" resends and the reply time-out with its retries. Runs on the window's thread only:
// button handlers, the 100 ms tick and reply hand-overs all call in from there.
class ExchangeEngine
{
public:
    enum State
    {
        StateNone = 0,
        StateDownload = 1,
        StateRead = 2,
        StateWrite = 3
    };

    // Results of CheckVersionReply.
    static constexpr int kResent = -2;
    static constexpr int kGaveUp = -1;
    static constexpr int kNotAVersion = 0;
    // Version numbers from this one on are too new for this program.
    static constexpr int kFirstUnsupportedVersion = 10100;

    ExchangeEngine(PortIo &port, ExchangeHost &host);
    ExchangeEngine(const ExchangeEngine &) = delete;
    ExchangeEngine &operator=(const ExchangeEngine &) = delete;

    // Port operations. Opening takes the port number from the window each time and shows
    // the port's own message box when it fails.
    bool OpenSerialPort();
    void CloseSerialPort();
    // Writes the bytes in one write; a refused write shows its box. Either way the reply
    // time-out restarts at 10 ticks.
    void WriteSerialPort(const QByteArray &bytes);
    void WriteSerialPort(const QString &line) { WriteSerialPort(line.toLatin1()); }
    bool PortOpen() const { return m_portOpen; }
    bool ReceiverRunning() const { return m_receiver.Running(); }

    void RegisterExchange(int state, Exchange *exchange);

    // Routes one reply line, or one byte in block mode, to the exchange of the current state;
    // ignored when no exchange runs.
    void DispatchReply(const QByteArray &reply);

    // 0: not "Error\r\n"; 1: LastCommand resent; -1: too many "Error" answers, gave up.
    int CheckErrorReply(const QByteArray &reply);
    // The version text is the reply from its third byte on. kResent, kGaveUp, kNotAVersion,
    // or the version number a*10000 + b*100 + c of "a.b.c-UDP".
    int CheckVersionReply(const QByteArray &versionText);

    enum class VersionOutcome
    {
        Waiting,
        Accepted,
        Failed
    };
    // The version step of the read and the write while VersionPending is set; fails with
    // `tooManyErrorsText` at the fifth "Error" answer. On acceptance the caller goes on.
    VersionOutcome VersionStep(const QByteArray &reply, const QString &tooManyErrorsText);
    // Ends the running exchange with an error box and a log line: time-out stopped first, so
    // nothing fires behind the dialog; then port closed and the engine back to idle.
    void FailExchange(const QString &text, const QString &logLine);

    // The start of a read or a write once its queue is filled: fresh retries, lines (not single
    // bytes) expected, the port opened if needed, then the version query "sv".
    void StartWithVersionQuery(int state);
    // While VersionPending is set the reply is the version answer: runs the version step and,
    // once the unit is accepted, sends the first queued line. False when no version answer was
    // awaited, so the reply belongs to the command sequence.
    bool HandleVersionAnswer(const QByteArray &reply);

    // Sends the first queued line; false (port closed, time-out stopped) when none is left.
    bool SendNextCommand();

    // The 100 ms tick: retries and reply time-outs.
    void Timer1Timer();

    CommandQueue &Queue() { return m_commandQueue; }

    int ExchangeState() const { return m_exchangeState; }
    void SetExchangeState(int state) { m_exchangeState = state; }
    int ReplyTimeout() const { return m_replyTimeout; }
    void SetReplyTimeout(int ticks) { m_replyTimeout = ticks; }
    int RetriesLeft() const { return m_retriesLeft; }
    void SetRetriesLeft(int retries) { m_retriesLeft = retries; }
    bool RetryPending() const { return m_retryPending; }
    void SetRetryPending(bool pending) { m_retryPending = pending; }
    bool VersionPending() const { return m_versionPending; }
    void SetVersionPending(bool pending) { m_versionPending = pending; }
    int ErrorRetryCount() const { return m_errorRetryCount; }
    void SetErrorRetryCount(int count) { m_errorRetryCount = count; }
    bool BlockMode() const { return m_blockMode; }
    void SetBlockMode(bool on) { m_blockMode = on; }
    const QByteArray &LastCommand() const { return m_lastCommand; }
    void SetLastCommand(const QByteArray &line) { m_lastCommand = line; }

    // Bytes from the port; wired to the port's receiver by the constructor.
    void ProcessInput(const QByteArray &bytes) { m_receiver.ProcessInput(bytes); }

private:
    PortIo &m_port;
    ExchangeHost &m_host;
    Port1Comms m_receiver;
    std::array<Exchange *, 4> m_exchanges{{nullptr, nullptr, nullptr, nullptr}};

    CommandQueue m_commandQueue;
    QByteArray m_lastCommand;
    int m_exchangeState = StateNone;
    int m_replyTimeout = 0;
    int m_retriesLeft = 0;
    bool m_retryPending = false;
    bool m_versionPending = false;
    int m_errorRetryCount = 0;
    bool m_blockMode = false;
    bool m_portOpen = false;
    // A dialog shown inside a tick runs a nested event loop in which the timer fires again.
    bool m_inTick = false;
};
