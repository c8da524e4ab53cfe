#include "link/ExchangeEngine.h"
#include "support/FakeLink.h"

#include <QTest>

namespace {

// A small exchange on the engine: version step, then one queued line per answer.
class ScriptExchange : public Exchange
{
public:
    explicit ScriptExchange(ExchangeEngine &engine) : m_engine(engine) {}

    void HandleReply(const QByteArray &reply) override
    {
        if (m_engine.HandleVersionAnswer(reply))
            return;
        answers << reply;
        if (!m_engine.SendNextCommand())
            m_engine.SetExchangeState(ExchangeEngine::StateNone);
    }
    void RebuildQueue() override
    {
        ++rebuilds;
        m_engine.Queue().Clear();
        m_engine.Queue().Add(QStringLiteral("ng\r\n"));
        m_engine.Queue().Add(QStringLiteral("ax1\r\n"));
    }

    QList<QByteArray> answers;
    int rebuilds = 0;

private:
    ExchangeEngine &m_engine;
};

} // namespace

class TestExchangeEngine : public QObject
{
    Q_OBJECT

    FakePort *port = nullptr;
    FakeHost *host = nullptr;
    ExchangeEngine *engine = nullptr;
    ScriptExchange *exchange = nullptr;

    // Starts like the read: state 2, three retries, "sv" sent.
    void start()
    {
        exchange->RebuildQueue();
        engine->StartWithVersionQuery(ExchangeEngine::StateRead);
        QVERIFY(engine->PortOpen());
        QCOMPARE(engine->RetriesLeft(), 3);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->Timer1Timer();
    }

private slots:
    void init()
    {
        port = new FakePort;
        host = new FakeHost;
        engine = new ExchangeEngine(*port, *host);
        exchange = new ScriptExchange(*engine);
        engine->RegisterExchange(ExchangeEngine::StateRead, exchange);
    }
    void cleanup()
    {
        delete exchange;
        delete engine;
        delete host;
        delete port;
    }

