#pragma once

#include "Exchange.h"
#include "Port1CommsUnit.h"
#include "PortIo.h"

#include <QObject>

// Runs one exchange at a time over one port: opens the port for it, hands it each reply,
// counts the reply time-out on the 100 ms tick, reopens and lets the exchange resend while its
// retries last, and ends it once with one result, however it ends (answer, silence, a lost
// device, the operator's cancel). A second start while one runs is refused. Runs on the thread
// that owns the port; the host drives Tick() every 100 ms.
class ExchangeEngine : public QObject, private ExchangeLink
{
    Q_OBJECT
public:
    // The host calls Tick() at this interval; reply time-outs count in these ticks.
    static constexpr int kTickMs = 100;
    // Retries after reply time-outs, fresh at every start.
    static constexpr int kRetries = 3;
    // "Error" answers to the version query that are resent; the next one gives up.
    static constexpr int kErrorResends = 4;
    // Version numbers from this one on are too new for this program.
    static constexpr int kFirstUnsupportedVersion = 10100;

    // Results of CheckVersionReply besides a version number.
    static constexpr int kResent = -2;
    static constexpr int kGaveUp = -1;
    static constexpr int kNotAVersion = 0;

    ExchangeEngine(PortIo &port, PortChoice &portChoice, ExchangeLog &log,
                   QObject *parent = nullptr);
    ~ExchangeEngine() override;
    ExchangeEngine(const ExchangeEngine &) = delete;
    ExchangeEngine &operator=(const ExchangeEngine &) = delete;

    // Starts `exchange`; false, with nothing changed, while another runs. A port that cannot
    // be opened ends the exchange at once (its box shown, Finished emitted).
    bool Start(Exchange &exchange);
    // Ends the running exchange as cancelled: its last words go out, the port closes, the log
    // says so, no box. Nothing happens when none runs.
    void Cancel(const QString &byWhom = QStringLiteral("the operator"));
    bool Running() const { return m_current != nullptr; }
    const Exchange *Current() const { return m_current; }

    // The 100 ms tick: reply time-outs and retries. Does not re-enter itself while a box it
    // showed is open.
    void Tick();

    bool PortOpen() const { return m_portOpen; }
    // What the link saw since the running (or last) exchange started.
    const LinkActivity &Activity() const { return m_activity; }
    // The version text of the unit's last version answer in the running (or last) exchange,
    // as logged after "Tolvex Version: " without its line end; empty when none came. For a
    // production record.
    const QString &UnitVersion() const { return m_unitVersion; }

    // The version text is the reply from its third byte on. kResent, kGaveUp, kNotAVersion, or
    // the version number a*10000 + b*100 + c of "a.b.c-UDP". Logs the version text.
    int CheckVersionReply(const QByteArray &versionText);

signals:
    // An exchange started (true) or ended (false); emitted before the closing box.
    void RunningChanged(bool running);
    // The result of the exchange that ended, after its box and log line.
    void Finished(const ExchangeResult &result);
    // The unit answered the version query with `versionText` (as logged, line end removed),
    // whether or not the version is accepted. For hosts that show which unit is on the port.
    void UnitVersionAnswered(const QString &versionText);

private:
    // ExchangeLink
    void SendLine(const QByteArray &line) override;
    void SendBytes(const QByteArray &bytes, int replyTicks) override;
    ErrorAnswer CheckErrorReply(const QByteArray &reply) override;
    VersionOutcome VersionStep(const QByteArray &reply, ExchangeError tooManyErrors) override;
    void Log(const QString &line) override;
    QString DateTimeText() override;
    void Finish(const ExchangeResult &result) override;

    // Opens the device the port choice names now; callers report a failure.
    PortIo::OpenResult OpenPort();
    void ClosePort();
    void Write(const QByteArray &bytes, int replyTicks);
    void DispatchReply(const QByteArray &reply);
    void OnPortLost();
    // Ends the running exchange as lost from the event loop (so the code that noticed finishes
    // first), with one port box; nothing happens when that run has ended meanwhile.
    void EndLater(const QString &boxText, const QString &logLine);
    // Ends the running exchange from outside with `cause`.
    void EndFromOutside(Exchange::EndCause cause, ExchangeResult result);
    ExchangeResult FailureResult(ExchangeError error, const QString &boxText,
                                 const QString &logLine) const;

    PortIo &m_port;
    PortChoice &m_portChoice;
    ExchangeLog &m_log;
    Port1Comms m_receiver;

    Exchange *m_current = nullptr;
    // Counts starts and ends, so work queued for one run never touches a later one.
    quint64 m_run = 0;
    QByteArray m_lastLine;
    QString m_device;
    int m_portNumber = 0;
    int m_replyTimeout = 0;
    int m_retriesLeft = 0;
    bool m_retryPending = false;
    int m_errorRetryCount = 0;
    bool m_portOpen = false;
    bool m_inTick = false;
    LinkActivity m_activity;
    QString m_unitVersion;
};
