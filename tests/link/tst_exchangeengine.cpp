#include "link/ExchangeEngine.h"
#include "support/FakeLink.h"

#include <QTest>

namespace {

// A small exchange on the engine: the version step, then its lines one per answer, then a
// plain success. It records what the engine asked of it.
class ScriptExchange : public Exchange
{
public:
    QList<QByteArray> lines{"ax1\r\n", "ng\r\n"};
    ExchangeError tooManyErrors = ExchangeError::NotFoundRead;
    bool retryAllowed = true;
    bool singleBytes = false;
    bool logBeforeBox = false;
    QByteArray lastWords; // sent from Abort while the port is still open

    QList<QByteArray> answers;
    QList<EndCause> aborts;
    int begins = 0;
    int retries = 0;

    QString Name() const override { return QStringLiteral("Script"); }
    void Begin(ExchangeLink &link) override
    {
        ++begins;
        m_next = 0;
        m_versionPending = true;
        link.SendLine("sv\r\n");
    }
    void HandleReply(ExchangeLink &link, const QByteArray &reply) override
    {
        if (m_versionPending) {
            if (link.VersionStep(reply, tooManyErrors) != ExchangeLink::VersionOutcome::Accepted)
                return;
            m_versionPending = false;
        } else {
            answers << reply;
        }
        if (m_next < lines.size()) {
            link.SendLine(lines.at(m_next++));
            return;
        }
        ExchangeResult result;
        result.boxText = QStringLiteral("done");
        result.logLine = QStringLiteral("done log");
        result.logBeforeBox = logBeforeBox;
        link.Finish(result);
    }
    bool RetryAllowed() const override { return retryAllowed; }
    void Retry(ExchangeLink &link) override
    {
        ++retries;
        m_versionPending = true;
        link.SendLine("sv\r\n");
    }
    void Abort(ExchangeLink &link, EndCause cause) override
    {
        aborts << cause;
        if (!lastWords.isEmpty() && cause != EndCause::PortLost)
            link.SendBytes(lastWords, 0);
    }
    bool SingleBytes() const override { return singleBytes; }

private:
    int m_next = 0;
    bool m_versionPending = false;
};

const QByteArray kVersion("SV1.0.5-UDP\r\n");
const QString kError7("Cannot communicate with TOLVEX\nError 7");

} // namespace

class TestExchangeEngine : public QObject
{
    Q_OBJECT

    FakePort *port = nullptr;
    FakeHost *host = nullptr;
    ExchangeEngine *engine = nullptr;
    ScriptExchange *script = nullptr;
    QList<ExchangeResult> results;

    // Ticks until a box (of either kind) shows or `limit` ticks passed; the ticks used.
    int tickUntilBox(int limit = 200)
    {
        int used = 0;
        while (host->boxes.isEmpty() && host->portErrors.isEmpty() && used < limit) {
            engine->Tick();
            ++used;
        }
        return used;
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->Tick();
    }

private slots:
    void init()
    {
        port = new FakePort;
        host = new FakeHost;
        engine = new ExchangeEngine(*port, *host, *host);
        script = new ScriptExchange;
        results.clear();
        connect(engine, &ExchangeEngine::RunningChanged, this,
                [this](bool running) { host->events << (running ? "running" : "idle"); });
        connect(engine, &ExchangeEngine::Finished, this, [this](const ExchangeResult &result) {
            results << result;
            host->events << "finished";
        });
    }
    void cleanup()
    {
        delete engine;
        delete script;
        delete host;
        delete port;
    }