    void checkVersionReply_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("logged");
        QTest::newRow("1.0.5") << QByteArray("1.0.5-UDP\r\n") << 10005
                               << "Tolvex Version: 1.0.5-UDP\r\n";
        QTest::newRow("1.0.99 highest accepted") << QByteArray("1.0.99-UDP\r\n") << 10099 << "";
        QTest::newRow("1.1.0") << QByteArray("1.1.0-UDP\r\n") << 10100 << "";
        QTest::newRow("TCP is no version") << QByteArray("1.0.5-TCP\r\n") << 0 << "";
        QTest::newRow("missing dash") << QByteArray("1.0.5\r\n") << 0 << "";
        QTest::newRow("missing second dot") << QByteArray("1.05-UDP\r\n") << 0 << "";
        QTest::newRow("UDP cut short") << QByteArray("1.0.5-UD") << 0 << "";
        QTest::newRow("lower-case udp") << QByteArray("1.0.5-udp\r\n") << 0 << "";
        QTest::newRow("too many digits is no version")
            << QByteArray("99999999999999999999.0.0-UDP\r\n") << 0 << "";
        QTest::newRow("letters count as digits")
            << QByteArray("1.0.a-UDP\r\n") << 10049 << ""; // 'a' - 48 = 49
        QTest::newRow("text after NUL is not read")
            << QByteArray("1.0\0.5-UDP\r\n", 12) << 0 << "Tolvex Version: 1.0";
        QTest::newRow("SW becomes UW and is unreadable")
            << QByteArray("SW1.0.5-UDP\r\n") << -2 << "Tolvex Version: UW1.0.5-UDP\r\n";
        QTest::newRow("no digit first: resent") << QByteArray("x1.0.5-UDP\r\n") << -2 << "";
        QTest::newRow("empty text: resent") << QByteArray() << -2 << "Tolvex Version: ";
    }

    void checkVersionReply()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, result);
        QFETCH(QString, logged);
        QVERIFY(engine->OpenSerialPort());
        engine->SetLastCommand("sv\r\n");
        QCOMPARE(engine->CheckVersionReply(text), result);
        if (!logged.isEmpty())
            QCOMPARE(host->log.value(0), logged);
        QCOMPARE(port->writes.size(), result == -2 ? 1 : 0);
    }

    void errorAnswers_resentFourTimes_fifthGivesUpWithError4()
    {
        start();
        for (int i = 0; i < 4; ++i)
            port->Feed("Error\r\n");
        QCOMPARE(port->writes, QList<QByteArray>(5, "sv\r\n"));
        QVERIFY(host->boxes.isEmpty());
        port->Feed("Error\r\n");
        QCOMPARE(port->writes.size(), 5);
        QCOMPARE(host->events,
                 (QStringList{"box:TOLVEX not found\rError 4", "log:TOLVEX not found"}));
        QCOMPARE(engine->ExchangeState(), 0);
        QCOMPARE(engine->ReplyTimeout(), 0);
        QVERIFY(!engine->PortOpen());
        ticks(30);
        QCOMPARE(host->boxes.size(), 1); // no time-out follows
    }

    void errorThatIsNotExact_isAVersionAnswer()
    {
        start();
        port->Feed("Error \r\n"); // reads as text from its third byte: "ror \r\n"
        QCOMPARE(engine->ErrorRetryCount(), 1);
        QCOMPARE(port->writes.last(), QByteArray("sv\r\n"));
    }

    void unreadableAnswers_countWithErrors_fifthGivesError2()
    {
        start();
        port->Feed("Error\r\n");
        port->Feed("Error\r\n");
        port->Feed("SVSW1\r\n");
        port->Feed("SVxx\r\n");
        QCOMPARE(port->writes.size(), 5);
        port->Feed("SVxx\r\n");
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, "TOLVEX not found\rError 2");
    }

    void acceptedVersion_sendsFirstQueuedLine()
    {
        start();
        port->Feed("SV1.0.5-UDP\r\n");
        QCOMPARE(port->writes, (QList<QByteArray>{"sv\r\n", "ax1\r\n"}));
        QVERIFY(!engine->VersionPending());
        port->Feed("AX15\r\n");
        port->Feed("NG1.2.3.4\r\n");
        QCOMPARE(exchange->answers, (QList<QByteArray>{"AX15\r\n", "NG1.2.3.4\r\n"}));
        QVERIFY(!engine->PortOpen());
        QCOMPARE(engine->ReplyTimeout(), 0);
    }

    void unsupportedVersion_failsWithoutSendingMore()
    {
        start();
        port->Feed("SV1.1.0-UDP\r\n");
        QCOMPARE(port->writes.size(), 1);
        QCOMPARE(host->events,
                 (QStringList{"log:Tolvex Version: 1.1.0-UDP\r\n",
                              "box:TOLVEX version not supported\rPlease download the latest "
                              "version of this application",
                              "log:TOLVEX version not supported"}));
    }

    void silentUnit_svSentFourTimes_thenError7()
    {
        start();
        int ticksUsed = 0;
        while (host->boxes.isEmpty() && ticksUsed < 100) {
            engine->Timer1Timer();
            ++ticksUsed;
        }
        QCOMPARE(port->writes, QList<QByteArray>(4, "sv\r\n"));
        QCOMPARE(ticksUsed, 10 + 10 + 10 + 10); // 10, then 1 + 9 for each of three retries
        QCOMPARE(host->events, (QStringList{"box:Cannot communicate with TOLVEX\nError 7",
                                            "log:Cannot communicate with TOLVEX"}));
        QVERIFY(!engine->PortOpen());
        QVERIFY(!engine->VersionPending());
        QCOMPARE(engine->ExchangeState(), int(ExchangeEngine::StateRead));
        ticks(50);
        QCOMPARE(host->boxes.size(), 1);
        port->Feed("SV1.0.5-UDP\r\n"); // the port is closed: nothing reaches the exchange
        QCOMPARE(port->writes.size(), 4);
    }

    void timeOutAfterVersion_resendsEmptyLine_andRestartsQueue()
    {
        start();
        port->Feed("SV1.0.5-UDP\r\n");
        QCOMPARE(port->writes.last(), QByteArray("ax1\r\n"));
        ticks(11);
        QCOMPARE(exchange->rebuilds, 2);
        QCOMPARE(port->writes.last(), QByteArray("\r\n"));
        QCOMPARE(engine->RetriesLeft(), 2);
        port->Feed("OK\r\n");
        QCOMPARE(port->writes.last(), QByteArray("ax1\r\n"));
    }

    void timeOutInVersionWait_resendsSv()
    {
        start();
        ticks(11);
        QCOMPARE(port->writes, (QList<QByteArray>{"sv\r\n", "sv\r\n"}));
        QCOMPARE(port->openedDevices.size(), 2);
    }

    void replyDoesNotStopTheCount_onlyAWriteDoes()
    {
        start();
        ticks(9);
        QCOMPARE(engine->ReplyTimeout(), 1);
        engine->SetExchangeState(ExchangeEngine::StateNone);
        port->Feed("SV1.0.5-UDP\r\n"); // ignored: no exchange runs
        QCOMPARE(engine->ReplyTimeout(), 1);
        QCOMPARE(port->writes.size(), 1);
    }

    void retryWhoseOpenFails_countsAsAnotherTimeOut()
    {
        start();
        ticks(10); // time-out: closed, retry pending
        port->openResults = {PortIo::OpenResult::OpenFailed, PortIo::OpenResult::OpenFailed,
                             PortIo::OpenResult::OpenFailed};
        engine->Timer1Timer();
        QCOMPARE(host->portErrors, QStringList{"Unable to open serial port 1"});
        QCOMPARE(engine->ReplyTimeout(), 1);
        ticks(5);
        QCOMPARE(host->portErrors.size(), 3);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, "Cannot communicate with TOLVEX\nError 7");
    }

    void openFailures_showThePortBoxes_data()
    {
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("box");
        QTest::newRow("missing") << 3 << int(PortIo::OpenResult::OpenFailed)
                                 << "Unable to open serial port 3";
        QTest::newRow("255 tries COM1 and names 255")
            << 255 << int(PortIo::OpenResult::OpenFailed) << "Unable to open serial port 255";
        QTest::newRow("settings refused")
            << 1 << int(PortIo::OpenResult::SettingsRefused) << "SetCommState port error";
    }

    void openFailures_showThePortBoxes()
    {
        QFETCH(int, portNumber);
        QFETCH(int, result);
        QFETCH(QString, box);
        host->portNumber = portNumber;
        port->openResults = {PortIo::OpenResult(result)};
        QVERIFY(!engine->OpenSerialPort());
        QVERIFY(!engine->PortOpen());
        QCOMPARE(host->portErrors, QStringList{box});
        QVERIFY(engine->OpenSerialPort()); // the same port can be opened again
    }

    void failedWrite_showsBox_andStillStartsTimeOut()
    {
        QVERIFY(engine->OpenSerialPort());
        port->writeSucceeds = false;
        engine->WriteSerialPort(QByteArray("sv\r\n"));
        QCOMPARE(host->portErrors, QStringList{"Serial port write error"});
        QCOMPARE(engine->ReplyTimeout(), 10);
    }

    void closeTwice_secondDoesNothing()
    {
        QVERIFY(engine->OpenSerialPort());
        engine->CloseSerialPort();
        engine->CloseSerialPort();
        QCOMPARE(port->closeCount, 1);
        QVERIFY(!engine->ReceiverRunning());
    }

    void sendNextCommand_emptyQueue_closesAndStopsTimeOut()
    {
        QVERIFY(engine->OpenSerialPort());
        engine->SetReplyTimeout(7);
        QVERIFY(!engine->SendNextCommand());
        QVERIFY(!engine->PortOpen());
        QCOMPARE(engine->ReplyTimeout(), 0);
    }

    void queue_sortedAndDuplicateFree()
    {
        engine->Queue().Add("ng\r\n");
        engine->Queue().Add("ax1\r\n");
        engine->Queue().Add("AX1\r\n");
        QCOMPARE(engine->Queue().Items(), (QStringList{"ax1\r\n", "ng\r\n"}));
    }

    void failureBoxOpen_noReplyReachesExchange_andLaterBytesDropped()
    {
        start();
        host->whileBoxOpen = [this] {
            port->Feed("SV1.0.5-UDP\r\n");
            engine->Timer1Timer();
        };
        port->Feed("SV9.9.9-UDP\r\nSV1.0.5-UDP\r\n");
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(port->writes.size(), 1);
        QCOMPARE(engine->ExchangeState(), 0);
    }
};

QTEST_APPLESS_MAIN(TestExchangeEngine)
#include "tst_exchangeengine.moc"
