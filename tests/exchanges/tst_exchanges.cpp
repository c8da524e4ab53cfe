#include "exchanges/MacAssignment.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/WriteExchange.h"
#include "link/ExchangeEngine.h"
#include "support/FakeLink.h"

#include <QTest>

#include <algorithm>

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

const QList<QByteArray> kReadLines{"sv\r\n", "ax1\r\n", "ax2\r\n", "ax3\r\n", "ax4\r\n", "ba\r\n",
                                   "bb\r\n", "bh\r\n",  "bj\r\n",  "bt\r\n",  "eo\r\n",  "ma\r\n",
                                   "nc\r\n", "ng\r\n",  "ni\r\n",  "ns\r\n"};
const QByteArray kMacLine("ma4779\r\n"); // 0x12AB, from the boxes "12" and "AB"

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
    QList<ExchangeResult> results;
    // Answers wait here until the test lets the "unit" speak, as a real unit answers later.
    QList<QByteArray> pending;
    std::function<QByteArray(const QByteArray &)> unit;
    // Lines the unit refuses ("Error") or leaves unanswered once.
    QList<QByteArray> refused;
    QByteArray silentOnce;

    void run(Exchange &exchange)
    {
        QVERIFY(engine->Start(exchange));
        pump();
    }
    void pump()
    {
        while (!pending.isEmpty())
            port->Feed(pending.takeFirst());
    }
    // Ticks through one reply time-out, then lets the unit answer the retry.
    void timeOut()
    {
        for (int i = 0; i < 11; ++i)
            engine->Tick();
        pump();
    }