    void versionNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("result");
        QTest::newRow("1.0.5") << QByteArray("1.0.5-UDP\r\n") << 10005;
        QTest::newRow("1.1.0") << QByteArray("1.1.0-UDP\r\n") << 10100;
        QTest::newRow("TCP") << QByteArray("1.0.5-TCP\r\n") << 0;
        QTest::newRow("missing dash") << QByteArray("1.0.5\r\n") << 0;
        QTest::newRow("missing second dot") << QByteArray("1.05-UDP\r\n") << 0;
        QTest::newRow("UDP cut short") << QByteArray("1.0.5-UD") << 0;
        QTest::newRow("lower-case udp") << QByteArray("1.0.5-udp\r\n") << 0;
        QTest::newRow("too many digits") << QByteArray("99999999999999999999.0.0-UDP\r\n") << 0;
        QTest::newRow("letters count as digits") << QByteArray("1.0.a-UDP\r\n") << 10049;
        QTest::newRow("text after NUL") << QByteArray("1.0\0.5-UDP\r\n", 12) << 0;
        QTest::newRow("SW becomes UW") << QByteArray("SW1.0.5-UDP\r\n") << -2;
        QTest::newRow("no digit first") << QByteArray("x1.0.5-UDP\r\n") << -2;
        QTest::newRow("empty") << QByteArray() << -2;
    }
    void versionNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, result);
        QCOMPARE(engine->CheckVersionReply(text), result);
        QVERIFY(host->log.value(0).startsWith("Tolvex Version: "));
        QVERIFY(port->writes.isEmpty()); // a resend goes nowhere while no exchange runs
    }

    void versionStep_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<bool>("download");
        QTest::addColumn<int>("queries");
        QTest::addColumn<QString>("box"); // empty: accepted, "ax1" sent next
        const QByteArray error("Error\r\n");
        const QString notFound4("TOLVEX not found\rError 4");
        QTest::newRow("accepted") << QList<QByteArray>{kVersion} << false << 1 << "";
        QTest::newRow("1.0.99 accepted")
            << QList<QByteArray>{"SV1.0.99-UDP\r\n"} << false << 1 << "";
        QTest::newRow("four Error answers resent")
            << (QList<QByteArray>(4, error) << kVersion) << false << 5 << "";
        QTest::newRow("fifth Error: Error 4")
            << QList<QByteArray>(5, error) << false << 5 << notFound4;
        QTest::newRow("fifth Error in a download: Error 1")
            << QList<QByteArray>(5, error) << true << 5 << "TOLVEX not found\rError 1";
        QTest::newRow("Error with a blank is an unreadable version")
            << QList<QByteArray>{"Error \r\n", kVersion} << false << 2 << "";
        QTest::newRow("unreadable answers count with Error answers: Error 2")
            << QList<QByteArray>{error, error, "SVSW1\r\n", "SVxx\r\n", "SVxx\r\n"} << false << 5
            << "TOLVEX not found\rError 2";
        QTest::newRow("TCP: Error 2")
            << QList<QByteArray>{"SV1.0.5-TCP\r\n"} << false << 1 << "TOLVEX not found\rError 2";
        QTest::newRow("too new") << QList<QByteArray>{"SV1.1.0-UDP\r\n"} << false << 1
                                 << "TOLVEX version not supported\rPlease download the latest "
                                    "version of this application";
    }
    void versionStep()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(bool, download);
        QFETCH(int, queries);
        QFETCH(QString, box);
        if (download)
            script->tooManyErrors = ExchangeError::NotFoundTooManyErrors;
        QVERIFY(engine->Start(*script));
        for (const QByteArray &reply : replies)
            port->Feed(reply);
        QCOMPARE(port->writes.count("sv\r\n"), queries);
        if (box.isEmpty()) {
            QCOMPARE(port->writes.last(), QByteArray("ax1\r\n"));
            QVERIFY(host->boxes.isEmpty());
            return;
        }
        QCOMPARE(port->writes.size(), queries);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, box);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.at(0).outcome, ExchangeResult::Outcome::Failed);
        QVERIFY(!engine->Running());
        QVERIFY(!port->isOpen);
        ticks(50);
        QCOMPARE(host->boxes.size(), 1); // no time-out follows
    }

    void silentUnit_fourQueriesTenTicksApart_thenError7()
    {
        QList<int> writeTicks;
        int tick = 0;
        port->onWrite = [&](const QByteArray &) { writeTicks << tick; };
        QVERIFY(engine->Start(*script));
        while (host->boxes.isEmpty() && tick < 100) {
            ++tick;
            engine->Tick();
        }
        QCOMPARE(writeTicks, (QList<int>{0, 11, 21, 31}));
        QCOMPARE(tick, 40);
        QCOMPARE(port->writes, QList<QByteArray>(4, "sv\r\n"));
        QCOMPARE(port->openedDevices.size(), 4);
        QCOMPARE(script->retries, 3);
        QCOMPARE(script->aborts, QList<Exchange::EndCause>{Exchange::EndCause::TimedOut});
        QCOMPARE(host->events.mid(1),
                 (QStringList{"idle", "box:" + kError7, "log:Cannot communicate with TOLVEX",
                              "log:No byte at all came back from the unit: check the cable, the "
                              "unit's power and the port number",
                              "finished"}));
        QCOMPARE(results.at(0).ErrorNumber(), 7);
        QCOMPARE(results.at(0).activity.timeouts, 4);
        QVERIFY(!port->isOpen);
        ticks(50);
        port->Feed(kVersion); // the port is closed: nothing reaches the exchange
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(port->writes.size(), 4);
    }

    void silence_isDiagnosed_data()
    {
        QTest::addColumn<QByteArray>("heard");
        QTest::addColumn<QString>("diagnosis");
        QTest::newRow("nothing") << QByteArray() << "No byte at all came back";
        QTest::newRow("noise") << QByteArray("\x13\x80garbage", 9) << "never a valid line";
        QTest::newRow("answered, then silent") << kVersion << "answered and then stopped";
    }
    void silence_isDiagnosed()
    {
        QFETCH(QByteArray, heard);
        QFETCH(QString, diagnosis);
        QVERIFY(engine->Start(*script));
        port->Feed(heard);
        tickUntilBox();
        QCOMPARE(host->boxes.value(0).text, kError7);
        QVERIFY2(host->log.last().contains(diagnosis), qPrintable(host->log.last()));
    }

    void budgets_areFreshAtEveryStart()
    {
        for (int run = 0; run < 2; ++run) {
            port->writes.clear();
            host->boxes.clear();
            QVERIFY(engine->Start(*script));
            for (int i = 0; i < 4; ++i)
                port->Feed("Error\r\n");
            QVERIFY(host->boxes.isEmpty());
            tickUntilBox();
            QCOMPARE(port->writes, QList<QByteArray>(1 + 4 + 3, "sv\r\n"));
            QCOMPARE(host->boxes.value(0).text, kError7);
        }
    }

    void retryWhoseOpenFails_isAnotherTimeOut_withoutABox()
    {
        QVERIFY(engine->Start(*script));
        port->openResults = QList<PortIo::OpenResult>(3, PortIo::OpenResult::NoSuchDevice);
        QCOMPARE(tickUntilBox(), 16); // 10, then a failed opening and one tick, three times
        QVERIFY(host->portErrors.isEmpty());
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, kError7);
        QCOMPARE(port->writes.size(), 1);
    }

    void openFailure_keepsTheSystemsReason_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<PortIo::OpenResult>("failure");
        QTest::addColumn<QString>("box");
        const QString open3("Unable to open serial port 3\n");
        QTest::newRow("no such device")
            << 3 << PortIo::OpenResult::NoSuchDevice << open3 + "No such device";
        QTest::newRow("in use") << 3 << PortIo::OpenResult::InUse
                                << open3 + "The device is in use by another program";
        QTest::newRow("no permission")
            << 3 << PortIo::OpenResult::NoPermission << open3 + "No permission";
        QTest::newRow("other") << 3 << PortIo::OpenResult::OpenFailed
                               << open3 + "The system refused";
        QTest::newRow("255") << 255 << PortIo::OpenResult::NoSuchDevice
                             << "Unable to open serial port 255\nNo such device";
        QTest::newRow("settings refused")
            << 3 << PortIo::OpenResult::SettingsRefused << "SetCommState port error";
    }
    void openFailure_keepsTheSystemsReason()
    {
        QFETCH(int, portNumber);
        QFETCH(PortIo::OpenResult, failure);
        QFETCH(QString, box);
        host->portNumber = portNumber;
        port->openResults = {failure};
        QVERIFY(engine->Start(*script));
        QVERIFY(port->writes.isEmpty());
        QCOMPARE(script->begins, 0);
        QVERIFY(script->aborts.isEmpty()); // nothing to say to a unit never reached
        QCOMPARE(host->portErrors.size(), 1);
        QVERIFY2(host->portErrors.at(0).startsWith(box), qPrintable(host->portErrors.at(0)));
        QVERIFY(host->boxes.isEmpty());
        QVERIFY(host->log.last().startsWith(
            QStringLiteral("Unable to open serial port %1 (/dev/fake%1)").arg(portNumber)));
        QCOMPARE(host->events.first(), QString("running"));
        QCOMPARE(host->events.last(), QString("finished"));
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.at(0).ErrorNumber(), 7);
        QVERIFY(!engine->Running());

        QVERIFY(engine->Start(*script)); // the same port opens next time
        QCOMPARE(port->writes, QList<QByteArray>{"sv\r\n"});
    }

    // A port given by its device path (no COM number) is named by that path, never "port 0".
    void openFailure_devicePath_namedAsItself()
    {
        host->portNumber = 0;
        port->openResults = {PortIo::OpenResult::NoSuchDevice};
        QVERIFY(engine->Start(*script));
        QCOMPARE(host->portErrors.size(), 1);
        QVERIFY2(host->portErrors.at(0).startsWith(
                     "Unable to open serial port /dev/fake0\nNo such device"),
                 qPrintable(host->portErrors.at(0)));
        QVERIFY2(
            host->log.last().startsWith("Unable to open serial port /dev/fake0: No such device"),
            qPrintable(host->log.last()));
    }

