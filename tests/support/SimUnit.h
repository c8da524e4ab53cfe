#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class QProcess;

// Runs the simulated unit (tolvex-sim) for a test: starts it, tells it faults at run time, and
// collects the events it reports. Waits run the event loop with a bound and never block it.
//
// Events are read in order through a cursor: waitForEvent() looks at the events after the last
// one it matched, so a sequence of waits follows the sequence of events.
class SimUnit
{
public:
    SimUnit();
    ~SimUnit();
    SimUnit(const SimUnit &) = delete;
    SimUnit &operator=(const SimUnit &) = delete;

    // Starts the simulator with `arguments` and waits for its device. Unless the arguments name
    // one, a link is made in a temporary folder. The simulator exits when this object goes away,
    // even if the test crashes (it watches its standard input). False, with errorString(), when
    // it did not come up in time.
    bool start(const QStringList &arguments = {}, int timeoutMs = 5000);
    bool isRunning() const;
    // Ends the simulator (SIGTERM, then kill) and collects its last events.
    void stop();

    // The current slave device; changes when the simulator reopens after a cut.
    QString devicePath() const { return m_devicePath; }
    // The link that always points at the current device.
    QString linkPath() const { return m_linkPath; }

    // Sends a run-time command ("silent on", "version 1.1.0-UDP", "reset") and waits until the
    // simulator confirms it. False when it refused the command or did not answer.
    bool sendCommand(const QString &command, int timeoutMs = 5000);

    // Waits for an event starting with `prefix` after the last matched one and moves past it.
    bool waitForEvent(const QString &prefix, int timeoutMs = 5000);
    // The cursor moves to the end: later waits see only events still to come.
    void skipEvents();

    // Every event so far, in order.
    QStringList events() const { return m_events; }
    // The lines the simulator received (GOT events), decoded, each with its "\r\n".
    QList<QByteArray> receivedLines() const;
    QString errorString() const { return m_error; }

    // Reverses the simulator's escaping (\\, \r, \n, \t, \xHH).
    static QByteArray unescape(const QByteArray &text);

private:
    void readEvents();
    bool waitUntil(const std::function<bool()> &done, int timeoutMs);

    std::unique_ptr<QProcess> m_process;
    QTemporaryDir m_folder;
    QString m_linkPath;
    QString m_devicePath;
    QString m_error;
    QByteArray m_partial;
    QStringList m_events;
    int m_cursor = 0;
    int m_commandReplies = 0;
    QString m_lastCommandReply;
};
