#include "Interrupts.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_WIN
#include <atomic>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

int SignalExitStatus(const QString &name)
{
    // The numbers every system uses for these three; Windows maps its console events to them.
    if (name == QLatin1String("SIGHUP"))
        return 128 + 1;
    if (name == QLatin1String("SIGTERM"))
        return 128 + 15;
    return 128 + 2;
}

#ifdef Q_OS_WIN

namespace {

// Shared with the console handler, which runs on a thread of its own.
std::mutex g_mutex;
Interrupts *g_interrupts = nullptr;
// Set when the run has ended and the ports are closed; a handler for a console close, logoff
// or shutdown waits for it, as the system ends the process once the handler returns.
HANDLE g_runEnded = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    QString name;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        name = QStringLiteral("SIGINT");
        break;
    case CTRL_CLOSE_EVENT:
        name = QStringLiteral("SIGHUP");
        break;
    default: // CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
        name = QStringLiteral("SIGTERM");
        break;
    }
    HANDLE ended = nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_interrupts)
            return FALSE;
        Interrupts *target = g_interrupts;
        QMetaObject::invokeMethod(
            target, [target, name] { emit target->Received(name); }, Qt::QueuedConnection);
        ended = g_runEnded;
    }
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)
        return TRUE;
    // Let the cancel end every exchange and close the ports first; the system allows a close
    // about five seconds before it ends the process anyway.
    if (ended)
        WaitForSingleObject(ended, 4500);
    return TRUE;
}

} // namespace

Interrupts::Interrupts(QObject *parent) : QObject(parent)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    g_interrupts = this;
    g_runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

Interrupts::~Interrupts()
{
    HANDLE ended = nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        g_interrupts = nullptr;
        ended = g_runEnded;
        g_runEnded = nullptr;
    }
    // A handler waiting for the end may return now; the process ends after it.
    if (ended) {
        SetEvent(ended);
        // The handle stays open: a handler may still be waiting on it.
    }
}

struct StdinLines::Reader
{
    std::mutex mutex;
    StdinLines *target = nullptr; // cleared by the destructor; nothing is posted after that
    std::atomic<bool> ended{false};
    std::thread thread;
};

StdinLines::StdinLines(QObject *parent) : QObject(parent), m_reader(std::make_shared<Reader>())
{
    m_reader->target = this;
    // The console has no readiness notification: a reader thread hands each line over. It
    // holds the shared state, never this object, so it cannot post to an object that is gone.
    std::shared_ptr<Reader> reader = m_reader;
    m_reader->thread = std::thread([reader] {
        auto post = [&reader](auto call) {
            const std::lock_guard<std::mutex> lock(reader->mutex);
            if (StdinLines *target = reader->target)
                QMetaObject::invokeMethod(
                    target, [target, call] { call(target); }, Qt::QueuedConnection);
        };
        std::string line;
        while (std::getline(std::cin, line)) {
            const QString text = QString::fromLocal8Bit(line.c_str());
            post([text](StdinLines *target) { emit target->LineRead(text); });
        }
        post([](StdinLines *target) { emit target->Finished(); });
        reader->ended = true;
    });
}

StdinLines::~StdinLines()
{
    {
        const std::lock_guard<std::mutex> lock(m_reader->mutex);
        m_reader->target = nullptr;
    }
    // A console read blocks; cancelling it ends the thread, which is then joined. Should it
    // not end in time (it was between two reads), it is left to the process's end, harmless
    // now that it posts nothing.
    for (int tries = 0; tries < 20 && !m_reader->ended; ++tries) {
        CancelSynchronousIo(HANDLE(m_reader->thread.native_handle()));
        Sleep(5);
    }
    if (m_reader->ended)
        m_reader->thread.join();
    else
        m_reader->thread.detach();
}

void StdinLines::OnReadable() {}

#else

namespace {

// Written by the signal handler, which can reach nothing else.
int g_signalSockets[2] = {-1, -1};

void OnSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalSockets[0], &byte, 1);
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

Interrupts::Interrupts(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        ssize_t n;
        while ((n = ::read(g_signalSockets[1], buffer, sizeof buffer)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                const int signal = buffer[i];
                emit Received(signal == SIGINT    ? QStringLiteral("SIGINT")
                              : signal == SIGTERM ? QStringLiteral("SIGTERM")
                                                  : QStringLiteral("SIGHUP"));
            }
        }
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

Interrupts::~Interrupts()
{
    // The run is over and its exit status decided (its ports are closed by now): a signal
    // that comes while the process winds down must not turn a reported result into 143.
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
    for (int &fd : g_signalSockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

StdinLines::StdinLines(QObject *parent) : QObject(parent)
{
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinLines::OnReadable);
}

StdinLines::~StdinLines() = default;

void StdinLines::OnReadable()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        m_notifier->setEnabled(false);
        if (!m_pending.isEmpty())
            emit LineRead(QString::fromLocal8Bit(m_pending));
        m_pending.clear();
        emit Finished();
        return;
    }
    m_pending.append(buffer, n);
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        emit LineRead(QString::fromLocal8Bit(line));
    }
}

#endif