#ifndef Q_OS_WIN
    void openFailure_noPermission_namesTheDialoutGroup()
    {
        port->openResults = {PortIo::OpenResult::NoPermission};
        engine->Start(*script);
        QVERIFY(host->portErrors.value(0).contains("dialout"));
    }
#endif

    void deviceLost_endsTheExchangeOnce_andTheNextStartWorks()
    {
        script->lastWords = "\x18\x18";
        QVERIFY(engine->Start(*script));
        port->Feed(kVersion);
        port->Lose();
        port->Lose(); // reported twice by a confused driver: still one end
        QTRY_COMPARE(results.size(), 1);
        ticks(60);
        QCOMPARE(host->portErrors, QStringList{"Serial port device lost: /dev/fake1\n"
                                               "Check the cable or adapter, then try again"});
        QVERIFY(host->boxes.isEmpty()); // no Error 7 follows
        QCOMPARE(results.at(0).ErrorNumber(), 7);
        QCOMPARE(script->aborts, QList<Exchange::EndCause>{Exchange::EndCause::PortLost});
        QCOMPARE(port->writes.size(), 2); // no last words to a device that is gone

        port->writes.clear();
        QVERIFY(engine->Start(*script));
        QCOMPARE(port->writes, QList<QByteArray>{"sv\r\n"});
    }

    void failedWrites_endTheExchangeOnce()
    {
        port->writeSucceeds = false;
        QVERIFY(engine->Start(*script));
        port->Feed("Error\r\n"); // resent: a second failed write before the event loop runs
        QCOMPARE(port->writes.size(), 2);
        QTRY_COMPARE(results.size(), 1);
        QTest::qWait(20);
        ticks(60);
        QCOMPARE(results.size(), 1);
        QCOMPARE(host->portErrors, QStringList{"Serial port write error"});
        QVERIFY(host->boxes.isEmpty());
        QCOMPARE(host->log.last(), QString("Serial port write error on /dev/fake1"));
        QVERIFY(!port->isOpen);
    }

    void cancel_sendsLastWords_noBox_andStopsTheTimeOut()
    {
        script->lastWords = "\x18\x18";
        QVERIFY(engine->Start(*script));
        engine->Cancel(QStringLiteral("the test"));
        QCOMPARE(port->writes, (QList<QByteArray>{"sv\r\n", "\x18\x18"}));
        QCOMPARE(script->aborts, QList<Exchange::EndCause>{Exchange::EndCause::Cancelled});
        QVERIFY(host->boxes.isEmpty() && host->portErrors.isEmpty());
        QCOMPARE(host->log, QStringList{"Script cancelled by the test"});
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Cancelled);
        QVERIFY(!port->isOpen);
        ticks(60);
        engine->Cancel(); // nothing runs: nothing happens
        QCOMPARE(port->writes.size(), 2);
        QCOMPARE(results.size(), 1);
    }

    void secondStart_isRefused_andTheFirstGoesOn()
    {
        ScriptExchange other;
        QVERIFY(engine->Start(*script));
        QVERIFY(!engine->Start(other));
        QVERIFY(!engine->Start(*script));
        QCOMPARE(other.begins, 0);
        QCOMPARE(script->begins, 1);
        QCOMPARE(engine->Current(), script);
        for (const QByteArray &reply : {kVersion, QByteArray("AX15\r\n"), QByteArray("NG1\r\n")})
            port->Feed(reply);
        QCOMPARE(script->answers.size(), 2);
        QCOMPARE(results.size(), 1);
        QVERIFY(engine->Start(other));
    }

    void end_order_data()
    {
        QTest::addColumn<bool>("logBeforeBox");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("box first")
            << false << QStringList{"running", "idle", "box:done", "log:done log", "finished"};
        QTest::newRow("log first")
            << true << QStringList{"running", "idle", "log:done log", "box:done", "finished"};
    }
    void end_order()
    {
        QFETCH(bool, logBeforeBox);
        QFETCH(QStringList, events);
        script->logBeforeBox = logBeforeBox;
        script->lines.clear();
        // While the box is open the engine is already free for the next start.
        bool freeDuringBox = false;
        host->whileBoxOpen = [&] { freeDuringBox = !engine->Running() && !port->isOpen; };
        QVERIFY(engine->Start(*script));
        port->Feed(kVersion);
        host->events.removeAll("log:Tolvex Version: 1.0.5-UDP\r\n");
        QCOMPARE(host->events, events);
        QVERIFY(freeDuringBox);
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Succeeded);
    }

    void tick_doesNotReenterItself_whileItsBoxIsOpen()
    {
        ScriptExchange next;
        bool first = true;
        host->whileBoxOpen = [&] {
            if (!first)
                return;
            first = false;
            QVERIFY(engine->Start(next));
            ticks(30); // the window's timer goes on under a modal box
        };
        script->retryAllowed = false;
        QVERIFY(engine->Start(*script));
        ticks(10);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(port->writes, QList<QByteArray>(2, "sv\r\n"));
        QCOMPARE(next.retries, 0); // none of the 30 ticks counted for the next exchange
        host->boxes.clear();
        QCOMPARE(tickUntilBox(), 40);
    }

    void repliesAfterTheEnd_areDropped()
    {
        QVERIFY(engine->Start(*script));
        port->Feed("SV9.9.9-UDP\r\nSV1.0.5-UDP\r\nAX15\r\n");
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(port->writes.size(), 1);
        QVERIFY(script->answers.isEmpty());
    }

    void singleBytes_areHandedOverOneByOne_onlyWhileTheExchangeAsks()
    {
        script->lines = {"zp\r\n"};
        QVERIFY(engine->Start(*script));
        port->Feed(kVersion);
        script->singleBytes = true;
        port->Feed("\x15\x06\r\n");
        QCOMPARE(script->answers, (QList<QByteArray>{"\x15"})); // it ended: the rest is dropped

        ScriptExchange next; // block mode went with the exchange that asked for it
        next.lines.clear();
        QVERIFY(engine->Start(next));
        port->Feed(kVersion);
        QCOMPARE(results.size(), 2);
        QCOMPARE(results.last().outcome, ExchangeResult::Outcome::Succeeded);
    }
};

QTEST_GUILESS_MAIN(TestExchangeEngine)
#include "tst_exchangeengine.moc"
