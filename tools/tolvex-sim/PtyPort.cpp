#include "PtyPort.h"

#include <ctime>

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 NsPerMs = 1000000;
// Time a written byte may take to reach the other side's input queue.
constexpr qint64 SettleNs = 20 * NsPerMs;
constexpr qint64 DrainLimitNs = 1000 * NsPerMs;

bool MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

QString ErrnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

PtyPort::PtyPort(const QString &linkPath, QObject *parent) : QObject(parent), m_linkPath(linkPath)
{

    connect(&m_inputTimer, &WakeTimer::timeout, this, &PtyPort::pumpInput);
    connect(&m_outputTimer, &WakeTimer::timeout, this, &PtyPort::pumpOutput);
}

PtyPort::~PtyPort()
{
    release();
    removeLink();
}

bool PtyPort::open(QString *error)
{
    if (isOpen())
        return true;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = ErrnoText("posix_openpt");
        return false;
    }
    char name[256] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        *error = ErrnoText("pseudo-terminal setup");
        ::close(master);
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        *error = ErrnoText("open slave");
        ::close(master);
        return false;
    }
    if (!MakeRaw(master) || !MakeRaw(slave)) {
        *error = ErrnoText("raw mode");
        ::close(slave);
        ::close(master);
        return false;
    }

    m_master = master;
    m_slave = slave;
    m_device = QString::fromLocal8Bit(name);
    m_closeDeadlineNs = -1;
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyPort::readAvailable);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pumpOutput();
    });
    if (!updateLink(error)) {
        release();
        return false;
    }
    watchPeer();
    return true;
}

void PtyPort::watchPeer()
{
    // Added after our own slave descriptor was opened, so only the program's opens count.
    m_peerOpens = 0;
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return;
    if (inotify_add_watch(m_inotify, QFile::encodeName(m_device).constData(), IN_OPEN | IN_CLOSE) <
        0) {
        ::close(m_inotify);
        m_inotify = -1;
        return;
    }
    m_peerNotifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_peerNotifier, &QSocketNotifier::activated, this, &PtyPort::updatePeerOpens);
}

void PtyPort::updatePeerOpens()
{
    if (m_inotify < 0)
        return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            if (event->mask & IN_OPEN) {
                ++m_peerOpens;
            } else if ((event->mask & IN_CLOSE) && m_peerOpens > 0) {
                if (--m_peerOpens == 0)
                    tcflush(m_slave, TCIFLUSH);
            }
            offset += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
}

bool PtyPort::peerHasPortOpen()
{
    if (m_inotify < 0)
        return true;
    updatePeerOpens();
    return m_peerOpens > 0;
}

void PtyPort::send(const QByteArray &bytes, int delayMs, const QByteArray &event)
{
    if (!isOpen())
        return;
    Outgoing item;
    item.bytes = bytes;
    item.notBeforeNs = now() + qint64(delayMs) * NsPerMs;
    item.event = event;
    m_output.push_back(item);
    pumpOutput();
}

void PtyPort::closeAfterQueued()
{
    if (!isOpen())
        return;
    Outgoing item;
    item.close = true;
    item.notBeforeNs = now();
    m_output.push_back(item);
    pumpOutput();
}

void PtyPort::closeNow()
{
    if (!isOpen())
        return;
    release();
    removeLink();
    emit closed();
}

void PtyPort::release()
{
    m_inputTimer.stop();
    m_outputTimer.stop();
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    delete m_peerNotifier;
    m_peerNotifier = nullptr;
    if (m_inotify >= 0)
        ::close(m_inotify);
    m_inotify = -1;
    m_peerOpens = 0;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_input.clear();
    m_output.clear();
    m_closeDeadlineNs = -1;
    m_batchDeadlineNs = -1;
}

