// An answer is the line's answer only when it carries the line's code. One table, each row run
// twice against the same simulated unit: through the window (its box, its log, its controls)
// and through the production tool (its exit status and its own words for the line).

#include "app/MainUnit.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "support/TolvexRun.h"
#include "widgets/TCSpinEdit.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Settings a write accepts; "ba3020" is the line the rows tamper with.
const QByteArray kWriteFile = "ax15\r\nax25\r\nax35\r\nax45\r\nba3020\r\nbb32\r\nbh90\r\nbj30\r\n"
                              "eo0001100000000000\r\nnc10.0.0.7\r\nng192.168.0.1\r\n"
                              "ni192.168.0.100\r\nns255.255.255.0\r\nzc\r\n";
// What the simulated unit holds from the start.
const QByteArray kUnitFile = "ax15\r\nax25\r\nax35\r\nax45\r\nba3012\r\nbb15\r\nbh60\r\nbj60\r\n"
                             "eo0001100000000000\r\nnc10.0.0.2\r\nng10.0.0.1\r\nni10.0.0.5\r\n"
                             "ns255.255.255.0\r\nzc\r\n";

const QString kError6 = "Errors occurred during the write operation\rCheck all values\rError 6";

} // namespace

class TestAnswerCodes : public QObject
{
    Q_OBJECT

private slots:
    void wrongCode_data()
    {
        // command: read, write, verify or assign-mac; answerAs: the simulated unit's
        // --answer-as; windowBox: the window's closing box ("" when the window has no such
        // exchange); windowLog: a line its log must hold; port: the window's client port
        // afterwards (-1: not looked at); toolExit and toolMessage: the tool's verdict;
        // leftOut: a code `read -o` must leave out of its file.
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("answerAs");
        QTest::addColumn<QString>("windowBox");
        QTest::addColumn<QString>("windowLog");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("toolExit");
        QTest::addColumn<QString>("toolMessage");
        QTest::addColumn<QString>("leftOut");

        QTest::newRow("read: OK is no answer to ba")
            << "read"
            << "ba=OK"
            << "Data read incomplete\rWrong answers to: ba"
            << "Wrong answer from TOLVEX to ba: OK" << 4000 << 6 << "ba answered OK"
            << "ba";
        QTest::newRow("read: another setting's line is no answer to bb")
            << "read"
            << "bb=BA3013"
            << "Data read incomplete\rWrong answers to: bb"
            << "Wrong answer from TOLVEX to bb: BA3013" << 3012 << 6 << "bb answered BA3013"
            << "bb";
        QTest::newRow("read: letter case does not matter") << "read"
                                                           << "ba=ba3013"
                                                           << "Data read OK"
                                                           << "" << 3013 << 0 << ""
                                                           << "";
        QTest::newRow("write: OK is no answer to ba3020")
            << "write"
            << "ba=OK" << kError6 << "Wrong answer from TOLVEX to ba3020: OK" << -1 << 6
            << "ba3020 answered OK"
            << "";
        QTest::newRow("write: letter case does not matter") << "write"
                                                            << "ba=ba3020"
                                                            << "Data sent OK"
                                                            << "" << -1 << 0 << ""
                                                            << "";
        QTest::newRow("write: nor does it hide a wrong value")
            << "write"
            << "ba=ba3021" << kError6 << "Client Port Write Error " << -1 << 6
            << "ba3020 answered ba3021"
            << "";
        QTest::newRow("verify: OK is no answer to ba") << "verify"
                                                       << "ba=OK"
                                                       << ""
                                                       << "" << -1 << 6 << "ba answered OK"
                                                       << "";
        QTest::newRow("verify: letter case does not matter") << "verify"
                                                             << "ba=ba3012"
                                                             << ""
                                                             << "" << -1 << 0 << ""
                                                             << "";
        QTest::newRow("assign-mac: OK is no answer to ma")
            << "assign-mac"
            << "ma=OK"
            << "TOLVEX did not take the MAC address\rError 6"
            << "Wrong answer from TOLVEX to ma4779: OK" << -1 << 6 << "ma4779 answered OK"
            << "";
    }

