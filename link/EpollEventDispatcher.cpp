#include "EpollEventDispatcher.h"

#ifdef Q_OS_LINUX

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

qint64 NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr qint64 kNsPerMs = 1000000;
constexpr int kEventsPerPass = 256;

bool AddToEpoll(int epoll, int fd, std::uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject *parent) : QAbstractEventDispatcher(parent)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wakeOnlyEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!isValid() || !AddToEpoll(m_epoll, m_wake, EPOLLIN) ||
        !AddToEpoll(m_wakeOnlyEpoll, m_wake, EPOLLIN)) {
        for (int *fd : {&m_epoll, &m_wakeOnlyEpoll, &m_wake}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    for (int fd : {m_epoll, m_wakeOnlyEpoll, m_wake}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int fd = int(notifier->socket());
    Watch &watch = m_watches[fd];
    QSocketNotifier **slot = notifier->type() == QSocketNotifier::Read    ? &watch.read
                             : notifier->type() == QSocketNotifier::Write ? &watch.write
                                                                          : &watch.exception;
    if (*slot && *slot != notifier)
        qWarning("EpollEventDispatcher: descriptor %d already has a notifier of that type", fd);
    *slot = notifier;
    UpdateWatch(fd, watch);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    std::replace(m_pending.begin(), m_pending.end(), notifier,
                 static_cast<QSocketNotifier *>(nullptr));
    const int fd = int(notifier->socket());
    auto it = m_watches.find(fd);
    if (it == m_watches.end())
        return;
    Watch &watch = it->second;
    for (QSocketNotifier **slot : {&watch.read, &watch.write, &watch.exception}) {
        if (*slot == notifier)
            *slot = nullptr;
    }
    UpdateWatch(fd, watch);
    if (!watch.read && !watch.write && !watch.exception)
        m_watches.erase(it);
}

void EpollEventDispatcher::UpdateWatch(int fd, Watch &watch)
{
    const std::uint32_t wanted = (watch.read ? std::uint32_t(EPOLLIN) : 0u) |
                                 (watch.write ? std::uint32_t(EPOLLOUT) : 0u) |
                                 (watch.exception ? std::uint32_t(EPOLLPRI) : 0u);
    if (watch.alwaysReady) {
        if (wanted == 0) {
            watch.alwaysReady = false;
            --m_alwaysReady;
        }
        return;
    }
    if (wanted == watch.events)
        return;
    epoll_event event{};
    event.events = wanted;
    event.data.fd = fd;
    int op = wanted == 0 ? EPOLL_CTL_DEL : watch.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    int result = ::epoll_ctl(m_epoll, op, fd, &event);
    // A descriptor closed while watched left the set on its own; one whose number was
    // reused may still be there. Either way the set is brought in line.
    if (result != 0 && errno == ENOENT && op == EPOLL_CTL_MOD)
        result = ::epoll_ctl(m_epoll, op = EPOLL_CTL_ADD, fd, &event);
    else if (result != 0 && errno == EEXIST && op == EPOLL_CTL_ADD)
        result = ::epoll_ctl(m_epoll, op = EPOLL_CTL_MOD, fd, &event);
    if (result != 0 && op == EPOLL_CTL_DEL)
        result = 0; // closed already: nothing left to remove
    if (result == 0) {
        watch.events = wanted;
        return;
    }
    if (errno == EPERM) {
        // A regular file or a folder: poll() calls it ready at all times, and so do we.
        watch.events = 0;
        watch.alwaysReady = true;
        ++m_alwaysReady;
        return;
    }
    qWarning("EpollEventDispatcher: cannot watch descriptor %d: %s", fd, strerror(errno));
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject *object)
{
    m_timers.push_back(Timer{timerId, qMax<qint64>(0, interval), timerType, object,
                             NowNs() + interval * kNsPerMs});
}

EpollEventDispatcher::Timer *EpollEventDispatcher::FindTimer(int timerId)
{
    for (Timer &timer : m_timers) {
        if (timer.id == timerId)
            return &timer;
    }
    return nullptr;
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    const auto it = std::find_if(m_timers.begin(), m_timers.end(),
                                 [timerId](const Timer &timer) { return timer.id == timerId; });
    if (it == m_timers.end())
        return false;
    m_timers.erase(it);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject *object)
{
    const auto end = std::remove_if(m_timers.begin(), m_timers.end(), [object](const Timer &timer) {
        return timer.object == object;
    });
    const bool any = end != m_timers.end();
    m_timers.erase(end, m_timers.end());
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo>
EpollEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> timers;
    for (const Timer &timer : m_timers) {
        if (timer.object == object)
            timers.append(TimerInfo(timer.id, int(timer.intervalMs), timer.type));
    }
    return timers;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    const Timer *timer = FindTimer(timerId);
    if (!timer)
        return -1;
    const qint64 left = timer->deadlineNs - NowNs();
    return left <= 0 ? 0 : int(qMin<qint64>(INT_MAX, (left + kNsPerMs - 1) / kNsPerMs));
}

void EpollEventDispatcher::wakeUp()
{
    const std::uint64_t one = 1;
    // The counter only grows; a full one (never in practice) still wakes the loop.
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
}

void EpollEventDispatcher::interrupt()
{
    m_interrupted.store(true);
    wakeUp();
}

int EpollEventDispatcher::WaitTimeout(bool includeTimers, qint64 nowNs) const
{
    if (!includeTimers)
        return -1;
    qint64 earliest = LLONG_MAX;
    for (const Timer &timer : m_timers) {
        if (!timer.inHandler)
            earliest = qMin(earliest, timer.deadlineNs);
    }
    if (earliest == LLONG_MAX)
        return -1;
    if (earliest <= nowNs)
        return 0;
    // Rounded up: waking before the deadline would only mean waiting again.
    return int(qMin<qint64>(INT_MAX, (earliest - nowNs + kNsPerMs - 1) / kNsPerMs));
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    m_interrupted.store(false);
    emit awake();
    QCoreApplication::sendPostedEvents();
    if (m_interrupted.load())
        return false;

    const bool includeTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool includeNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    int timeout = 0;
    if (flags & QEventLoop::WaitForMoreEvents) {
        timeout = (includeNotifiers && m_alwaysReady > 0) ? 0 : WaitTimeout(includeTimers, NowNs());
    }
    if (timeout != 0)
        emit aboutToBlock();

    epoll_event events[kEventsPerPass];
    int ready =
        ::epoll_wait(includeNotifiers ? m_epoll : m_wakeOnlyEpoll, events, kEventsPerPass, timeout);
    if (ready < 0)
        ready = 0; // a signal's handler ran: the pass simply ends early
    int activated = 0;
    const bool nested = !m_pending.empty();
    for (int i = 0; i < ready; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_wake) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_wake, &count, sizeof count);
            ++activated;
            continue;
        }
        const auto it = m_watches.find(fd);
        if (it == m_watches.end())
            continue;
        const std::uint32_t got = events[i].events;
        const std::uint32_t broken = EPOLLHUP | EPOLLERR;
        const Watch &watch = it->second;
        const std::pair<QSocketNotifier *, std::uint32_t> wakes[] = {
            {watch.read, EPOLLIN | broken},
            {watch.write, EPOLLOUT | broken},
            {watch.exception, EPOLLPRI | broken}};
        for (const auto &[notifier, mask] : wakes) {
            if (notifier && (got & mask) &&
                (!nested ||
                 std::find(m_pending.begin(), m_pending.end(), notifier) == m_pending.end()))
                m_pending.push_back(notifier);
        }
    }
    if (includeNotifiers && m_alwaysReady > 0) {
        for (const auto &[fd, watch] : m_watches) {
            if (!watch.alwaysReady)
                continue;
            for (QSocketNotifier *notifier : {watch.read, watch.write}) {
                if (notifier &&
                    std::find(m_pending.begin(), m_pending.end(), notifier) == m_pending.end())
                    m_pending.push_back(notifier);
            }
        }
    }
    activated += ActivateNotifiers();
    if (includeTimers)
        activated += ActivateTimers();
    return activated > 0;
}

