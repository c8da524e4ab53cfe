#include "exchanges/MacAssignment.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/WriteExchange.h"
#include "support/FakeLink.h"

#include <QTest>

namespace {

// Settings that pass validation: every address filled, time-out above the update period.
SettingsSnapshot validSettings()
{
    SettingsSnapshot s;
    s.ip = {"192", "168", "0", "100"};
    s.gateway = {"192", "168", "0", "1"};
    s.submask = {"255", "255", "255", "0"};
    s.client = {"10", "0", "0", "2"};
    s.updatePeriod = 30;
    s.serverTimeout = 60;
    s.baudIndex = 3;
    return s;
}

// The answer a unit gives to a settings line: the same code in upper case with the value it
// now holds. Queries and the closing line get fixed answers.
QByteArray unitAnswer(const QByteArray &line)
{
    const QByteArray body = line.left(line.size() - 2);
    if (body == "sv")
        return "SV1.0.5-UDP\r\n";
    if (body == "zc" || body.isEmpty())
        return "OK\r\n";
    const qsizetype codeLength = body.startsWith("ax") ? 3 : 2;
    return body.left(codeLength).toUpper() + body.mid(codeLength) + "\r\n";
}

} // namespace

class TestExchanges : public QObject
{
    Q_OBJECT

    FakePort *port = nullptr;
    FakeHost *host = nullptr;
    ExchangeEngine *engine = nullptr;
    ReadExchange *read = nullptr;
    WriteExchange *write = nullptr;
    MacAssignment *mac = nullptr;
    // Answers wait here until the test lets the "unit" speak, as a real unit answers later.
    QList<QByteArray> pending;
    std::function<QByteArray(const QByteArray &)> unit;

    void pump()
    {
        while (!pending.isEmpty())
            port->Feed(pending.takeFirst());
    }

private slots:
    void init()
    {
        port = new FakePort;
        host = new FakeHost;
        engine = new ExchangeEngine(*port, *host);
        read = new ReadExchange(*engine, *host);
        write = new WriteExchange(*engine, *host);
        mac = new MacAssignment(*engine, *host);
        pending.clear();
        unit = unitAnswer;
        port->onWrite = [this](const QByteArray &bytes) {
            const QByteArray answer = unit ? unit(bytes) : QByteArray();
            if (!answer.isEmpty())
                pending << answer;
        };
        host->settings = validSettings();
    }
    void cleanup()
    {
        delete mac;
        delete write;
        delete read;
        delete engine;
        delete host;
        delete port;
    }

    void read_sendsSixteenLinesInOrder_appliesAnswers_andReportsOk()
    {
        read->ReadButtonClick();
        pump();
        const QList<QByteArray> expected{
            "sv\r\n", "ax1\r\n", "ax2\r\n", "ax3\r\n", "ax4\r\n", "ba\r\n", "bb\r\n", "bh\r\n",
            "bj\r\n", "bt\r\n",  "eo\r\n",  "ma\r\n",  "nc\r\n",  "ng\r\n", "ni\r\n", "ns\r\n"};
        QCOMPARE(port->writes, expected);
        QCOMPARE(host->updates.size(), 15);
        QCOMPARE(host->events.mid(1),
                 (QStringList{"log:Data Read - OK <now>", "box:Data read OK"}));
        QCOMPARE(host->boxes.last().kind, MessageKind::Warning);
        QCOMPARE(engine->ExchangeState(), 0);
        QVERIFY(!engine->PortOpen());
        QCOMPARE(engine->ReplyTimeout(), 0);
    }

    void read_errorAnswersToVersion_thenAccepted()
    {
        int errors = 2;
        unit = [&](const QByteArray &line) {
            if (line == "sv\r\n" && errors-- > 0)
                return QByteArray("Error\r\n");
            return unitAnswer(line);
        };
        read->ReadButtonClick();
        pump();
        QCOMPARE(port->writes.mid(0, 4),
                 (QList<QByteArray>{"sv\r\n", "sv\r\n", "sv\r\n", "ax1\r\n"}));
    }

    void read_errorAnswerToAQuery_goesToParser_andReadGoesOn()
    {
        unit = [](const QByteArray &line) {
            return line == "bb\r\n" ? QByteArray("Error\r\n") : unitAnswer(line);
        };
        read->ReadButtonClick();
        pump();
        const int bb = int(port->writes.indexOf("bb\r\n"));
        QCOMPARE(port->writes.value(bb + 1), QByteArray("bh\r\n"));
        QCOMPARE(host->boxes.last().text, QString("Data read OK"));
    }

    void read_timeOutAfterEo_sendsEmptyLine_thenRestartsAtAx1()
    {
        bool silentOnce = true;
        unit = [&](const QByteArray &line) {
            if (line == "ma\r\n" && silentOnce) {
                silentOnce = false;
                return QByteArray();
            }
            return unitAnswer(line);
        };
        read->ReadButtonClick();
        pump();
        QCOMPARE(port->writes.last(), QByteArray("ma\r\n"));
        for (int i = 0; i < 11; ++i)
            engine->Timer1Timer();
        QCOMPARE(port->writes.last(), QByteArray("\r\n"));
        pump();
        const int restart = int(port->writes.lastIndexOf("\r\n"));
        QCOMPARE(port->writes.value(restart + 1), QByteArray("ax1\r\n"));
        QCOMPARE(port->writes.size(), restart + 1 + 15);
        QCOMPARE(host->boxes.last().text, QString("Data read OK"));
    }

