#include "link/ExchangeEngine.h"
#include "support/FakeLink.h"
#include "support/TestFiles.h"
#include "webpages/ImageDownload.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {
// Restated here rather than taken from the code under test.
const QByteArray SOH("\x01", 1);
const QByteArray ACK("\x06", 1);
const QByteArray NAK("\x15", 1);
const QByteArray EOT("\x04", 1);
const QByteArray CAN_CAN("\x18\x18", 2);
const QByteArray kVersion("SV1.0.5-UDP\r\n");
const QString kError7("Cannot communicate with TOLVEX\nError 7");

QByteArray imageOf(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    return image;
}

// How a download is made to fail before the next one runs.
enum class Failure
{
    VersionErrors, // five "Error" answers to "sv"
    SilentAfterZp, // blocks flowing, then silence
    Cancelled,     // the operator cancels mid-transfer
    DeviceLost,    // the adapter is pulled mid-transfer
    SilentVersion, // no answer to "sv" at all
};
} // namespace

class TestImageDownload : public QObject
{
    Q_OBJECT

    FakePort *port = nullptr;
    FakeHost *host = nullptr;
    ExchangeEngine *engine = nullptr;
    ImageDownload *download = nullptr;
    QList<ExchangeResult> results;

    // Through "sv", "zp" and the unit's NAK: the first block is on the wire.
    void startToFirstBlock(const QByteArray &image)
    {
        download->SetImage(image);
        QVERIFY(engine->Start(*download));
        port->Feed(kVersion);
        QCOMPARE(port->writes.mid(0, 2), (QList<QByteArray>{"sv\r\n", "zp\r\n"}));
        port->Feed(NAK);
    }
    // Acknowledges until the EOT went out; returns the frames sent.
    QList<QByteArray> ackAllBlocks()
    {
        for (int guard = 0; guard < 400 && port->writes.last() != EOT; ++guard)
            port->Feed(ACK);
        return port->writes.mid(2, port->writes.size() - 3);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            engine->Tick();
    }
    // Every end: block mode off (the port closed), bar hidden, the build files released once.
    void verifyEnded()
    {
        QVERIFY(!engine->Running());
        QVERIFY(!port->isOpen);
        QVERIFY(!host->progressVisible);
        QCOMPARE(host->downloadEndedCount, 1);
        QCOMPARE(download->DownloadStep(), int(ImageDownload::Idle));
    }

private slots:
    void init()
    {
        port = new FakePort;
        host = new FakeHost;
        engine = new ExchangeEngine(*port, *host, *host);
        download = new ImageDownload(*host);
        results.clear();
        connect(engine, &ExchangeEngine::Finished, this,
                [this](const ExchangeResult &result) { results << result; });
    }
    void cleanup()
    {
        delete engine;
        delete download;
        delete host;
        delete port;
    }

