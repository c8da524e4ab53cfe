#include "WakeTimer.h"

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

WakeTimer::WakeTimer(QObject *parent) : QObject(parent)
{
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &WakeTimer::onReadable);
    }
}

WakeTimer::~WakeTimer()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeTimer::startAt(qint64 dueNs)
{
    if (m_fd < 0)
        return;
    itimerspec setting{};
    // Zero would disarm the timer; a time in the past fires at once.
    const qint64 when = dueNs > 0 ? dueNs : 1;
    setting.it_value.tv_sec = time_t(when / 1000000000);
    setting.it_value.tv_nsec = long(when % 1000000000);
    ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void WakeTimer::stop()
{
    if (m_fd < 0)
        return;
    itimerspec setting{};
    ::timerfd_settime(m_fd, 0, &setting, nullptr);
}

void WakeTimer::onReadable()
{
    uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations)
        emit timeout();
}
