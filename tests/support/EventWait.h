#pragma once

// Waits for a condition while the event loop runs freely. QTest::qWaitFor sleeps 10 ms between
// passes, which adds up to that much delay to every byte that crosses the loop; timings must
// not include it.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

inline bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start(1);
    loop.exec();
    return done();
}

// Runs the event loop for `ms` milliseconds without waking in between.
inline void IdleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
