// The traffic trace on a real exchange: the window's port wrapped for tracing, a trace file
// written as the bytes go, against the simulated unit over a pseudo-terminal.

#include "app/MainUnit.h"
#include "link/QtSerialPortIo.h"
#include "link/TrafficTrace.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The trace file's lines without their time stamps; the date line is checked and dropped.
QStringList Unstamped(const QByteArray &file)
{
    QStringList lines = QString::fromUtf8(file).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    QStringList result;
    for (const QString &line : lines) {
        if (stamp.match(line).hasMatch())
            result << line.mid(14);
        else if (line != QDate::currentDate().toString(Qt::ISODate))
            result << QStringLiteral("<no stamp> ") + line;
    }
    return result;
}

} // namespace

class TestTracedExchanges : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    QString link;
    SimUnit *sim = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    TraceFileSink *traceFile = nullptr;
    TMainForm *form = nullptr;

    void bringUp(const QString &tracePath)
    {
        link = dir->filePath(QStringLiteral("unit%1").arg(QRandomGenerator::global()->generate()));
        QVERIFY(sim->start(QStringList{"--link", link, "--unpack-to", dir->filePath("received")}));
        QVERIFY(WriteTestFile(dir->filePath("ComPorts.txt"), "COM1=" + link.toLocal8Bit() + "\n"));
        QVERIFY(QFile::link(TOLVEX_BIN_DIR "/MPFS.EXE", dir->filePath("MPFS.EXE")));
        auto port = std::make_unique<TracingPortIo>(std::make_unique<QtSerialPortIo>());
        QString error;
        QVERIFY2(traceFile->Open(tracePath, &error), qPrintable(error));
        port->AddListener(traceFile);
        StartOptions options;
        options.programPath = dir->filePath("tolvex-config");
        options.macCounterPath = dir->filePath("no-counter");
        options.showWebPages = true;
        form = new TMainForm(options, *dialogs, std::move(port));
    }
    bool waitForBox(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return !dialogs->boxes.isEmpty(); }, timeoutMs);
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        sim = new SimUnit;
        dialogs = new ScriptedDialogs;
        traceFile = new TraceFileSink;
    }
    void cleanup()
    {
        delete form;
        form = nullptr;
        delete traceFile;
        delete dialogs;
        delete sim;
        delete dir;
    }

    void read_everyLineBothWays()
    {
        const QString path = dir->filePath("trace.txt");
        bringUp(path);
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});

        const QStringList lines = Unstamped(ReadTestFile(path));
        QVERIFY2(lines.size() > 30, qPrintable(lines.join('\n')));
        QCOMPARE(lines.first(), "--  open " + link + ": opened");
        QCOMPARE(lines.at(1), QStringLiteral("TX  \"sv\\r\\n\""));
        QCOMPARE(lines.at(2), QStringLiteral("RX  \"SV1.0.5-UDP\\r\\n\""));
        QCOMPARE(lines.last(), QStringLiteral("--  close"));
        // Sixteen queries, each followed by its answer.
        int sent = 0;
        for (int i = 1; i + 1 < lines.size(); i += 2) {
            QVERIFY2(lines.at(i).startsWith(QLatin1String("TX  \"")), qPrintable(lines.at(i)));
            QVERIFY2(lines.at(i + 1).startsWith(QLatin1String("RX  \"")),
                     qPrintable(lines.at(i + 1)));
            ++sent;
        }
        QCOMPARE(sent, 16);
        QVERIFY(lines.contains(QStringLiteral("TX  \"ba\\r\\n\"")));
        const QRegularExpression portAnswer(QStringLiteral("^RX  \"ba3012\\\\r\\\\n\"$"),
                                            QRegularExpression::CaseInsensitiveOption);
        QVERIFY(lines.indexOf(portAnswer) > 0);
    }

    void download_blocksSummarisedWithTheirAnswers()
    {
        const QString path = dir->filePath("trace.txt");
        bringUp(path);
        const QString page = dir->filePath("index.htm");
        QVERIFY(WriteTestFile(page, QByteArray(1000, 'p')));
        dialogs->fileLists << QStringList{page};
        form->AddButtonClick();
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QVERIFY2(dialogs->boxTexts().value(0).startsWith("Download complete"),
                 qPrintable(dialogs->boxTexts().join(" | ")));

        const QStringList lines = Unstamped(ReadTestFile(path));
        QVERIFY(lines.contains(QStringLiteral("TX  \"zp\\r\\n\"")));
        const QRegularExpression block(
            QStringLiteral("^TX  block (\\d+), 128 bytes, checksum right$"));
        int blocks = 0;
        for (int i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = block.match(lines.at(i));
            if (!match.hasMatch())
                continue;
            ++blocks;
            QCOMPARE(match.captured(1).toInt(), blocks % 256);
            QCOMPARE(lines.value(i + 1), QStringLiteral("RX  ACK to block %1").arg(blocks % 256));
        }
        QVERIFY(blocks >= 8); // over a thousand bytes of page and the image's own headers
        const qsizetype eot = lines.indexOf(QStringLiteral("TX  EOT"));
        QVERIFY(eot > 0);
        QCOMPARE(lines.value(eot + 1), QStringLiteral("RX  ACK to EOT"));
        QCOMPARE(lines.last(), QStringLiteral("--  close"));
        QVERIFY(!lines.join('\n').contains(QLatin1String("<no stamp>")));
    }
};

QTEST_MAIN(TestTracedExchanges)
#include "tst_tracedexchanges.moc"
