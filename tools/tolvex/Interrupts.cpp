#include "Interrupts.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_WIN
#include <iostream>
#include <string>
#include <thread>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

namespace {
Interrupts *g_interrupts = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    if (!g_interrupts)
        return FALSE;
    const QString name = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? "SIGINT" : "SIGTERM";
    QMetaObject::invokeMethod(
        g_interrupts, [name] { emit g_interrupts->Received(name); }, Qt::QueuedConnection);
    return TRUE;
}
} // namespace

Interrupts::Interrupts(QObject *parent) : QObject(parent)
{
    g_interrupts = this;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

Interrupts::~Interrupts()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_interrupts = nullptr;
}

StdinLines::StdinLines(QObject *parent) : QObject(parent)
{
    // The console has no readiness notification: a reader thread hands each line over.
    std::thread([this] {
        std::string line;
        while (std::getline(std::cin, line)) {
            const QString text = QString::fromLocal8Bit(line.c_str());
            QMetaObject::invokeMethod(
                this, [this, text] { emit LineRead(text); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            this, [this] { emit Finished(); }, Qt::QueuedConnection);
    }).detach();
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
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
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
