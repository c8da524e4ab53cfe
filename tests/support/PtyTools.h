#pragma once

// Pseudo-terminals for tests and benchmarks: a raw pair, a one-way forwarder that copies bytes
// from one descriptor to another, and starting a program on given input and output.
//
// lrzsz's programs flush their terminal when they exit, which throws away their own last byte
// (the ACK of the EOT) if the far side has not read it yet. A real line has sent that byte by
// then; here each program reads from a terminal of its own and writes into a pipe, and
// forwarders carry the bytes on, so nothing it sent can be flushed.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char **environ;

struct PtyPair
{
    int master = -1;
    int slave = -1;
    QString slavePath;

    bool Open()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return false;
        slavePath = QString::fromLocal8Bit(::ptsname(master));
        // Held open so the master never reads end-of-file while the other side reopens.
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        if (slave < 0)
            return false;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        return true;
    }
    ~PtyPair()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
};

inline bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Copies every byte that can be read from `from` to `to`, on the event loop, and remembers
// when the first and the last bytes went through. With `delayMs` every chunk is handed on that
// much later, in order, as a line with latency would.
class Forwarder
{
public:
    Forwarder(int from, int to, int delayMs = 0) : m_from(from), m_to(to), m_delayMs(delayMs)
    {
        m_clock.start();
        m_notifier = std::make_unique<QSocketNotifier>(from, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char buffer[4096];
            const ssize_t n = ::read(m_from, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, int(n));
                if (m_delayMs > 0)
                    QTimer::singleShot(m_delayMs, Qt::PreciseTimer, m_notifier.get(),
                                       [this, bytes] { Write(bytes); });
                else
                    Write(bytes);
            } else
                m_notifier->setEnabled(false); // end of a pipe: its writer has gone
        });
    }

    // Seconds from the first byte forwarded to the last one; -1 before two were seen.
    double SpanSeconds() const { return m_firstNs < 0 ? -1.0 : double(m_lastNs - m_firstNs) / 1e9; }

private:
    void Write(const QByteArray &bytes)
    {
        WriteAll(m_to, bytes.constData(), size_t(bytes.size()));
        m_lastNs = m_clock.nsecsElapsed();
        if (m_firstNs < 0)
            m_firstNs = m_lastNs;
    }

    int m_from;
    int m_to;
    int m_delayMs;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QElapsedTimer m_clock;
    qint64 m_firstNs = -1;
    qint64 m_lastNs = -1;
};

// An argument list as exec wants it: the texts in the local encoding, then a null pointer.
struct ArgVector
{
    explicit ArgVector(const QStringList &arguments)
    {
        for (const QString &argument : arguments)
            storage.push_back(argument.toLocal8Bit());
        for (QByteArray &argument : storage)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
    }
    char **data() { return argv.data(); }
    const char *program() const { return storage.empty() ? "" : storage.front().constData(); }

    std::vector<QByteArray> storage;
    std::vector<char *> argv;
};

// Starts `arguments` in `folder` reading `inputFd` and writing `outputFd`; -1 on failure.
inline pid_t SpawnWithIo(const QStringList &arguments, int inputFd, int outputFd,
                         const QString &folder)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    // Their progress chatter would only clutter the test output.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const QByteArray where = folder.toLocal8Bit();
    posix_spawn_file_actions_addchdir_np(&actions, where.constData());
    ArgVector argv(arguments);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv.program(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A pipe whose ends are closed with it.
struct Pipe
{
    int read = -1;
    int write = -1;
    bool Open()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    void CloseWrite()
    {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
    ~Pipe()
    {
        CloseWrite();
        if (read >= 0)
            ::close(read);
    }
};

// Exit code of a finished child, -1 while it runs.
inline int ReapChild(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Many simulated units need many descriptors (a pseudo-terminal and pipes each, in the test and
// in the tool): the soft limit is raised to the hard one. The limit now in force.
inline rlim_t RaiseFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}
