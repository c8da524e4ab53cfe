// The MAC counter as a number source shared by the window and any number of production tool
// processes and accounts: taking, giving back, claiming typed numbers, the lock, the file's
// modes, and the asynchronous source over it.

#include "exchanges/FileMacNumberSource.h"
#include "exchanges/MacCounter.h"
#include "exchanges/MacNumber.h"
#include "settings/FileLock.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <mutex>
#include <thread>
#include <vector>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// One taker's record: numbers it sent, in the order it sent them.
struct Sent
{
    std::vector<int> numbers;
};

// Takes, gives back and claims at random, as the window and the tool do: a taken number is
// sent unless it went back; a claimed number at or above the counter is sent; a claim below
// it is the operator sending one again on purpose and is not counted.
void RandomTaker(const QString &path, quint32 seed, int rounds, Sent *sent)
{
    QRandomGenerator random(seed);
    for (int i = 0; i < rounds; ++i) {
        const int dice = int(random.bounded(10));
        if (dice < 6) {
            const MacNumberReply taken = TakeMacNumber(path);
            if (!taken.ok)
                continue;
            if (dice == 0 && ReturnMacNumber(path, taken.number).ok)
                continue;
            sent->numbers.push_back(taken.number);
        } else {
            const MacNumberReply check = CheckMacNumber(path, -1);
            if (!check.ok)
                continue;
            // Around the counter: at it, a little above, or below it.
            const int number = qMax(0, check.next + int(random.bounded(6)) - 2);
            const MacNumberReply claimed = ClaimMacNumber(path, number);
            if (claimed.ok && !claimed.givenBefore)
                sent->numbers.push_back(number);
        }
    }
}

} // namespace

class TestMacCounter : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString counter() const { return dir.filePath("SetMACAddress.txt"); }

private slots:
    void init()
    {
        QFile::remove(counter());
        QFile::remove(MacCounterLockPath(counter()));
    }

    void take_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("taken"); // -1: refused
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("error");
        QTest::newRow("12 AB") << QByteArray("12\r\nAB\r\n") << 0x12AB << QByteArray("12\r\nAC\r\n")
                               << "";
        QTest::newRow("carry into the high byte")
            << QByteArray("00\r\nff\r\n") << 0x00FF << QByteArray("01\r\n00\r\n") << "";
        QTest::newRow("last one before FFFF")
            << QByteArray("FF\r\nFE") << 0xFFFE << QByteArray("FF\r\nFF\r\n") << "";
        QTest::newRow("extra characters, as the window reads them")
            << QByteArray("12xyz\nAB7\n") << 0x12AB << QByteArray("12\r\nAC\r\n") << "";
        QTest::newRow("empty, as set up by hand: 0000")
            << QByteArray("") << 0 << QByteArray("00\r\n01\r\n") << "";
        QTest::newRow("at FFFF") << QByteArray("ff\r\nFF\r\n") << -1 << QByteArray("ff\r\nFF\r\n")
                                 << "is at FFFF: no MAC numbers left";
        QTest::newRow("three lines") << QByteArray("12\r\nAB\r\n\r\n") << -1
                                     << QByteArray("12\r\nAB\r\n\r\n") << "holds no number";
        QTest::newRow("one empty line")
            << QByteArray("\r\n") << -1 << QByteArray("\r\n") << "holds no number";
        QTest::newRow("not hex") << QByteArray("1G\r\nAB\r\n") << -1 << QByteArray("1G\r\nAB\r\n")
                                 << "holds no number";
    }
    void take()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, taken);
        QFETCH(QByteArray, after);
        QFETCH(QString, error);
        QVERIFY(WriteTestFile(counter(), before));
        const MacNumberReply reply = TakeMacNumber(counter());
        QCOMPARE(reply.ok, taken >= 0);
        if (reply.ok) {
            QCOMPARE(reply.number, taken);
            QCOMPARE(reply.next, taken + 1);
        }
        QCOMPARE(ReadTestFile(counter()), after);
        QVERIFY2(reply.error.contains(error), qPrintable(reply.error));
        if (!error.isEmpty())
            QVERIFY(reply.error.startsWith("MAC counter file " + counter()));
    }

    void take_missingFile_refused_nothingMade()
    {
        const MacNumberReply reply = TakeMacNumber(counter());
        QVERIFY(!reply.ok);
        QCOMPARE(reply.error, "MAC counter file " + counter() + " not found");
        QVERIFY(!QFile::exists(counter()));
        QVERIFY(!QFile::exists(MacCounterLockPath(counter())));
    }

    void giveBack_onlyWhileNothingWasTakenSince()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        const int first = TakeMacNumber(counter()).number;
        QVERIFY(ReturnMacNumber(counter(), first).ok);
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n10\r\n"));
        QCOMPARE(TakeMacNumber(counter()).number, first);
        QCOMPARE(TakeMacNumber(counter()).number, first + 1);
        const MacNumberReply late = ReturnMacNumber(counter(), first);
        QVERIFY(!late.ok);
        QCOMPARE(late.error,
                 "MAC number 00:10 stays unused: " + counter() + " has moved on to 00:12");
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n12\r\n"));
    }

    void checkAndClaim_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("givenBefore");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("above: moved past")
            << QByteArray("00\r\n10\r\n") << 0x20 << false << QByteArray("00\r\n21\r\n");
        QTest::newRow("at the counter: moved past")
            << QByteArray("00\r\n10\r\n") << 0x10 << false << QByteArray("00\r\n11\r\n");
        QTest::newRow("below: given before, kept")
            << QByteArray("00\r\n10\r\n") << 0x05 << true << QByteArray("00\r\n10\r\n");
        QTest::newRow("FFFF stays FFFF")
            << QByteArray("00\r\n10\r\n") << 0xFFFF << false << QByteArray("FF\r\nFF\r\n");
        QTest::newRow("empty file") << QByteArray() << 0 << false << QByteArray("00\r\n01\r\n");
    }
    void checkAndClaim()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, number);
        QFETCH(bool, givenBefore);
        QFETCH(QByteArray, after);
        QVERIFY(WriteTestFile(counter(), before));
        const MacNumberReply check = CheckMacNumber(counter(), number);
        QVERIFY(check.ok);
        QCOMPARE(check.givenBefore, givenBefore);
        QCOMPARE(ReadTestFile(counter()), before);
        const MacNumberReply claim = ClaimMacNumber(counter(), number);
        QVERIFY2(claim.ok, qPrintable(claim.error));
        QCOMPARE(claim.givenBefore, givenBefore);
        QCOMPARE(ReadTestFile(counter()), after);
    }

    // A file that makes no number is named and never replaced, whatever is asked of it.
    void fileWithoutNumber_leftAlone()
    {
        const QByteArray junk("junk\r\n");
        QVERIFY(WriteTestFile(counter(), junk));
        for (const MacNumberReply &reply :
             {TakeMacNumber(counter()), ClaimMacNumber(counter(), 5), ReturnMacNumber(counter(), 5),
              CheckMacNumber(counter(), 5)}) {
            QVERIFY(!reply.ok);
            QVERIFY2(reply.error.startsWith("MAC counter file " + counter() + " holds no number"),
                     qPrintable(reply.error));
        }
        QCOMPARE(ReadTestFile(counter()), junk);
    }

    void lockHeldElsewhere_waitIsBounded_fileUnchanged()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        FileLock holder;
        QString error;
        QVERIFY(holder.Lock(MacCounterLockPath(counter()), &error));
        QElapsedTimer clock;
        clock.start();
        const MacNumberReply reply = TakeMacNumber(counter(), MacCounterWait{400, nullptr});
        QVERIFY(clock.elapsed() >= 400);
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!reply.ok);
        QCOMPARE(reply.error, "Cannot lock file " + MacCounterLockPath(counter()) +
                                  ": another program has held it for 1 s");
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n10\r\n"));
        holder.Unlock();
        QCOMPARE(TakeMacNumber(counter(), MacCounterWait{400, nullptr}).number, 0x10);
    }

