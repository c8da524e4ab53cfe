#pragma once

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include <QAbstractEventDispatcher>

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

// An event dispatcher for a thread that watches many serial ports at once. Qt's own dispatchers
// hand every open port to poll() at every wake-up, so each wake-up costs as much as there are
// ports, and a gang's wake-ups grow with its size too: the tool's time per unit grew with the
// gang. epoll keeps the set of watched descriptors in the kernel and hands back only the ready
// ones, so a wake-up costs the same for 1 port as for 64.
//
// It behaves as Qt's Unix dispatcher does: posted events first, then ready socket notifiers
// (a hang-up or an error wakes the read and the write notifiers of a descriptor), then the
// timers that are due, each at most once per pass and never while its own handler still runs
// (a nested loop inside a handler). A descriptor epoll refuses (a regular file) counts as
// always ready, as poll() reports it. Timers are kept to the millisecond whatever their type.
// Install it with QCoreApplication::setEventDispatcher before the application is created.
class EpollEventDispatcher final : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    explicit EpollEventDispatcher(QObject *parent = nullptr);
    ~EpollEventDispatcher() override;

    // False when the kernel refused the epoll or wake-up descriptor; use Qt's own then.
    bool isValid() const { return m_epoll >= 0 && m_wakeOnlyEpoll >= 0 && m_wake >= 0; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    // Both may be called from any thread.
    void wakeUp() override;
    void interrupt() override;

private:
    struct Watch
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
        QSocketNotifier *exception = nullptr;
        std::uint32_t events = 0; // what epoll watches for now (0: not in the epoll set)
        bool alwaysReady = false; // epoll refused the descriptor
    };
    struct Timer
    {
        int id;
        qint64 intervalMs;
        Qt::TimerType type;
        QObject *object;
        qint64 deadlineNs;
        bool inHandler = false; // its event is being delivered (perhaps in a nested loop)
    };

    // Brings the epoll set in line with the notifiers the descriptor has.
    void UpdateWatch(int fd, Watch &watch);
    // Milliseconds to wait: 0 when something is ready already, -1 for no timer at all.
    int WaitTimeout(bool includeTimers, qint64 nowNs) const;
    int ActivateNotifiers();
    int ActivateTimers();
    Timer *FindTimer(int timerId);

    int m_epoll = -1;
    int m_wakeOnlyEpoll = -1; // only the wake-up descriptor: a pass without socket notifiers
    int m_wake = -1;          // eventfd written by wakeUp()
    std::atomic<bool> m_interrupted{false};
    std::unordered_map<int, Watch> m_watches;
    int m_alwaysReady = 0; // watches that epoll refused
    // Notifiers found ready in this pass; one unregistered meanwhile is set to null.
    std::vector<QSocketNotifier *> m_pending;
    std::vector<Timer> m_timers;
};

#endif // Q_OS_LINUX
