// The tool's event dispatcher, installed as the program installs it: timers, descriptors,
// posted events and wake-ups from other threads behave as under Qt's own dispatcher, also when
// handlers stop, delete or nest while a pass runs.

#include "link/EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Pipe
{
    int read = -1;
    int write = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe()
    {
        for (int fd : {read, write})
            if (fd >= 0)
                ::close(fd);
    }
    void Send(char byte) const { QCOMPARE(::write(write, &byte, 1), ssize_t(1)); }
    QByteArray Drain() const
    {
        QByteArray bytes;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(read, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, int(n));
        return bytes;
    }
};

// Runs the loop itself for `ms`, as the program does (QTest::qWait sleeps between passes).
void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class TestEpollEventDispatcher : public QObject
{
    Q_OBJECT
private slots:
    void installed();
    void randomTimersDescriptorsAndPostedEvents_data();
    void randomTimersDescriptorsAndPostedEvents();
    void nestedLoopInATimer_theTimerWaitsOthersGoOn();
    void notifierDeletedByAnotherInTheSamePass_neverActivated();
    void hangUpWakesTheReader();
    void regularFile_alwaysReady();
    void wakeUpFromAnotherThread();
    void manyIdleDescriptors_onlyTheReadyOneIsActivated();
};

void TestEpollEventDispatcher::installed()
{
    QVERIFY(qobject_cast<EpollEventDispatcher *>(QAbstractEventDispatcher::instance()));
}

void TestEpollEventDispatcher::randomTimersDescriptorsAndPostedEvents_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

// Timers started and stopped at random, single-shot and repeating, pipes written at random
// and their notifiers switched on and off, queued calls: no timer fires early or after its
// stop, a repeating one about as often as its interval allows, every byte reaches its reader,
// no notifier speaks while off, and queued calls arrive in the order made.
void TestEpollEventDispatcher::randomTimersDescriptorsAndPostedEvents()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    struct TimerModel
    {
        std::unique_ptr<QTimer> timer;
        QElapsedTimer since; // since its last start
        int firedSinceStart = 0;
    };
    struct PipeModel
    {
        Pipe pipe;
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray sent;
        QByteArray received;
        bool activatedWhileOff = false;
    };
    std::vector<TimerModel> timers(12);
    std::vector<std::unique_ptr<PipeModel>> pipes;
    QElapsedTimer clock;
    clock.start();
    bool early = false;
    bool afterStop = false;
    for (TimerModel &model : timers) {
        model.timer = std::make_unique<QTimer>();
        model.timer->setTimerType(Qt::PreciseTimer);
        QTimer *timer = model.timer.get();
        connect(timer, &QTimer::timeout, this, [&model, &early, &afterStop, timer] {
            if (!timer->isActive() && !timer->isSingleShot())
                afterStop = true;
            // The k-th time after a start comes k intervals after it at the earliest, with a
            // millisecond of grace: deadlines are kept in whole milliseconds.
            ++model.firedSinceStart;
            if (model.since.elapsed() + 1 < qint64(model.firedSinceStart) * timer->interval())
                early = true;
        });
    }
    for (int p = 0; p < 6; ++p) {
        auto model = std::make_unique<PipeModel>();
        PipeModel *raw = model.get();
        model->notifier = std::make_unique<QSocketNotifier>(raw->pipe.read, QSocketNotifier::Read);
        connect(raw->notifier.get(), &QSocketNotifier::activated, this, [raw] {
            if (!raw->notifier->isEnabled())
                raw->activatedWhileOff = true;
            raw->received += raw->pipe.Drain();
        });
        pipes.push_back(std::move(model));
    }
    QList<int> queued;
    int queuedNext = 0;
    QTimer driver;
    driver.setInterval(3);
    connect(&driver, &QTimer::timeout, this, [&] {
        const int action = int(random.bounded(5));
        TimerModel &t = timers[random.bounded(int(timers.size()))];
        PipeModel &p = *pipes[random.bounded(int(pipes.size()))];
        switch (action) {
        case 0:
            t.timer->setSingleShot(random.bounded(2) == 0);
            t.timer->start(int(random.bounded(25)));
            t.since.restart();
            t.firedSinceStart = 0;
            break;
        case 1:
            t.timer->stop();
            break;
        case 2: {
            const char byte = char('a' + random.bounded(26));
            p.sent += byte;
            p.pipe.Send(byte);
            break;
        }
        case 3:
            p.notifier->setEnabled(!p.notifier->isEnabled());
            break;
        default:
            QMetaObject::invokeMethod(
                this, [&queued, n = queuedNext++] { queued << n; }, Qt::QueuedConnection);
        }
    });
    driver.start();
    Spin(1500);
    driver.stop();
    for (auto &p : pipes)
        p->notifier->setEnabled(true);
    Spin(50);
    QVERIFY(!early);
    QVERIFY(!afterStop);
    for (const auto &p : pipes) {
        QVERIFY(!p->activatedWhileOff);
        QCOMPARE(p->received, p->sent);
    }
    QCOMPARE(queued.size(), queuedNext);
    for (int i = 0; i < queued.size(); ++i)
        QCOMPARE(queued.at(i), i);

    // A repeating 10 ms timer over half a second fires about fifty times, never more.
    QTimer steady;
    steady.setTimerType(Qt::PreciseTimer);
    int ticks = 0;
    connect(&steady, &QTimer::timeout, this, [&ticks] { ++ticks; });
    QElapsedTimer span;
    span.start();
    steady.start(10);
    Spin(500);
    steady.stop();
    QVERIFY2(ticks <= span.elapsed() / 10 && ticks >= 40, qPrintable(QString::number(ticks)));
}

