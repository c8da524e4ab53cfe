#pragma once

// A unit stand-in whose XMODEM side is lrzsz's `rx`, a receiver nobody here wrote. The program
// opens the slave of one pseudo-terminal like a serial port; its master answers "sv" and "zp"
// here, then its bytes are forwarded to `rx -b`, which reads a terminal of its own and writes
// into a pipe that is forwarded back.

#include "PtyTools.h"

#include <QElapsedTimer>
#include <QFileInfo>

class RxPeer
{
public:
    ~RxPeer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Opens the program's terminal; `outputFile` is where rx writes what it receives. rx
    // throws away input that comes right after its own answers, which a program in another
    // process can send within a millisecond; `lineDelayMs` holds each chunk toward rx back
    // that long, as a real line would.
    bool Open(const QString &outputFile, int lineDelayMs = 0)
    {
        m_outputFile = outputFile;
        m_lineDelayMs = lineDelayMs;
        if (!m_unitSide.Open())
            return false;
        m_notifier = std::make_unique<QSocketNotifier>(m_unitSide.master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
        return true;
    }

    QString SlavePath() const { return m_unitSide.slavePath; }
    bool RxFinished()
    {
        if (m_exitCode < 0 && m_pid > 0) {
            m_exitCode = ReapChild(m_pid);
            if (m_exitCode >= 0) {
                m_rxMs = m_clock.elapsed();
                m_pid = -1;
            }
        }
        return m_exitCode >= 0;
    }
    int RxExitCode() const { return m_exitCode; }
    // Milliseconds from rx's start to its end: its NAK, every block and the EOT's ACK.
    qint64 RxMilliseconds() const { return m_rxMs; }
    QByteArray LinesSeen() const { return m_seen; }
    // Seconds from rx's first NAK to its ACK of the EOT, as they left rx.
    double TransferSeconds() const { return m_back ? m_back->SpanSeconds() : -1.0; }

private:
    void OnReadable()
    {
        char buffer[512];
        const ssize_t n = ::read(m_unitSide.master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_seen.append(buffer, int(n));
        m_pending.append(buffer, int(n));
        for (qsizetype end = m_pending.indexOf("\r\n"); end >= 0; end = m_pending.indexOf("\r\n")) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 2);
            if (line == "sv") {
                WriteAll(m_unitSide.master, "SV1.0.5-UDP\r\n", 13);
            } else if (line == "zp") {
                StartRx();
                return;
            }
        }
    }

    void StartRx()
    {
        m_notifier.reset();
        if (!m_rxSide.Open())
            return;
        if (!m_fromRx.Open())
            return;
        m_toRx = std::make_unique<Forwarder>(m_unitSide.master, m_rxSide.master, m_lineDelayMs);
        m_back = std::make_unique<Forwarder>(m_fromRx.read, m_unitSide.master);
        // rx refuses paths with folders in them: it runs in the output's folder instead.
        const QFileInfo target(m_outputFile);
        m_clock.start();
        m_pid = SpawnWithIo({"rx", "-b", "-q", target.fileName()}, m_rxSide.slave, m_fromRx.write,
                            target.absolutePath());
        m_fromRx.CloseWrite();
    }

    PtyPair m_unitSide;
    PtyPair m_rxSide;
    std::unique_ptr<QSocketNotifier> m_notifier;
    Pipe m_fromRx;
    std::unique_ptr<Forwarder> m_toRx;
    std::unique_ptr<Forwarder> m_back;
    QString m_outputFile;
    int m_lineDelayMs = 0;
    QByteArray m_pending;
    QByteArray m_seen;
    pid_t m_pid = -1;
    int m_exitCode = -1;
    QElapsedTimer m_clock;
    qint64 m_rxMs = -1;
};