void PtyPort::readAvailable()
{
    char buffer[4096];
    const qint64 t = now();
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                qint64 due = t;
                if (m_wireDelay) {
                    // A byte is whole only once its ten bits have crossed the line.
                    due = std::max(t, m_lastInputNs) + ByteTimeNs;
                    m_lastInputNs = due;
                }
                m_input.emplace_back(due, buffer[i]);
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: all read. EIO or end of file cannot happen while our own slave descriptor
        // is open; should it, stop listening rather than spin on a descriptor that stays ready.
        if (!(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
            m_readNotifier->setEnabled(false);
        break;
    }
    pumpInput();
}

void PtyPort::pumpInput()
{
    const qint64 t = now();
    QByteArray due;
    while (!m_input.empty() && m_input.front().first <= t) {
        due += m_input.front().second;
        m_input.pop_front();
    }
    if (!m_input.empty())
        armTimer(m_inputTimer, m_input.front().first);
    if (!due.isEmpty())
        emit received(due);
}

void PtyPort::pumpOutput()
{
    while (isOpen() && !m_output.empty()) {
        const qint64 t = now();
        Outgoing &item = m_output.front();
        if (item.notBeforeNs > t) {
            armTimer(m_outputTimer, item.notBeforeNs);
            return;
        }
        if (item.close) {
            if (!readerHasDrained(t))
                return;
            closeNow();
            return;
        }
        if (m_latencyNs > 0) {
            // A batch gathers what reaches the adapter before its timer runs out; what comes
            // later starts the next one.
            if (m_batchDeadlineNs >= 0 && item.notBeforeNs > m_batchDeadlineNs)
                m_batchDeadlineNs = -1;
            if (m_batchDeadlineNs < 0)
                m_batchDeadlineNs = item.notBeforeNs + m_latencyNs;
            if (t < m_batchDeadlineNs) {
                armTimer(m_outputTimer, m_batchDeadlineNs);
                return;
            }
        }
        if (!peerHasPortOpen()) {
            const QByteArray event = item.event;
            m_output.pop_front();
            if (!event.isEmpty())
                emit sent("LOST " + event);
            continue;
        }
        if (!writeHead(item, t))
            return;
        const QByteArray event = item.event;
        m_output.pop_front();
        if (!event.isEmpty())
            emit sent(event); // may cut the link; the loop checks isOpen() again
    }
}

bool PtyPort::writeHead(Outgoing &item, qint64 t)
{
    while (item.written < item.bytes.size()) {
        const char *data = item.bytes.constData() + item.written;
        qint64 length = item.bytes.size() - item.written;
        qint64 due = 0;
        if (m_wireDelay) {
            // Written when its last bit would arrive, so the reader sees it no earlier than
            // a real line delivers it.
            due = std::max(item.notBeforeNs, m_lastOutputNs) + ByteTimeNs;
            if (due > t) {
                armTimer(m_outputTimer, due);
                return false;
            }
            length = 1;
        }
        const ssize_t n = ::write(m_master, data, static_cast<size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The other side is not reading and its input queue is full: wait until it is.
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                m_writeNotifier->setEnabled(true);
            else
                armTimer(m_outputTimer, t + 10 * NsPerMs);
            return false;
        }
        if (m_wireDelay)
            m_lastOutputNs = due;
        item.written += static_cast<int>(n);
        m_lastWriteNs = t;
    }
    return true;
}

bool PtyPort::readerHasDrained(qint64 t)
{
    if (m_closeDeadlineNs < 0)
        m_closeDeadlineNs = t + DrainLimitNs;
    int pending = 0;
    if (ioctl(m_slave, FIONREAD, &pending) != 0)
        pending = 0;
    const bool settled = t - m_lastWriteNs >= SettleNs;
    if ((pending == 0 && settled) || t >= m_closeDeadlineNs)
        return true;
    armTimer(m_outputTimer, t + 5 * NsPerMs);
    return false;
}

void PtyPort::armTimer(WakeTimer &timer, qint64 dueNs)
{
    timer.startAt(dueNs);
}

qint64 PtyPort::now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool PtyPort::updateLink(QString *error)
{
    if (m_linkPath.isEmpty())
        return true;
    // Made beside the final name and renamed over it, so a reader never finds the link missing
    // or half made.
    const QByteArray target = QFile::encodeName(m_device);
    const QByteArray link = QFile::encodeName(m_linkPath);
    const QByteArray temporary = link + ".tmp" + QByteArray::number(getpid());
    ::unlink(temporary.constData());
    if (::symlink(target.constData(), temporary.constData()) != 0 ||
        ::rename(temporary.constData(), link.constData()) != 0) {
        *error = ErrnoText("link");
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

void PtyPort::removeLink()
{
    if (m_linkPath.isEmpty() || m_device.isEmpty())
        return;
    // Only our own link goes: someone may have pointed the name elsewhere meanwhile.
    const QByteArray link = QFile::encodeName(m_linkPath);
    char target[512] = {};
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == m_device)
        ::unlink(link.constData());
}