    void image100_oneFrameByteForByte_thenEot_thenComplete()
    {
        const QByteArray image = imageOf(100);
        startToFirstBlock(image);
        QCOMPARE(port->writes.size(), 3);
        QByteArray expected = SOH + QByteArray::fromHex("01 FE") + image + QByteArray(28, '\xFF');
        int sum = 0;
        for (char c : expected.mid(3))
            sum += uint8_t(c);
        expected += char(sum & 0xFF);
        QCOMPARE(port->writes.at(2), expected);
        port->Feed(ACK);
        QCOMPARE(port->writes.last(), EOT);
        ticks(25); // 2.5 s: receivers wait for a repeated EOT before acknowledging the first
        QVERIFY(host->boxes.isEmpty());
        port->Feed(ACK);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("Download complete\rFile size: 100 bytes"));
        QCOMPARE(host->boxes.at(0).kind, MessageKind::Information);
        QVERIFY(results.value(0).Succeeded());
        verifyEnded();
    }

    void blockCounts_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blocks");
        QTest::newRow("empty: one padding block") << 0 << 1;
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("127") << 127 << 1;
        QTest::newRow("128: padding block follows") << 128 << 2;
        QTest::newRow("32511") << 32511 << 254;
        QTest::newRow("32512") << 32512 << 255;
        QTest::newRow("32700: past 255") << 32700 << 256;
        QTest::newRow("40000: numbers wrap on") << 40000 << 313;
    }
    void blockCounts()
    {
        QFETCH(int, size);
        QFETCH(int, blocks);
        const QByteArray image = imageOf(size);
        startToFirstBlock(image);
        const QList<QByteArray> frames = ackAllBlocks();
        QCOMPARE(frames.size(), blocks);
        QByteArray data;
        for (int n = 0; n < frames.size(); ++n) {
            QCOMPARE(frames.at(n).size(), 132);
            QCOMPARE(uint8_t(frames.at(n).at(1)), uint8_t((n + 1) & 0xFF)); // wraps 255 -> 0
            QCOMPARE(uint8_t(frames.at(n).at(2)), uint8_t(255 - ((n + 1) & 0xFF)));
            data += frames.at(n).mid(3, 128);
        }
        QCOMPARE(data.left(size), image);
        QCOMPARE(data.mid(size), QByteArray(data.size() - size, '\xFF'));
        port->Feed(ACK);
        QCOMPARE(host->boxes.value(0).text,
                 QString("Download complete\rFile size: %1 bytes").arg(size));
    }

    void image1000_progressAfterEachBlock()
    {
        startToFirstBlock(imageOf(1000));
        ackAllBlocks();
        QCOMPARE(host->progress, (QList<int>{0, 12, 25, 38, 51, 64, 76, 89}));
        QCOMPARE(host->totalShown, qint64(1000));
    }

    void otherBytesDuringBlocks_sendNothing()
    {
        startToFirstBlock(imageOf(1000));
        const qsizetype sent = port->writes.size();
        for (const QByteArray &b : {QByteArray("\x00", 1), QByteArray("C"), EOT,
                                    QByteArray("Error\r\n"), QByteArray("SV1.0.5-UDP\r\n")})
            port->Feed(b);
        QCOMPARE(port->writes.size(), sent);
        QVERIFY(engine->Running());
    }

    void nakToABlock_endsAtOnce_namesTheBlock_nothingResent_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("acks"); // blocks acknowledged before the NAK
        QTest::newRow("first block") << 1000 << 0;
        QTest::newRow("fourth block") << 1000 << 3;
        QTest::newRow("final block") << 1000 << 7;
        QTest::newRow("only block") << 100 << 0;
    }
    void nakToABlock_endsAtOnce_namesTheBlock_nothingResent()
    {
        QFETCH(int, size);
        QFETCH(int, acks);
        startToFirstBlock(imageOf(size));
        for (int i = 0; i < acks; ++i)
            port->Feed(ACK);
        const qsizetype sent = port->writes.size();
        port->Feed(NAK);
        // The unit is told at once; no block goes out again, before or after the end.
        QCOMPARE(port->writes.mid(sent), QList<QByteArray>{CAN_CAN});
        for (int i = 0; i < 3; ++i)
            port->Feed(ACK);
        ticks(50);
        QCOMPARE(port->writes.mid(sent), QList<QByteArray>{CAN_CAN});
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.at(0).error, ExchangeError::NoCommunication);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, kError7);
        const QString diagnosis = results.at(0).diagnosis;
        QVERIFY2(diagnosis.startsWith(QStringLiteral("The unit refused block %1 ").arg(acks + 1)),
                 qPrintable(diagnosis));
        QVERIFY(!diagnosis.contains("stopped answering"));
        QCOMPARE(host->log.mid(host->log.size() - 2),
                 (QStringList{"Cannot communicate with TOLVEX", diagnosis}));
        verifyEnded();
    }

    void firstByteOtherThanNak_showsProgress_sendsNothing()
    {
        download->SetImage(imageOf(10));
        engine->Start(*download);
        port->Feed(kVersion);
        QVERIFY(!host->progressVisible);
        port->Feed("C");
        QVERIFY(host->progressVisible);
        QCOMPARE(port->writes.size(), 2);
    }

    void versionFailures_sendOnlyTheQuery_andEnd_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QString>("box");
        QTest::newRow("five Error answers")
            << QList<QByteArray>(5, "Error\r\n") << "TOLVEX not found\rError 1";
        QTest::newRow("not UDP") << QList<QByteArray>{"SV1.0.5-TCP\r\n"}
                                 << "TOLVEX not found\rError 2";
        QTest::newRow("too new") << QList<QByteArray>{"SV1.1.0-UDP\r\n"}
                                 << "TOLVEX version not supported\rPlease download the latest "
                                    "version of this application";
    }
    void versionFailures_sendOnlyTheQuery_andEnd()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QString, box);
        download->SetImage(imageOf(10));
        engine->Start(*download);
        for (const QByteArray &reply : replies)
            port->Feed(reply);
        QCOMPARE(port->writes, QList<QByteArray>(replies.size(), "sv\r\n"));
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, box);
        verifyEnded();
    }

    void silentVersion_isRetried_withFreshRetries()
    {
        download->SetImage(imageOf(10));
        for (int run = 1; run <= 2; ++run) {
            port->writes.clear();
            QVERIFY(engine->Start(*download));
            while (engine->Running())
                engine->Tick();
            QCOMPARE(port->writes, QList<QByteArray>(4, "sv\r\n")); // no CAN: nothing began
            QCOMPARE(host->boxes.last().text, kError7);
            QCOMPARE(host->downloadEndedCount, run);
        }
    }

    void silenceAfterZp_isNeverRetried_cancelsTheTransfer_data()
    {
        QTest::addColumn<int>("acks"); // blocks acknowledged before the unit falls silent
        QTest::newRow("no NAK after zp") << -1;
        QTest::newRow("first block unanswered") << 0;
        QTest::newRow("mid-transfer") << 3;
        QTest::newRow("EOT unanswered") << 8;
    }
    void silenceAfterZp_isNeverRetried_cancelsTheTransfer()
    {
        QFETCH(int, acks);
        download->SetImage(imageOf(1000));
        engine->Start(*download);
        port->Feed(kVersion);
        if (acks >= 0)
            port->Feed(NAK);
        for (int i = 0; i < acks; ++i)
            port->Feed(ACK);
        const qsizetype sent = port->writes.size();
        bool openWhenCancelled = false;
        port->onWrite = [&](const QByteArray &bytes) {
            if (bytes == CAN_CAN)
                openWhenCancelled = port->isOpen;
        };
        ticks(100);
        QCOMPARE(port->writes.mid(sent), QList<QByteArray>{CAN_CAN});
        QVERIFY(openWhenCancelled);
        QCOMPARE(port->writes.count("sv\r\n"), 1);
        QCOMPARE(port->openedDevices.size(), 1);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, kError7);
        verifyEnded();
    }

    void cancel_sendsCanCanOnlyOnceZpWentOut_data()
    {
        QTest::addColumn<bool>("zpSent");
        QTest::newRow("waiting for the version") << false;
        QTest::newRow("blocks flowing") << true;
    }
    void cancel_sendsCanCanOnlyOnceZpWentOut()
    {
        QFETCH(bool, zpSent);
        download->SetImage(imageOf(1000));
        engine->Start(*download);
        if (zpSent) {
            port->Feed(kVersion);
            port->Feed(NAK);
        }
        const qsizetype sent = port->writes.size();
        engine->Cancel();
        QCOMPARE(port->writes.mid(sent), zpSent ? QList<QByteArray>{CAN_CAN} : QList<QByteArray>());
        QVERIFY(host->boxes.isEmpty());
        QCOMPARE(results.value(0).outcome, ExchangeResult::Outcome::Cancelled);
        verifyEnded();
    }

    void deviceLostMidTransfer_oneBox_noCan()
    {
        startToFirstBlock(imageOf(1000));
        port->Lose();
        QTRY_COMPARE(results.size(), 1);
        QCOMPARE(host->portErrors.size(), 1);
        QVERIFY(host->portErrors.at(0).startsWith("Serial port device lost"));
        QVERIFY(!port->writes.contains(CAN_CAN));
        ticks(50);
        QVERIFY(host->boxes.isEmpty());
        verifyEnded();
    }

    void portCannotOpen_sendsNothing_butEndsTheDownload()
    {
        port->openResults = {PortIo::OpenResult::InUse};
        download->SetImage(imageOf(10));
        QVERIFY(engine->Start(*download));
        QVERIFY(port->writes.isEmpty());
        QCOMPARE(host->portErrors.size(), 1);
        verifyEnded();
    }

    void restartedWhileItsFailureBoxIsOpen_theNewRunGoesOn()
    {
        // A host may start the next run as soon as the engine is free, before Finished.
        download->SetImage(imageOf(10));
        host->whileBoxOpen = [this] {
            if (host->boxes.size() == 1)
                QVERIFY(engine->Start(*download));
        };
        engine->Start(*download);
        port->Feed("SV1.0.5-TCP\r\n");
        QCOMPARE(host->boxes.value(0).text, QString("TOLVEX not found\rError 2"));
        QVERIFY(engine->Running());
        port->Feed(kVersion);
        QCOMPARE(port->writes.last(), QByteArray("zp\r\n"));
    }

    void nextDownloadWorks_afterAFailedOne_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::newRow("version errors") << Failure::VersionErrors;
        QTest::newRow("silent after zp") << Failure::SilentAfterZp;
        QTest::newRow("cancelled") << Failure::Cancelled;
        QTest::newRow("device lost") << Failure::DeviceLost;
        QTest::newRow("silent version") << Failure::SilentVersion;
    }
    void nextDownloadWorks_afterAFailedOne()
    {
        QFETCH(Failure, failure);
        download->SetImage(imageOf(1000));
        engine->Start(*download);
        if (failure == Failure::VersionErrors) {
            for (int i = 0; i < 5; ++i)
                port->Feed("Error\r\n");
        } else if (failure != Failure::SilentVersion) {
            port->Feed(kVersion);
            port->Feed(NAK);
            port->Feed(ACK);
        }
        if (failure == Failure::Cancelled)
            engine->Cancel();
        if (failure == Failure::DeviceLost)
            port->Lose();
        for (int i = 0; i < 200 && engine->Running(); ++i) {
            QTest::qWait(1); // a lost device is reported through the event loop
            engine->Tick();
        }
        QVERIFY(!engine->Running());
        QCOMPARE(host->downloadEndedCount, 1);

        port->writes.clear();
        host->boxes.clear();
        host->progress.clear();
        startToFirstBlock(imageOf(200));
        const QList<QByteArray> frames = ackAllBlocks();
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.at(0).left(3), SOH + QByteArray::fromHex("01 FE"));
        QCOMPARE(host->progress, (QList<int>{0, 64}));
        port->Feed(ACK);
        QCOMPARE(host->boxes.value(0).text, QString("Download complete\rFile size: 200 bytes"));
        QCOMPARE(host->downloadEndedCount, 2);
    }

    void loadImageFile_data()
    {
        QTest::addColumn<qint64>("size"); // -1: no file
        QTest::addColumn<QString>("logLine");
        QTest::newRow("small") << qint64(700) << "";
        QTest::newRow("16 MiB") << qint64(16 * 1024 * 1024) << "";
        QTest::newRow("one byte more")
            << qint64(16 * 1024 * 1024 + 1) << "Image file read error: Cannot open file ";
        QTest::newRow("missing") << qint64(-1) << "Image file read error: Cannot open file ";
#ifdef Q_OS_UNIX
        QTest::newRow("fifo") << qint64(-2) << "Image file read error: Cannot open file ";
#endif
    }
    void loadImageFile()
    {
        QFETCH(qint64, size);
        QFETCH(QString, logLine);
        QTemporaryDir dir;
        const QString path = dir.filePath("WebPages.bin");
#ifdef Q_OS_UNIX
        if (size == -2) // a FIFO with no writer: refused at once, never waited on
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        if (size >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(size));
        }
        QByteArray image("untouched");
        QString logged;
        QCOMPARE(LoadImageFile(path, &image, &logged), logLine.isEmpty());
        QVERIFY2(logLine.isEmpty() ? logged.isEmpty() : logged.startsWith(logLine),
                 qPrintable(logged));
        QCOMPARE(image.size(), logLine.isEmpty() ? size : 9);
        if (size > 16 * 1024 * 1024)
            QVERIFY2(logged.endsWith(": larger than 16777216 bytes"), qPrintable(logged));
    }
};

QTEST_GUILESS_MAIN(TestImageDownload)
#include "tst_imagedownload.moc"
