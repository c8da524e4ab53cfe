// The real program logic against the simulated unit over a real pseudo-terminal: the window
// opens "COM1", which ComPorts.txt beside the program maps to the unit's link.

#include "app/MainUnit.h"
#include "exchanges/MacCounter.h"
#include "pool/MacPoolDatabase.h"
#include "support/PostgresServer.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QList<QByteArray> kReadLines{"sv\r\n", "ax1\r\n", "ax2\r\n", "ax3\r\n", "ax4\r\n", "ba\r\n",
                                   "bb\r\n", "bh\r\n",  "bj\r\n",  "bt\r\n",  "eo\r\n",  "ma\r\n",
                                   "nc\r\n", "ng\r\n",  "ni\r\n",  "ns\r\n"};

} // namespace

class TestDeviceExchanges : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    SimUnit *sim = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    TMainForm *form = nullptr;

    // Starts the unit with `simArguments` and a window whose COM1 is that unit.
    void bringUp(const QStringList &simArguments = {}, bool macMode = false,
                 const QString &poolUrl = QString())
    {
        // A name of its own: serial port lock files are named after the device's file name.
        const QString link =
            dir->filePath(QStringLiteral("unit%1").arg(QRandomGenerator::global()->generate()));
        QVERIFY2(sim->start(QStringList{"--link", link} + simArguments),
                 qPrintable(sim->errorString()));
        QFile map(dir->filePath("ComPorts.txt"));
        QVERIFY(map.open(QIODevice::WriteOnly));
        map.write("COM1=" + link.toLocal8Bit() + "\n");
        map.close();
        if (macMode) {
            QVERIFY(QDir(dir->path()).mkdir("mac"));
            QFile counter(dir->filePath("mac/SetMACAddress.txt"));
            QVERIFY(counter.open(QIODevice::WriteOnly));
            counter.write("12\r\nAB\r\n");
        }
        StartOptions options;
        options.programPath = dir->filePath("tolvex-config");
        options.macCounterPath = dir->filePath("mac/SetMACAddress.txt");
        options.macPoolUrl = poolUrl;
        options.folders = FileFolders{}; // beside the program only
        form = new TMainForm(options, *dialogs);
    }
    void fillValidSettings()
    {
        MainFormUi &ui = form->Ui();
        const QStringList values{"192", "168", "0",   "100", "192", "168", "0", "1",
                                 "255", "255", "255", "0",   "10",  "0",   "0", "7"};
        int i = 0;
        for (auto edits :
             {ui.ipAddrEdits, ui.gateWayAddrEdits, ui.subMaskAddrEdits, ui.clientAddrEdits})
            for (QLineEdit *edit : edits)
                edit->setText(values.at(i++));
        ui.UpdatePeriodCSpinEdit->SetValue(30);
        ui.ServerTimeoutCSpinEdit->SetValue(90);
        ui.ClientPortCSpinEdit->SetValue(3100);
        ui.BaudRateComboBox->setCurrentIndex(2);
        ui.SerialCRLFdxfCheckBox->SetChecked(true);
    }
    bool waitForBox(int count = 1, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return dialogs->boxes.size() >= count; }, timeoutMs);
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        sim = new SimUnit;
        dialogs = new ScriptedDialogs;
    }
    void cleanup()
    {
        delete form;
        form = nullptr;
        delete dialogs;
        delete sim;
        delete dir;
    }

    void read_fullSet_sixteenLinesInOrder_controlsFilled()
    {
        bringUp();
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        QCOMPARE(sim->receivedLines(), kReadLines);
        MainFormUi &ui = form->Ui();
        QCOMPARE(ui.IPAddr1Edit->text() + "." + ui.IPAddr2Edit->text() + "." +
                     ui.IPAddr3Edit->text() + "." + ui.IPAddr4Edit->text(),
                 QString("10.0.0.5"));
        QCOMPARE(ui.MACAddressEdit->text(), QString("00:04:A3:01:02:0F"));
        QCOMPARE(ui.ClientPortCSpinEdit->Value(), 3012);
        QCOMPARE(ui.BaudRateComboBox->currentText(), QString("19200"));
        const QStringList log = form->LogLines();
        QVERIFY(log.contains("Tolvex Version: 1.0.5-UDP"));
        QVERIFY(log.last().startsWith("Data Read - OK "));
        QVERIFY(!form->Engine().PortOpen());
    }

    void write_everyAnswerEqual_dataSentOk_thenReadBackMatches()
    {
        bringUp();
        fillValidSettings();
        form->WriteButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data sent OK"});
        QCOMPARE(dialogs->boxes.at(0).kind, MessageKind::Confirmation);
        const QList<QByteArray> lines = sim->receivedLines();
        QCOMPARE(lines.first(), QByteArray("sv\r\n"));
        QVERIFY(lines.contains("ba3100\r\n"));
        QVERIFY(lines.contains("ni192.168.0.100\r\n"));
        QCOMPARE(lines.last(), QByteArray("zc\r\n"));
        const QStringList log = form->LogLines();
        QVERIFY(log.contains("Data Checked - OK"));
        QVERIFY(log.last().startsWith("Data Sent - OK "));

        form->Ui().ClientPortCSpinEdit->SetValue(1);
        form->ReadButtonClick();
        QVERIFY(waitForBox(2));
        QCOMPARE(form->Ui().ClientPortCSpinEdit->Value(), 3100);
    }

    void write_oneWrongEcho_messageThenError6ThenLogLine()
    {
        bringUp({"--wrong-echo", "ba"});
        fillValidSettings();
        form->WriteButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(
            dialogs->boxTexts(),
            QStringList{"Errors occurred during the write operation\rCheck all values\rError 6"});
        const QStringList log = form->LogLines();
        QVERIFY(log.contains("Client Port Write Error "));
        QVERIFY(log.last().startsWith("Data Write Errors - Fail "));
        QCOMPARE(sim->receivedLines().last(), QByteArray("zc\r\n")); // the rest was still sent
    }

    void errorAnswers_resentFourTimes_givenUpAtFifth()
    {
        bringUp({"--error-first", "5"});
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"TOLVEX not found\rError 4"});
        QCOMPARE(sim->receivedLines(), QList<QByteArray>(5, "sv\r\n"));
        QCOMPARE(form->LogLines().last(), QString("TOLVEX not found"));
        QTest::qWait(1500);
        QCOMPARE(dialogs->boxes.size(), 1); // no time-out message follows
    }

    void versions_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("linesSent");
        QTest::newRow("1.0.99 accepted") << "1.0.99-UDP"
                                         << "Data read OK" << 16;
        QTest::newRow("1.1.0 unsupported") << "1.1.0-UDP"
                                           << "TOLVEX version not supported\rPlease download the "
                                              "latest version of this application"
                                           << 1;
        QTest::newRow("TCP is no version") << "1.0.5-TCP"
                                           << "TOLVEX not found\rError 2" << 1;
        QTest::newRow("unreadable, resent four times") << "x.y"
                                                       << "TOLVEX not found\rError 2" << 5;
    }

    void versions()
    {
        QFETCH(QString, version);
        QFETCH(QString, box);
        QFETCH(int, linesSent);
        bringUp({"--version", version});
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{box});
        QCOMPARE(sim->receivedLines().size(), linesSent);
    }

    void silentUnit_fourSvLines_thenError7()
    {
        bringUp({"--silent"});
        form->ReadButtonClick();
        QVERIFY(waitForBox(1, 10000));
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot communicate with TOLVEX\nError 7"});
        QCOMPARE(sim->receivedLines(), QList<QByteArray>(4, "sv\r\n"));
        const QStringList log = form->LogLines();
        QCOMPARE(log.mid(log.size() - 2),
                 (QStringList{"Cannot communicate with TOLVEX",
                              "No byte at all came back from the unit: check the cable, the "
                              "unit's power and the port number"}));
        QVERIFY(!form->Engine().PortOpen());
    }

    void timeOutMidRead_restartsTheSequence()
    {
        bringUp({"--stop-after", "6"});
        form->ReadButtonClick();
        // The unit answered "sv" and five queries, then fell silent; the retry sends "\r\n".
        QVERIFY(sim->waitForEvent("GOT \\r\\n", 5000));
        QVERIFY(sim->sendCommand("reset"));
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        const QList<QByteArray> lines = sim->receivedLines();
        const int restart = int(lines.lastIndexOf("\r\n"));
        QVERIFY(restart > 6);
        QCOMPARE(lines.mid(restart + 1), kReadLines.mid(1));
    }

    void pulledCable_midExchange_oneLostBox_thenNextReadWorksOncePortIsBack()
    {
        bringUp({"--close-after", "4", "--reopen-after-ms", "4000"});
        form->ReadButtonClick();
        QVERIFY2(QTest::qWaitFor([&] { return !dialogs->plainErrors.isEmpty(); }, 10000),
                 qPrintable(form->LogLines().join(" | ") +
                            " boxes: " + dialogs->boxTexts().join(" | ")));
        QVERIFY(!form->Engine().Running());
        QVERIFY(!form->Engine().PortOpen());
        QVERIFY(form->Ui().ReadButton->isEnabled());
        QTest::qWait(1500); // nothing more follows: no open boxes, no Error 7
        QCOMPARE(dialogs->plainErrors.size(), 1);
        QVERIFY2(dialogs->plainErrors.at(0).startsWith("Serial port device lost"),
                 qPrintable(dialogs->plainErrors.at(0)));
        QVERIFY(dialogs->boxes.isEmpty());
        QVERIFY(form->LogLines().last().startsWith("Serial port device lost"));
        QVERIFY(sim->waitForEvent("CLOSED", 1000));
        QVERIFY(sim->waitForEvent("PTY", 8000)); // the unit is back
        dialogs->boxes.clear();
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
    }

    void cleanNoiseBetweenAnswers_readStillSucceeds()
    {
        bringUp({"--clean-noise"});
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
    }

    void randomNoise_everyExchangeEndsWithAMessage()
    {
        for (int round = 0; round < 3; ++round) {
            if (round == 0)
                bringUp({"--noise", "--seed", "7"});
            dialogs->boxes.clear();
            if (round == 1)
                form->ReadButtonClick();
            else {
                fillValidSettings();
                form->WriteButtonClick();
            }
            QVERIFY(waitForBox(1, 15000));
            QTest::qWait(200);
            QVERIFY(!form->Engine().Running());
            QCOMPARE(dialogs->boxes.size(), 1);
        }
    }

    void macAssignment_sendsLine_showsAnswer_counterMovedPastIt()
    {
        bringUp({}, true);
        QVERIFY(form->MacAssignmentModeOn());
        QTRY_COMPARE(form->Ui().NewMAC1Edit->text(), QString("12"));
        form->Ui().NewMAC2Edit->setText("AC");
        form->SendNewMACButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        QCOMPARE(sim->receivedLines(), (QList<QByteArray>{"ma4780\r\n", "zc\r\n"}));
        QVERIFY(form->Ui().MACAddressEdit->text().endsWith(":12:AC"));
        // The number sent counts as given: the shared counter moved past it before it went
        // out; the boxes stay as typed, and the close leaves the counter alone.
        QCOMPARE(ReadTestFile(dir->filePath("mac/SetMACAddress.txt")), QByteArray("12\r\nAD\r\n"));
        QCOMPARE(form->Ui().NewMAC2Edit->text(), QString("AC"));
        QVERIFY(form->FormCloseQuery());
        QCOMPARE(ReadTestFile(dir->filePath("mac/SetMACAddress.txt")), QByteArray("12\r\nAD\r\n"));
    }

    // The window opened at 12 AB; another program then gave out 12AB and 12AC. Sending the
    // boxes as they stand asks first: No sends nothing, Yes sends the number again. A number
    // above the counter is sent without a question and moves the counter past it.
    void macAssignment_counterAdvancedWhileOpen_asksBeforeSendingAgain()
    {
        bringUp({}, true);
        QTRY_COMPARE(form->Ui().NewMAC2Edit->text(), QString("AB"));
        const QString counter = dir->filePath("mac/SetMACAddress.txt");
        QCOMPARE(TakeMacNumber(counter).number, 0x12AB);
        QCOMPARE(TakeMacNumber(counter).number, 0x12AC);
        const QString question =
            "MAC number 12:AB was given out already; the counter is at 12:AD. Send it again?";
        bool busyWhileAsked = false;
        dialogs->whileAsking = [&] { busyWhileAsked = !form->Ui().ReadButton->isEnabled(); };

        dialogs->answers = {Dialogs::Answer::No};
        form->SendNewMACButtonClick();
        QTRY_COMPARE(dialogs->questions, QStringList{question});
        QTRY_VERIFY(form->Ui().SendNewMACButton->isEnabled());
        QVERIFY(busyWhileAsked);
        QTest::qWait(300);
        QVERIFY(sim->receivedLines().isEmpty());
        QVERIFY(dialogs->boxes.isEmpty());
        QCOMPARE(ReadTestFile(counter), QByteArray("12\r\nAD\r\n"));

        dialogs->answers = {Dialogs::Answer::Yes};
        form->SendNewMACButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->questions, (QStringList{question, question}));
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        QCOMPARE(sim->receivedLines(), (QList<QByteArray>{"ma4779\r\n", "zc\r\n"}));
        QCOMPARE(ReadTestFile(counter), QByteArray("12\r\nAD\r\n"));

        form->Ui().NewMAC2Edit->setText("B0");
        form->SendNewMACButtonClick();
        QVERIFY(waitForBox(2));
        QCOMPARE(dialogs->questions.size(), 2);
        QCOMPARE(dialogs->boxTexts().last(), QString("Data read OK"));
        QCOMPARE(sim->receivedLines().mid(2), (QList<QByteArray>{"ma4784\r\n", "zc\r\n"}));
        QCOMPARE(ReadTestFile(counter), QByteArray("12\r\nB1\r\n"));
        QCOMPARE(TakeMacNumber(counter).number, 0x12B1);
    }

    void macAssignment_fromAPool_nextNumberFromIt_neverSentTwiceSilently_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    // With a pool the window is in MAC assignment mode without a counter file; its boxes show
    // the pool's next number, a number another station sent meanwhile is only sent again when
    // the operator says so, and a number sent from the window is confirmed in the pool.
    void macAssignment_fromAPool_nextNumberFromIt_neverSentTwiceSilently()
    {
        QFETCH(QString, engine);
        PostgresServer server;
        QString url = "sqlite:" + dir->filePath("pool.db");
        if (engine == "postgresql") {
            QString error;
            QVERIFY2(server.Start(&error), qPrintable(error));
            url = server.Url();
        }
        PoolUrl parsed;
        QString error;
        QVERIFY2(ParsePoolUrl(url, &parsed, &error), qPrintable(error));
        MacPoolDatabase pool(parsed, MacPoolTimeouts());
        int added = 0;
        QVERIFY2(pool.Initialise(0x1200, 0x12FF, &added, &error), qPrintable(error));

        bringUp({}, false, url);
        QVERIFY(form->MacAssignmentModeOn());
        QTRY_COMPARE(form->Ui().NewMAC2Edit->text(), QString("00"));
        QCOMPARE(form->Ui().NewMAC1Edit->text(), QString("12"));

        // Another station takes 1200 and sends it.
        const MacNumberReply taken = pool.Take({"other", "ttyUSB9", "run"}, "token-1");
        QVERIFY2(taken.ok, qPrintable(taken.error));
        QCOMPARE(taken.number, 0x1200);
        QVERIFY(pool.MarkSent(0x1200, "token-1").ok);

        dialogs->answers = {Dialogs::Answer::No};
        form->SendNewMACButtonClick();
        QTRY_COMPARE(dialogs->questions.size(), 1);
        QVERIFY2(dialogs->questions[0].startsWith("MAC number 12:00 was given out already"),
                 qPrintable(dialogs->questions[0]));
        QTRY_VERIFY(form->Ui().SendNewMACButton->isEnabled());
        QTest::qWait(300);
        QVERIFY(sim->receivedLines().isEmpty());

        form->Ui().NewMAC2Edit->setText("05");
        form->SendNewMACButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->questions.size(), 1);
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        QCOMPARE(sim->receivedLines(), (QList<QByteArray>{"ma4613\r\n", "zc\r\n"}));
        QTRY_COMPARE(pool.LookUp(0x1205).state, MacPoolState::Confirmed);
        QVERIFY(pool.LookUp(0x1205).address.endsWith(":12:05"));
        // The pool never gives a number the window sent.
        const MacNumberReply next = pool.Take({"other", "ttyUSB9", "run"}, "token-2");
        QVERIFY(next.ok);
        QVERIFY(next.number != 0x1200 && next.number != 0x1205);
    }

    void whatChanged_editsMarked_writeListsThem_mismatchesRedUntilEdited()
    {
        bringUp({"--wrong-echo", "bh"});
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        MainFormUi &ui = form->Ui();
        QCOMPARE(form->MarkOf(SettingsField::PortNumber), TMainForm::FieldMark::None);
        // The unit's own settings do not pass the checks; make them valid, as an operator would.
        fillValidSettings();
        QCOMPARE(form->MarkOf(SettingsField::PortNumber), TMainForm::FieldMark::Edited);
        QCOMPARE(form->MarkOf(SettingsField::Hysteresis1), TMainForm::FieldMark::None);
        ui.ClientPortCSpinEdit->SetValue(3012); // back to what the unit holds
        QCOMPARE(form->MarkOf(SettingsField::PortNumber), TMainForm::FieldMark::None);
        ui.ClientPortCSpinEdit->SetValue(4001);

        dialogs->boxes.clear();
        form->WriteButtonClick();
        QVERIFY(waitForBox());
        const QStringList log = form->LogLines();
        QVERIFY2(log.contains(QString("Port Number 3012 \u2192 4001")), qPrintable(log.join('\n')));
        QVERIFY(log.contains(QString("IP Address 10.0.0.5 \u2192 192.168.0.100")));
        // The unit answered the timeout line with another value: red, with its answer.
        QCOMPARE(form->MarkOf(SettingsField::Timeout), TMainForm::FieldMark::Mismatch);
        QVERIFY(ui.ServerTimeoutCSpinEdit->toolTip().startsWith("TOLVEX answered: BH"));
        QCOMPARE(form->MarkOf(SettingsField::PortNumber), TMainForm::FieldMark::None);
        ui.ServerTimeoutCSpinEdit->SetValue(95);
        QVERIFY(form->MarkOf(SettingsField::Timeout) != TMainForm::FieldMark::Mismatch);

        // A read clears every mark.
        dialogs->boxes.clear();
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        for (SettingsField field : AllSettingsFields())
            QCOMPARE(form->MarkOf(field), TMainForm::FieldMark::None);
    }

    void refusedLines_neverASuccess_data()
    {
        QTest::addColumn<QString>("exchange");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("logged");
        QTest::newRow("write") << "write"
                               << "Errors occurred during the write operation\rCheck all "
                                  "values\rError 6"
                               << "Refused by TOLVEX: bh77";
        QTest::newRow("read") << "read"
                              << "Data read incomplete\rTOLVEX refused: bh"
                              << "Refused by TOLVEX: bh";
    }

    void refusedLines_neverASuccess()
    {
        QFETCH(QString, exchange);
        QFETCH(QString, box);
        QFETCH(QString, logged);
        bringUp({"--refuse", "bh"});
        fillValidSettings();
        form->Ui().ServerTimeoutCSpinEdit->SetValue(77);
        if (exchange == "write")
            form->WriteButtonClick();
        else
            form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{box});
        QVERIFY(form->LogLines().contains(logged));
        QCOMPARE(sim->receivedLines().last(),
                 exchange == "write" ? QByteArray("zc\r\n") : QByteArray("ns\r\n"));
        if (exchange == "read") // everything else was filled; the refused setting kept its value
            QCOMPARE(form->Ui().ServerTimeoutCSpinEdit->Value(), 77);
    }

    void missingDevice_openBoxOnly_windowStaysUsable()
    {
        bringUp();
        form->Ui().SerialPortCSpinEdit->SetValue(200); // not in ComPorts.txt: /dev/ttyS199
        form->ReadButtonClick();
        QCOMPARE(dialogs->plainErrors.size(), 1);
        QVERIFY(dialogs->plainErrors.at(0).startsWith("Unable to open serial port 200\nNo such "
                                                      "device"));
        QTest::qWait(1200);
        QVERIFY(dialogs->boxes.isEmpty());
        form->Ui().SerialPortCSpinEdit->SetValue(1);
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
    }
};

QTEST_MAIN(TestDeviceExchanges)
#include "tst_deviceexchanges.moc"
