#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

// A single-shot timer with nanosecond resolution. Qt's timers round to whole milliseconds,
// which at 19200 baud (0.52 ms a byte) would make the unit answer up to a millisecond late
// each time; a timerfd wakes the event loop when the byte is really due.
class WakeTimer : public QObject
{
    Q_OBJECT
public:
    explicit WakeTimer(QObject *parent = nullptr);
    ~WakeTimer() override;

    // Fires once at `dueNs` on the steady clock (CLOCK_MONOTONIC), at once when that has passed.
    void startAt(qint64 dueNs);
    void stop();

signals:
    void timeout();

private:
    void onReadable();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