#ifndef Q_OS_WIN
    // Another operator account uses the same counter: the lock file is made writable for all
    // whatever the umask, and replacing the counter keeps the file's own mode.
    void modes_anotherAccountCanUseTheCounter()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        QVERIFY(::chmod(QFile::encodeName(counter()).constData(), 0666) == 0);
        const mode_t old = ::umask(077);
        const MacNumberReply reply = TakeMacNumber(counter());
        ::umask(old);
        QVERIFY(reply.ok);
        struct stat lockInfo = {};
        QVERIFY(::stat(QFile::encodeName(MacCounterLockPath(counter())).constData(), &lockInfo) ==
                0);
        QCOMPARE(int(lockInfo.st_mode & 0777), 0666);
        struct stat counterInfo = {};
        QVERIFY(::stat(QFile::encodeName(counter()).constData(), &counterInfo) == 0);
        QCOMPARE(int(counterInfo.st_mode & 0777), 0666);
    }

    // Several processes, each with several threads, take, give back and claim at random: no
    // number is sent twice, and the counter ends past every number sent.
    void randomTakersInProcessesAndThreads_noNumberTwice_counterPastAll()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n00\r\n"));
        constexpr int kProcesses = 3;
        constexpr int kThreads = 3;
        constexpr int kRounds = 60;
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        std::vector<pid_t> children;
        for (int p = 0; p < kProcesses; ++p) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                // The child takes with threads of its own and writes what it sent.
                std::vector<Sent> sent(kThreads);
                std::vector<std::thread> threads;
                for (int t = 0; t < kThreads; ++t)
                    threads.emplace_back(RandomTaker, counter(), seed + 100 * p + t, kRounds,
                                         &sent[size_t(t)]);
                for (std::thread &thread : threads)
                    thread.join();
                QByteArray lines;
                for (const Sent &s : sent)
                    for (int n : s.numbers)
                        lines += QByteArray::number(n) + '\n';
                const bool written =
                    WriteTestFile(dir.filePath(QStringLiteral("sent-%1").arg(p)), lines);
                ::_exit(written ? 0 : 1);
            }
            children.push_back(child);
        }
        std::vector<int> all;
        for (int p = 0; p < kProcesses; ++p) {
            int status = 0;
            QVERIFY(::waitpid(children[size_t(p)], &status, 0) == children[size_t(p)]);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            for (const QByteArray &line :
                 ReadTestFile(dir.filePath(QStringLiteral("sent-%1").arg(p))).split('\n')) {
                if (!line.isEmpty())
                    all.push_back(line.toInt());
            }
        }
        QVERIFY(all.size() > size_t(kProcesses * kThreads * kRounds / 2));
        QCOMPARE(QSet<int>(all.begin(), all.end()).size(), int(all.size()));
        const MacNumberReply end = CheckMacNumber(counter(), -1);
        QVERIFY(end.ok);
        QVERIFY(end.next > *std::max_element(all.begin(), all.end()));
    }