    void wrongCode()
    {
        QFETCH(QString, command);
        QFETCH(QString, answerAs);
        QFETCH(QString, windowBox);
        QFETCH(QString, windowLog);
        QFETCH(int, port);
        QFETCH(int, toolExit);
        QFETCH(QString, toolMessage);
        QFETCH(QString, leftOut);

        QTemporaryDir dir;
        const QString link =
            dir.filePath(QStringLiteral("unit%1").arg(QRandomGenerator::global()->generate()));
        SimUnit sim;
        QVERIFY2(sim.start({"--link", link, "--answer-as", answerAs}),
                 qPrintable(sim.errorString()));
        const QString settings = dir.filePath("settings.txt");
        WriteTestFile(settings, command == "verify" ? kUnitFile : kWriteFile);

        if (!windowBox.isEmpty()) {
            WriteTestFile(dir.filePath("ComPorts.txt"), "COM1=" + link.toLocal8Bit() + "\n");
            QVERIFY(QDir(dir.path()).mkdir("mac"));
            WriteTestFile(dir.filePath("mac/SetMACAddress.txt"), "12\r\nAB\r\n");
            StartOptions options;
            options.programPath = dir.filePath("tolvex-config");
            options.macCounterPath = dir.filePath("mac/SetMACAddress.txt");
            options.folders = FileFolders{};
            ScriptedDialogs dialogs;
            TMainForm form(options, dialogs);
            if (command == "write")
                QVERIFY(form.LoadSettingsFile(settings));
            if (command == "read") {
                // Values the unit does not hold, so a setting the read left alone shows.
                form.Ui().ClientPortCSpinEdit->SetValue(4000);
                form.Ui().BaudRateComboBox->setCurrentIndex(0);
                form.ReadButtonClick();
            }
            if (command == "write")
                form.WriteButtonClick();
            if (command == "assign-mac") {
                // The boxes show the counter's number once its source answered.
                QVERIFY(QTest::qWaitFor([&] { return !form.Ui().NewMAC2Edit->text().isEmpty(); }));
                form.SendNewMACButtonClick();
            }
            QVERIFY(QTest::qWaitFor([&] { return !dialogs.boxes.isEmpty(); }, 15000));
            QCOMPARE(dialogs.boxTexts(), QStringList{windowBox});
            if (!windowLog.isEmpty())
                QVERIFY2(form.LogLines().contains(windowLog),
                         qPrintable(form.LogLines().join('\n')));
            if (port >= 0)
                QCOMPARE(form.Ui().ClientPortCSpinEdit->Value(), port);
            if (command == "read" && leftOut == "bb") // the wrong answer set nothing
                QCOMPARE(form.Ui().BaudRateComboBox->currentIndex(), 0);
            if (command == "assign-mac")
                QCOMPARE(form.Ui().MACAddressEdit->text(), QString());
        }

        QStringList arguments{"--json", "-p", link};
        const QString saved = dir.filePath("saved.txt");
        if (command == "read")
            arguments << "read"
                      << "-o" << saved;
        else if (command == "assign-mac")
            arguments << "assign-mac"
                      << "--mac"
                      << "12AB"
                      << "--counter" << dir.filePath("mac/SetMACAddress.txt");
        else
            arguments << command << settings;
        TolvexRun tool;
        QVERIFY(tool.Run(arguments));
        QCOMPARE(tool.ExitCode(), toolExit);
        const QList<QJsonObject> ends = tool.Events("step-end");
        QCOMPARE(ends.size(), 1);
        if (!toolMessage.isEmpty())
            QCOMPARE(ends[0].value("message").toString(), toolMessage);
        if (command == "read") {
            const QByteArray file = ReadTestFile(saved);
            QCOMPARE(file.count("\r\n\r\n"), leftOut.isEmpty() ? 15 : 14);
            if (!leftOut.isEmpty())
                QVERIFY2(!file.contains("\n" + leftOut.toLatin1()), file.constData());
        }
        if (command == "assign-mac") {
            QCOMPARE(ends[0].value("macSent").toString(), QString("12AB"));
            QCOMPARE(ends[0].value("macAnswered").toString(), QString());
            QVERIFY(!ends[0].contains("macAddress"));
        }
    }
};

QTEST_MAIN(TestAnswerCodes)
#include "tst_answercodes.moc"