    void read_pressedTwice_firstAnswerSeenIsTheVersion()
    {
        unit = nullptr;
        read->ReadButtonClick();
        read->ReadButtonClick();
        QCOMPARE(port->writes, (QList<QByteArray>{"sv\r\n", "sv\r\n"}));
        port->Feed("SV1.0.5-UDP\r\n");
        QCOMPARE(port->writes.last(), QByteArray("ax1\r\n"));
    }

    void write_everyAnswerEqual_sentOk()
    {
        write->WriteButtonClick();
        pump();
        QCOMPARE(port->writes.first(), QByteArray("sv\r\n"));
        QCOMPARE(port->writes.last(), QByteArray("zc\r\n"));
        // DHCP off, client on, timed off: 14 lines after the version query.
        QCOMPARE(port->writes.size(), 15);
        QCOMPARE(host->events,
                 (QStringList{"log:Data Checked - OK", "log:Tolvex Version: 1.0.5-UDP\r\n",
                              "log:Data Sent - OK <now>", "box:Data sent OK"}));
        QCOMPARE(host->boxes.last().kind, MessageKind::Confirmation);
        QVERIFY(!write->WriteErrorFlag());
        QCOMPARE(engine->ExchangeState(), 0);
    }

    void write_oneWrongEcho_logsIt_sendsTheRest_thenError6BeforeLogLine()
    {
        unit = [](const QByteArray &line) {
            return line.startsWith("ba") ? QByteArray("BA3013\r\n") : unitAnswer(line);
        };
        write->WriteButtonClick();
        pump();
        QCOMPARE(port->writes.last(), QByteArray("zc\r\n"));
        QCOMPARE(host->events.mid(2),
                 (QStringList{"log:Client Port Write Error ",
                              "box:Errors occurred during the write operation\rCheck all "
                              "values\rError 6",
                              "log:Data Write Errors - Fail <now>"}));
    }

    void write_errorAnswerToALine_isNotResent()
    {
        unit = [](const QByteArray &line) {
            return line.startsWith("bh") ? QByteArray("Error\r\n") : unitAnswer(line);
        };
        write->WriteButtonClick();
        pump();
        QCOMPARE(port->writes.count(QByteArray("bh60\r\n")), 1);
        QCOMPARE(host->boxes.last().text, QString("Data sent OK"));
    }

    void write_macMode_sendsAllFifteenLines_andChecksAddresses()
    {
        host->macMode = true;
        host->settings.dhcpEnabled = true;
        unit = [](const QByteArray &line) {
            return line.startsWith("ni") ? QByteArray("NI192.9.0.7\r\n") : unitAnswer(line);
        };
        write->WriteButtonClick();
        pump();
        QCOMPARE(port->writes.size(), 16);
        QVERIFY(port->writes.contains("bt2\r\n"));
        QVERIFY(host->log.contains("IP Address (2) Write Error "));
        QVERIFY(host->log.contains("IP Address (4) Write Error "));
        QVERIFY(host->log.indexOf("IP Address (2) Write Error ") <
                host->log.indexOf("IP Address (4) Write Error "));
    }

    void write_invalidSettings_sendsNothing()
    {
        host->settings = SettingsSnapshot();
        write->WriteButtonClick();
        QVERIFY(port->writes.isEmpty());
        QVERIFY(port->openedDevices.isEmpty());
        QCOMPARE(host->events.last(), QString("box:There are errors"));
        QVERIFY(!host->log.contains("Data Checked - OK"));
    }

    void write_silentUnit_error7_noVerdict()
    {
        unit = nullptr;
        write->WriteButtonClick();
        for (int i = 0; i < 60; ++i)
            engine->Timer1Timer();
        QCOMPARE(port->writes, QList<QByteArray>(4, "sv\r\n"));
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("Cannot communicate with TOLVEX\nError 7"));
    }

    void mac_sendsNumberThenClosingLine_showsAnswer()
    {
        unit = [](const QByteArray &line) {
            return line.startsWith("ma") ? QByteArray("MA0,4,163,1,18,171,\r\n") : unitAnswer(line);
        };
        mac->SendNewMACButtonClick("12", "AB");
        pump();
        QCOMPARE(port->writes, (QList<QByteArray>{"ma4779\r\n", "zc\r\n"}));
        QCOMPARE(host->updates.first().kind, SettingsUpdate::Kind::Mac);
        QCOMPARE(host->updates.first().macText, QString("00:04:A3:01:12:AB"));
        QCOMPARE(host->events.last(), QString("box:Data read OK"));
    }

    void mac_badDigits_macError_nothingSent_data()
    {
        QTest::addColumn<QString>("box1");
        QTest::addColumn<QString>("box2");
        QTest::newRow("one character") << "1"
                                       << "AB";
        QTest::newRow("second box G0") << "12"
                                       << "G0";
        QTest::newRow("empty") << ""
                               << "";
    }

    void mac_badDigits_macError_nothingSent()
    {
        QFETCH(QString, box1);
        QFETCH(QString, box2);
        engine->Queue().Add("leftover\r\n");
        mac->SendNewMACButtonClick(box1, box2);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("MAC Error"));
        QCOMPARE(host->boxes.at(0).kind, MessageKind::Warning);
        QVERIFY(engine->Queue().IsEmpty());
        QVERIFY(port->writes.isEmpty());
    }

    void startAfterDeadDownload_receivesLinesAgain()
    {
        engine->SetBlockMode(true);
        read->ReadButtonClick();
        QVERIFY(!engine->BlockMode());
        pump();
        QCOMPARE(host->boxes.last().text, QString("Data read OK"));
    }
};

QTEST_APPLESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