int EpollEventDispatcher::ActivateNotifiers()
{
    int activated = 0;
    // A handler may run a nested loop that activates the rest and empties the list; the size is
    // read afresh each time round.
    for (std::size_t i = 0; i < m_pending.size(); ++i) {
        QSocketNotifier *notifier = m_pending[i];
        if (!notifier)
            continue;
        m_pending[i] = nullptr;
        QEvent event(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &event);
        ++activated;
    }
    m_pending.clear();
    return activated;
}

int EpollEventDispatcher::ActivateTimers()
{
    if (m_timers.empty())
        return 0;
    const qint64 now = NowNs();
    // The timers due when the pass began, earliest first; each fires at most once.
    std::vector<std::pair<qint64, int>> due;
    for (const Timer &timer : m_timers) {
        if (!timer.inHandler && timer.deadlineNs <= now)
            due.emplace_back(timer.deadlineNs, timer.id);
    }
    std::sort(due.begin(), due.end());
    int activated = 0;
    for (const auto &[deadline, id] : due) {
        Timer *timer = FindTimer(id); // a handler before may have stopped or restarted it
        if (!timer || timer->inHandler || timer->deadlineNs > now)
            continue;
        // Keeps the timer's phase; one that fell behind starts afresh from now.
        const qint64 interval = timer->intervalMs * kNsPerMs;
        timer->deadlineNs += interval;
        if (timer->deadlineNs <= now && interval > 0)
            timer->deadlineNs = now + interval;
        timer->inHandler = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(timer->object, &event);
        if (Timer *after = FindTimer(id))
            after->inHandler = false;
        ++activated;
    }
    return activated;
}

#endif // Q_OS_LINUX
