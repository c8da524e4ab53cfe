#pragma once

// A unit stand-in whose XMODEM side is lrzsz's `rx`, a receiver nobody here wrote. It owns a
// pseudo-terminal: the program opens the slave like a serial port; here the master answers
// "sv" and "zp", then is handed to `rx -b` as its standard input and output.

#include <QByteArray>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

class RxPeer
{
public:
    RxPeer() = default;
    ~RxPeer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        delete m_notifier;
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
    }

    // Opens the pseudo-terminal; `outputFile` is where rx writes what it receives.
    bool Open(const QString &outputFile)
    {
        m_outputFile = outputFile;
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        // Held open so the master never reads end-of-file while the program reopens.
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
        if (m_slave < 0)
            return false;
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_slave, TCSANOW, &raw);
        m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { OnReadable(); });
        return true;
    }

    QString SlavePath() const { return m_slavePath; }
    bool RxStarted() const { return m_pid > 0 || m_exitCode >= 0; }
    bool RxFinished() { Reap(); return m_exitCode >= 0; }
    int RxExitCode() const { return m_exitCode; }
    // Milliseconds from rx's start to its end: its NAK, every block and the EOT's ACK.
    qint64 RxMilliseconds() const { return m_rxMs; }
    QByteArray LinesSeen() const { return m_seen; }

private:
    void OnReadable()
    {
        char buffer[512];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_seen.append(buffer, int(n));
        m_pending.append(buffer, int(n));
        for (qsizetype end = m_pending.indexOf("\r\n"); end >= 0; end = m_pending.indexOf("\r\n")) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 2);
            if (line == "sv") {
                Write("SV1.0.5-UDP\r\n");
            } else if (line == "zp") {
                StartRx();
                return;
            }
        }
    }

    void Write(const QByteArray &bytes)
    {
        const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
        Q_UNUSED(n);
    }

    void StartRx()
    {
        m_notifier->setEnabled(false);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, m_master, 0);
        posix_spawn_file_actions_adddup2(&actions, m_master, 1);
        const QByteArray output = m_outputFile.toLocal8Bit();
        char rx[] = "rx", binary[] = "-b", quiet[] = "-q";
        char *argv[] = {rx, binary, quiet, const_cast<char *>(output.constData()), nullptr};
        m_clock.start();
        if (::posix_spawnp(&m_pid, "rx", &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }

    void Reap()
    {
        if (m_pid <= 0)
            return;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_rxMs = m_clock.elapsed();
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            m_pid = -1;
        }
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_outputFile;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    QByteArray m_seen;
    pid_t m_pid = -1;
    int m_exitCode = -1;
    QElapsedTimer m_clock;
    qint64 m_rxMs = -1;
};