void TestEpollEventDispatcher::nestedLoopInATimer_theTimerWaitsOthersGoOn()
{
    QTimer outer;
    outer.setInterval(5);
    int outerRuns = 0;
    int reentered = 0;
    bool inOuter = false;
    int innerTicks = 0;
    Pipe pipe;
    QSocketNotifier reader(pipe.read, QSocketNotifier::Read);
    QByteArray received;
    connect(&reader, &QSocketNotifier::activated, this, [&] { received += pipe.Drain(); });
    QTimer inner;
    inner.setInterval(2);
    connect(&inner, &QTimer::timeout, this, [&] { ++innerTicks; });
    connect(&outer, &QTimer::timeout, this, [&] {
        if (inOuter)
            ++reentered;
        inOuter = true;
        ++outerRuns;
        if (outerRuns == 1) {
            inner.start();
            pipe.Send('x');
            QEventLoop nested;
            QTimer::singleShot(60, &nested, &QEventLoop::quit);
            nested.exec();
            inner.stop();
        }
        inOuter = false;
    });
    outer.start();
    QTRY_VERIFY(outerRuns >= 3);
    QCOMPARE(reentered, 0);
    QVERIFY(innerTicks >= 10);
    QCOMPARE(received, QByteArray("x"));
}

void TestEpollEventDispatcher::notifierDeletedByAnotherInTheSamePass_neverActivated()
{
    Pipe first;
    Pipe second;
    first.Send('1');
    second.Send('2');
    auto a = std::make_unique<QSocketNotifier>(first.read, QSocketNotifier::Read);
    auto b = std::make_unique<QSocketNotifier>(second.read, QSocketNotifier::Read);
    int activations = 0;
    // Whichever speaks first deletes the other, which was found ready in the same pass.
    connect(a.get(), &QSocketNotifier::activated, this, [&] {
        ++activations;
        first.Drain();
        b.reset();
    });
    connect(b.get(), &QSocketNotifier::activated, this, [&] {
        ++activations;
        second.Drain();
        a.reset();
    });
    Spin(20);
    QCOMPARE(activations, 1);
}

void TestEpollEventDispatcher::hangUpWakesTheReader()
{
    Pipe pipe;
    QSocketNotifier reader(pipe.read, QSocketNotifier::Read);
    bool endOfFile = false;
    connect(&reader, &QSocketNotifier::activated, this, [&] {
        char byte;
        if (::read(pipe.read, &byte, 1) == 0) {
            endOfFile = true;
            reader.setEnabled(false);
        }
    });
    ::close(pipe.write);
    pipe.write = -1;
    QTRY_VERIFY_WITH_TIMEOUT(endOfFile, 1000);
}

void TestEpollEventDispatcher::regularFile_alwaysReady()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("data");
    file.flush();
    QSocketNotifier reader(file.handle(), QSocketNotifier::Read);
    int activations = 0;
    connect(&reader, &QSocketNotifier::activated, this, [&] {
        if (++activations == 3)
            reader.setEnabled(false);
    });
    QTRY_COMPARE_WITH_TIMEOUT(activations, 3, 1000);
    // Switched off, it no longer keeps the loop from waiting.
    QElapsedTimer waited;
    waited.start();
    Spin(50);
    QVERIFY(waited.elapsed() >= 49);
    QCOMPARE(activations, 3);
}

void TestEpollEventDispatcher::wakeUpFromAnotherThread()
{
    // No timer runs: only the call from the other thread can end the wait.
    QEventLoop loop;
    QElapsedTimer waited;
    waited.start();
    std::thread other([&loop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    other.join();
    QVERIFY(waited.elapsed() >= 25);
    QVERIFY(waited.elapsed() < 1000);
}

void TestEpollEventDispatcher::manyIdleDescriptors_onlyTheReadyOneIsActivated()
{
    std::vector<std::unique_ptr<Pipe>> pipes;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    std::map<int, int> activations;
    for (int i = 0; i < 200; ++i) {
        pipes.push_back(std::make_unique<Pipe>());
        notifiers.push_back(
            std::make_unique<QSocketNotifier>(pipes.back()->read, QSocketNotifier::Read));
        Pipe *pipe = pipes.back().get();
        connect(notifiers.back().get(), &QSocketNotifier::activated, this, [&activations, i, pipe] {
            ++activations[i];
            pipe->Drain();
        });
    }
    for (int round = 0; round < 20; ++round) {
        const int which = (round * 37) % 200;
        pipes[which]->Send('r');
        QTRY_COMPARE_WITH_TIMEOUT(activations[which], 1, 1000);
    }
    int total = 0;
    for (const auto &[pipe, count] : activations)
        total += count;
    QCOMPARE(total, 20);
}

int main(int argc, char *argv[])
{
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
    QCoreApplication app(argc, argv);
    TestEpollEventDispatcher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epolleventdispatcher.moc"