#endif

    // The source answers later, from the event loop, never inside the call; not at all when
    // the context is gone; and in the order asked.
    void source_answersFromTheEventLoop_toLivingContextsOnly()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        FileMacNumberSource source(counter());
        QCOMPARE(source.Describe(), "MAC counter file " + counter());
        QObject context;
        QList<MacNumberReply> replies;
        auto record = [&replies](const MacNumberReply &reply) { replies << reply; };
        auto gone = std::make_unique<QObject>();
        bool goneAnswered = false;
        source.Take({}, gone.get(),
                    [&goneAnswered](const MacNumberReply &) { goneAnswered = true; });
        gone.reset();
        source.Take({}, &context, record);
        source.MarkSent(0x11, &context, record);
        source.Confirm(0x11, "00:04:A3:01:00:11", &context, record);
        source.Check(0x05, &context, record);
        source.Claim(0x20, {}, &context, record);
        source.Void(0x20, "no answer", &context, record);
        QVERIFY(replies.isEmpty());
        QTRY_COMPARE(replies.size(), 6);
        QVERIFY(!goneAnswered);
        for (const MacNumberReply &reply : replies)
            QVERIFY2(reply.ok, qPrintable(reply.error));
        // The first take went to the context that is gone: the number is taken all the same,
        // and never given to anyone else.
        QCOMPARE(replies[0].number, 0x11);
        QVERIFY(replies[3].givenBefore);
        QCOMPARE(replies[3].next, 0x12);
        QVERIFY(!replies[4].givenBefore);
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n21\r\n"));
    }

    // A take waiting for a lock held elsewhere leaves the caller's event loop free; the wait
    // ends with a clear error; ending the source ends a wait at once.
    void source_waitingTake_eventLoopRuns_boundedAndStoppable()
    {
        QVERIFY(WriteTestFile(counter(), "00\r\n10\r\n"));
        FileLock holder;
        QString error;
        QVERIFY(holder.Lock(MacCounterLockPath(counter()), &error));
        QObject context;
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(10);
        {
            FileMacNumberSource source(counter(), 600);
            MacNumberReply reply;
            bool answered = false;
            source.Take({}, &context, [&](const MacNumberReply &r) {
                reply = r;
                answered = true;
            });
            QTRY_VERIFY_WITH_TIMEOUT(answered, 3000);
            QVERIFY(ticks >= 20);
            QVERIFY(!reply.ok);
            QVERIFY(reply.error.startsWith("Cannot lock file " + MacCounterLockPath(counter())));
        }
        QElapsedTimer clock;
        clock.start();
        {
            FileMacNumberSource source(counter(), 60000);
            bool answered = false;
            source.Take({}, &context, [&answered](const MacNumberReply &) { answered = true; });
            QTest::qWait(100);
            QVERIFY(!answered);
        }
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(ReadTestFile(counter()), QByteArray("00\r\n10\r\n"));
    }

    void numberOfAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("number");
        QTest::newRow("full") << "00:04:A3:01:12:AB" << 0x12AB;
        QTest::newRow("lower case") << "00:04:a3:01:ff:0e" << 0xFF0E;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("no separator") << "0004A30112AB" << -1;
        QTest::newRow("not hex") << "00:04:A3:01:1G:AB" << -1;
    }
    void numberOfAddress()
    {
        QFETCH(QString, address);
        QFETCH(int, number);
        QCOMPARE(MacNumberOfAddress(address), number);
    }

    void defaultPath_isTheWindowsFixedPathOnWindows()
    {
#ifdef Q_OS_WIN
        QCOMPARE(DefaultMacCounterPath(), QString("C:\\TolvexSetMACAddress\\SetMACAddress.txt"));
#else
        QVERIFY(DefaultMacCounterPath().endsWith("/TolvexSetMACAddress/SetMACAddress.txt"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestMacCounter)
#include "tst_maccounter.moc"