private slots:
    void init()
    {
        port = new FakePort;
        host = new FakeHost;
        engine = new ExchangeEngine(*port, *host, *host);
        read = new ReadExchange(*host);
        write = new WriteExchange(*host);
        mac = new MacAssignment(*host);
        mac->SetNumber(0x12AB);
        results.clear();
        connect(engine, &ExchangeEngine::Finished, this,
                [this](const ExchangeResult &result) { results << result; });
        pending.clear();
        refused.clear();
        silentOnce.clear();
        unit = unitAnswer;
        port->onWrite = [this](const QByteArray &bytes) {
            if (bytes == silentOnce) {
                silentOnce.clear();
                return;
            }
            const QByteArray answer = refused.contains(bytes) ? "Error\r\n" : unit(bytes);
            if (!answer.isEmpty())
                pending << answer;
        };
        host->Settings() = validSettings();
    }
    void cleanup()
    {
        delete engine;
        delete mac;
        delete write;
        delete read;
        delete host;
        delete port;
    }

    void read_sendsSixteenLinesInOrder_appliesAnswers_andReportsOk()
    {
        run(*read);
        QCOMPARE(port->writes, kReadLines);
        QCOMPARE(host->updates.size(), 15);
        QCOMPARE(host->events.mid(1),
                 (QStringList{"log:Data Read - OK <now>", "box:Data read OK"}));
        QCOMPARE(host->boxes.last().kind, MessageKind::Warning);
        QVERIFY(results.value(0).Succeeded());
        QVERIFY(!port->isOpen);
    }

    void read_refusedQueries_fillTheRest_andEndIncomplete()
    {
        refused = {"bb\r\n", "eo\r\n"};
        run(*read);
        QCOMPARE(port->writes, kReadLines); // nothing resent, nothing left out
        const auto applied = std::count_if(
            host->updates.begin(), host->updates.end(),
            [](const SettingsUpdate &update) { return update.kind != SettingsUpdate::Kind::None; });
        QCOMPARE(applied, 13);
        QCOMPARE(host->log.mid(1), (QStringList{"Refused by TOLVEX: bb", "Refused by TOLVEX: eo",
                                                "Data Read - Incomplete, refused by TOLVEX: bb, "
                                                "eo <now>"}));
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("Data read incomplete\rTOLVEX refused: bb, eo"));
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Incomplete);
        QCOMPARE(results.value(0).LinesWith(LineResult::Verdict::Refused),
                 (QStringList{"bb", "eo"}));
    }

    void read_timeOutAfterTheVersion_probesWithAnEmptyLine_thenStartsOver()
    {
        silentOnce = "ma\r\n";
        run(*read);
        QCOMPARE(port->writes.last(), QByteArray("ma\r\n"));
        timeOut();
        const qsizetype probe = port->writes.lastIndexOf("\r\n");
        QCOMPARE(port->writes.mid(probe + 1), kReadLines.mid(1));
        QCOMPARE(probe, kReadLines.indexOf("ma\r\n") + 1);
        QCOMPARE(host->boxes.last().text, QString("Data read OK"));
    }

    void retry_forgetsWhatTheEarlierAttemptRefused()
    {
        // The unit refuses "bb" and then falls silent; after the retry it answers everything.
        refused = {"bb\r\n"};
        silentOnce = "ma\r\n";
        run(*read);
        refused.clear();
        timeOut();
        QCOMPARE(host->boxes.value(0).text, QString("Data read OK"));
        QVERIFY(results.value(0).Succeeded());
    }

    void write_everyAnswerEqual_sentOk()
    {
        run(*write);
        QCOMPARE(port->writes.first(), QByteArray("sv\r\n"));
        QCOMPARE(port->writes.last(), QByteArray("zc\r\n"));
        QCOMPARE(port->writes.size(), 15); // DHCP off, client on, timed off: 14 lines
        QCOMPARE(host->events.mid(1),
                 (QStringList{"log:Data Sent - OK <now>", "box:Data sent OK"}));
        QCOMPARE(host->boxes.last().kind, MessageKind::Confirmation);
        QVERIFY(write->Mismatches().isEmpty());
    }

    void write_wrongOrRefusedAnswer_sendsTheRest_thenError6_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("logged");
        QTest::newRow("wrong echo")
            << QByteArray("ba3012\r\n") << QByteArray("BA3013\r\n") << "Client Port Write Error ";
        QTest::newRow("refused") << QByteArray("bh60\r\n") << QByteArray("Error\r\n")
                                 << "Refused by TOLVEX: bh60";
        QTest::newRow("refused closing line")
            << QByteArray("zc\r\n") << QByteArray("Error\r\n") << "Refused by TOLVEX: zc";
    }
    void write_wrongOrRefusedAnswer_sendsTheRest_thenError6()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QFETCH(QString, logged);
        unit = [&](const QByteArray &sent) { return sent == line ? answer : unitAnswer(sent); };
        run(*write);
        QCOMPARE(port->writes.count(line), 1);
        QCOMPARE(port->writes.size(), 15);
        QCOMPARE(host->events.mid(1),
                 (QStringList{"log:" + logged,
                              "box:Errors occurred during the write operation\rCheck all "
                              "values\rError 6",
                              "log:Data Write Errors - Fail <now>"}));
        QCOMPARE(results.value(0).ErrorNumber(), 6);
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Failed);
    }

    // Every line of the run is in the result once, in the order sent, however the run ends:
    // answered lines with their verdict, the rest unanswered.
    void result_everyLineOnce_inOrder_howeverTheRunEnds_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("answered");
        QTest::newRow("all answered") << "answers" << 14;
        QTest::newRow("silence") << "silence" << 5;
        QTest::newRow("cancel") << "cancel" << 3;
        QTest::newRow("lost port") << "lost" << 7;
    }
    void result_everyLineOnce_inOrder_howeverTheRunEnds()
    {
        QFETCH(QString, end);
        QFETCH(int, answered);
        int count = 0;
        unit = [&](const QByteArray &line) {
            if (line == "sv\r\n" || count++ < answered)
                return line == "ba3012\r\n" ? QByteArray("OK\r\n") : unitAnswer(line);
            return QByteArray();
        };
        QVERIFY(engine->Start(*write));
        pump();
        if (end == "silence") {
            for (int i = 0; i < 4; ++i)
                timeOut();
        } else if (end == "cancel") {
            engine->Cancel();
        } else if (end == "lost") {
            port->Lose();
            QTRY_VERIFY(!results.isEmpty());
        }
        QCOMPARE(results.size(), 1);
        const ExchangeResult &result = results.at(0);
        QStringList lines;
        for (const LineResult &entry : result.lines)
            lines << entry.line;
        QCOMPARE(lines, write->Lines());
        // After a time-out the lines start over, and the retries were never answered.
        const int verdicts = end == "silence" ? 0 : answered;
        for (int i = 0; i < result.lines.size(); ++i) {
            const LineResult &entry = result.lines.at(i);
            if (i >= verdicts) {
                QCOMPARE(entry.verdict, LineResult::Verdict::Unanswered);
                QVERIFY(entry.answer.isEmpty());
            } else {
                QCOMPARE(entry.verdict, entry.line == "ba3012" ? LineResult::Verdict::WrongCode
                                                               : LineResult::Verdict::Ok);
            }
        }
        QCOMPARE(result.unitVersion, QString("1.0.5-UDP"));
        if (end == "answers")
            QCOMPARE(result.ErrorNumber(), 6);
        else if (end == "cancel")
            QCOMPARE(result.outcome, ExchangeResult::Outcome::Cancelled);
        else
            QCOMPARE(result.ErrorNumber(), 7);
    }

    void write_allLines_sendsFifteen_andChecksAddresses()
    {
        write->SetSendAllLines(true);
        host->Settings().dhcpEnabled = true;
        unit = [](const QByteArray &line) {
            return line.startsWith("ni") ? QByteArray("NI192.9.0.7\r\n") : unitAnswer(line);
        };
        run(*write);
        QCOMPARE(port->writes.size(), 16);
        QVERIFY(port->writes.contains("bt2\r\n"));
        const qsizetype second = host->log.indexOf("IP Address (2) Write Error ");
        QVERIFY(second > 0);
        QVERIFY(host->log.indexOf("IP Address (4) Write Error ") > second);
        QCOMPARE(results.value(0).ErrorNumber(), 6);
    }

    void write_timeOut_probes_thenSendsEveryLineAgain()
    {
        silentOnce = "ng192.168.0.1\r\n";
        run(*write);
        timeOut();
        const qsizetype probe = port->writes.lastIndexOf("\r\n");
        QCOMPARE(port->writes.count("ax15\r\n"), 2);
        QCOMPARE(port->writes.value(probe + 1), QByteArray("ax15\r\n"));
        QCOMPARE(port->writes.last(), QByteArray("zc\r\n"));
        QCOMPARE(host->boxes.value(0).text, QString("Data sent OK"));
    }

    void mac_sendsNumberThenClosingLine_showsTheNewAddress()
    {
        unit = [](const QByteArray &line) {
            return line.startsWith("ma") ? QByteArray("MA0,4,163,1,18,171,\r\n") : unitAnswer(line);
        };
        run(*mac);
        QCOMPARE(port->writes, (QList<QByteArray>{kMacLine, "zc\r\n"}));
        QCOMPARE(host->Settings().macAddress, QString("00:04:A3:01:12:AB"));
        QCOMPARE(host->events.last(), QString("box:Data read OK"));
        QVERIFY(mac->NumberSent());
    }

    void mac_answerMustEndInTheNumberSent_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("box");
        QTest::newRow("taken") << QByteArray("MA0,4,163,1,18,171,\r\n") << "Data read OK";
        QTest::newRow("another address") << QByteArray("MA0,4,163,1,18,170,\r\n")
                                         << "TOLVEX did not take the MAC address\rError 6";
        QTest::newRow("no address")
            << QByteArray("OK\r\n") << "TOLVEX did not take the MAC address\rError 6";
    }

    void mac_answerMustEndInTheNumberSent()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, box);
        unit = [answer](const QByteArray &line) {
            return line.startsWith("ma") ? answer : unitAnswer(line);
        };
        run(*mac);
        QCOMPARE(host->boxes.value(0).text, box);
        QCOMPARE(results.value(0).Succeeded(), box == "Data read OK");
        QVERIFY(mac->NumberSent());
        QCOMPARE(results.value(0).macSent, 0x12AB);
        QCOMPARE(results.value(0).macAnswered, host->Settings().macAddress);
    }

    void mac_retry_resendsItsLine_neverARead()
    {
        unit = [](const QByteArray &line) {
            return line.startsWith("ma") ? QByteArray("MA0,4,163,1,18,171,\r\n") : unitAnswer(line);
        };
        silentOnce = kMacLine;
        run(*mac);
        timeOut();
        QCOMPARE(port->writes, (QList<QByteArray>{kMacLine, kMacLine, "zc\r\n"}));
        for (const SettingsUpdate &update : host->updates) // no read overwrote the settings
            QVERIFY(update.kind == SettingsUpdate::Kind::Mac ||
                    update.kind == SettingsUpdate::Kind::None);
        QVERIFY(results.value(0).Succeeded());
    }

    void mac_refused_fails()
    {
        refused = {kMacLine};
        run(*mac);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("TOLVEX refused the MAC address\rError 6"));
        QCOMPARE(host->boxes.at(0).kind, MessageKind::Error);
        QVERIFY(!host->log.contains("Data Read - OK <now>"));
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Failed);
        QCOMPARE(results.value(0).LinesWith(LineResult::Verdict::Refused), QStringList{"ma4779"});
    }

    void mac_afterADownloadThatDiedInBlockMode_getsLines()
    {
        ImageDownload download(*host);
        download.SetImage(QByteArray(300, 'x'));
        unit = [](const QByteArray &line) {
            return line == "zp\r\n" ? QByteArray("\x15") : unitAnswer(line);
        };
        run(download);
        QCOMPARE(port->writes.size(), 3); // "sv", "zp", the first block; then silence
        for (int i = 0; i < 10; ++i)
            engine->Tick();
        QCOMPARE(results.size(), 1);

        pending.clear(); // what the unit said to the dead download went to a closed port
        unit = [](const QByteArray &line) {
            return line.startsWith("ma") ? QByteArray("MA0,4,163,1,18,171,\r\n") : unitAnswer(line);
        };
        run(*mac);
        QCOMPARE(host->events.last(), QString("box:Data read OK"));
    }
};

QTEST_GUILESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
