#include "support/FakeLink.h"
#include "webpages/ImageDownload.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
// Restated here rather than taken from the code under test.
const QByteArray ACK("\x06", 1);
const QByteArray NAK("\x15", 1);
const QByteArray EOT("\x04", 1);

QByteArray imageOf(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    return image;
}
} // namespace

class TestImageDownload : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    FakePort *port = nullptr;
    FakeHost *host = nullptr;
    ExchangeEngine *engine = nullptr;
    ImageDownload *download = nullptr;

    void writeImage(const QByteArray &image)
    {
        QFile file(host->imagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image);
        host->imageFileSize = int(image.size());
    }
    // Through "sv", "zp" and the unit's NAK: the first block is on the wire.
    void startToFirstBlock()
    {
        engine->SetRetriesLeft(3);
        download->StartDownload();
        port->Feed("SV1.0.5-UDP\r\n");
        QCOMPARE(port->writes.mid(0, 2), (QList<QByteArray>{"sv\r\n", "zp\r\n"}));
        QVERIFY(engine->BlockMode());
        port->Feed(NAK);
    }
    // Acknowledges until the EOT went out; returns the frames sent.
    QList<QByteArray> ackAllBlocks()
    {
        for (int guard = 0; guard < 400 && port->writes.last() != EOT; ++guard)
            port->Feed(ACK);
        return port->writes.mid(2, port->writes.size() - 3);
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        port = new FakePort;
        host = new FakeHost;
        host->imagePath = dir->path() + "//WebPages.bin";
        engine = new ExchangeEngine(*port, *host);
        download = new ImageDownload(*engine, *host);
    }
    void cleanup()
    {
        delete download;
        delete engine;
        delete host;
        delete port;
        delete dir;
    }

    void image100_oneBlock_thenEot_thenComplete()
    {
        const QByteArray image = imageOf(100);
        writeImage(image);
        startToFirstBlock();
        QCOMPARE(port->writes.size(), 3);
        const QByteArray frame = port->writes.at(2);
        QCOMPARE(frame.size(), 132);
        QCOMPARE(frame.left(3), QByteArray::fromHex("01 01 FE"));
        QCOMPARE(frame.mid(3, 100), image);
        QCOMPARE(frame.mid(103, 28), QByteArray(28, '\xFF'));
        int sum = 0;
        for (char c : frame.mid(3, 128))
            sum += uint8_t(c);
        QCOMPARE(uint8_t(frame.at(131)), uint8_t(sum & 0xFF));
        QCOMPARE(download->DownloadStep(), int(ImageDownload::AwaitFinalAck));
        port->Feed(ACK);
        QCOMPARE(port->writes.last(), EOT);
        port->Feed(ACK);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, QString("Download complete\rFile size: 100 bytes"));
        QCOMPARE(host->boxes.at(0).kind, MessageKind::Information);
        QCOMPARE(host->deleteBuildFilesCount, 1);
        QVERIFY(!host->progressVisible);
        QVERIFY(!engine->BlockMode());
        QVERIFY(!engine->PortOpen());
        QCOMPARE(engine->ExchangeState(), 0);
        QCOMPARE(engine->ReplyTimeout(), 0);
    }

    void eotAcknowledgement_mayTakeMoreThanASecond()
    {
        writeImage(imageOf(100));
        startToFirstBlock();
        port->Feed(ACK);
        QCOMPARE(port->writes.last(), EOT);
        for (int i = 0; i < 25; ++i) // 2.5 s: receivers wait for a repeated EOT first
            engine->Timer1Timer();
        QVERIFY(host->boxes.isEmpty());
        port->Feed(ACK);
        QCOMPARE(host->boxes.value(0).text, QString("Download complete\rFile size: 100 bytes"));
    }

    void image256_threeBlocks_lastAllPadding()
    {
        writeImage(imageOf(256));
        startToFirstBlock();
        const QList<QByteArray> frames = ackAllBlocks();
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames.at(1).left(3), QByteArray::fromHex("01 02 FD"));
        QCOMPARE(frames.at(2).left(3), QByteArray::fromHex("01 03 FC"));
        QCOMPARE(frames.at(2).mid(3, 128), QByteArray(128, '\xFF'));
        QCOMPARE(uint8_t(frames.at(2).at(131)), uint8_t(0x80));
        QCOMPARE(host->progress.last(), 100);
    }

    void image1000_progressAfterEachBlock()
    {
        writeImage(imageOf(1000));
        startToFirstBlock();
        ackAllBlocks();
        QCOMPARE(host->progress, (QList<int>{0, 12, 25, 38, 51, 64, 76, 89}));
    }

    void blockCounts_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blocks");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("127") << 127 << 1;
        QTest::newRow("128") << 128 << 2;
        QTest::newRow("129") << 129 << 2;
        QTest::newRow("32511") << 32511 << 254;
        QTest::newRow("32512") << 32512 << 255;
        QTest::newRow("32700") << 32700 << 256;
    }

    void blockCounts()
    {
        QFETCH(int, size);
        QFETCH(int, blocks);
        const QByteArray image = imageOf(size);
        writeImage(image);
        startToFirstBlock();
        const QList<QByteArray> frames = ackAllBlocks();
        QCOMPARE(frames.size(), blocks);
        QByteArray data;
        for (int n = 0; n < frames.size(); ++n) {
            QCOMPARE(uint8_t(frames.at(n).at(1)), uint8_t((n + 1) & 0xFF)); // wraps 255 -> 0
            QCOMPARE(uint8_t(frames.at(n).at(2)), uint8_t(255 - ((n + 1) & 0xFF)));
            data += frames.at(n).mid(3, 128);
        }
        QCOMPARE(data.left(size), image);
        QCOMPARE(data.mid(size), QByteArray(data.size() - size, '\xFF'));
        port->Feed(ACK);
        QCOMPARE(host->boxes.last().text,
                 QString("Download complete\rFile size: %1 bytes").arg(size));
    }

    void emptyImage_onePaddingBlock_progress100()
    {
        writeImage(QByteArray());
        startToFirstBlock();
        QCOMPARE(port->writes.last().mid(3, 128), QByteArray(128, '\xFF'));
        QCOMPARE(host->progress, QList<int>{100});
        port->Feed(ACK);
        QCOMPARE(port->writes.last(), EOT);
    }

    void nakDuringBlocks_resendsNothing_otherBytesIgnored()
    {
        writeImage(imageOf(1000));
        startToFirstBlock();
        const qsizetype sent = port->writes.size();
        engine->SetReplyTimeout(4);
        for (const QByteArray &b : {NAK, QByteArray("\x00", 1), QByteArray("C"), EOT})
            port->Feed(b);
        QCOMPARE(port->writes.size(), sent);
        QCOMPARE(engine->ReplyTimeout(), 4); // ignored input does not restart the time-out
    }

    void bytesOtherThanNakBeforeStart_showProgressButSendNothing()
    {
        writeImage(imageOf(10));
        download->StartDownload();
        port->Feed("SV1.0.5-UDP\r\n");
        QVERIFY(!host->progressVisible);
        port->Feed("C");
        QVERIFY(host->progressVisible);
        QCOMPARE(port->writes.size(), 2);
    }

    void fiveErrorAnswers_error1_portClosedBeforeBox()
    {
        download->StartDownload();
        bool openWhileBoxShown = true;
        host->whileBoxOpen = [&] { openWhileBoxShown = engine->PortOpen(); };
        for (int i = 0; i < 5; ++i)
            port->Feed("Error\r\n");
        QCOMPARE(port->writes, QList<QByteArray>(5, "sv\r\n"));
        QCOMPARE(host->events,
                 (QStringList{"box:TOLVEX not found\rError 1", "log:TOLVEX not found"}));
        QVERIFY(!openWhileBoxShown);
        QCOMPARE(download->DownloadStep(), 0);
        QCOMPARE(engine->ExchangeState(), 0);
        QCOMPARE(host->deleteBuildFilesCount, 0);
    }

    void versionProblems_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("not UDP") << QByteArray("SV1.0.5-TCP\r\n") << "TOLVEX not found\rError 2"
                                 << "TOLVEX not found";
        QTest::newRow("too new") << QByteArray("SV1.1.0-UDP\r\n")
                                 << "TOLVEX version not supported\rPlease download the latest "
                                    "version of this application"
                                 << "TOLVEX version not supported";
    }

    void versionProblems()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, box);
        QFETCH(QString, logLine);
        download->StartDownload();
        port->Feed(reply);
        QCOMPARE(host->boxes.size(), 1);
        QCOMPARE(host->boxes.at(0).text, box);
        QCOMPARE(host->log.last(), logLine);
        QCOMPARE(port->writes.size(), 1);
        QVERIFY(!engine->PortOpen());
        QCOMPARE(host->deleteBuildFilesCount, 0);
    }

    void version10099_startsTransfer()
    {
        writeImage(imageOf(5));
        download->StartDownload();
        port->Feed("SV1.0.99-UDP\r\n");
        QCOMPARE(port->writes.last(), QByteArray("zp\r\n"));
    }

    void missingImage_error3_noBlockMode_endsByTimeOut()
    {
        engine->SetRetriesLeft(0);
        download->StartDownload();
        port->Feed("SV1.0.5-UDP\r\n");
        QCOMPARE(host->events.mid(1),
                 (QStringList{"box:Cannot open file\nError 3", "log:Image file read error"}));
        QVERIFY(!engine->BlockMode());
        QCOMPARE(download->DownloadStep(), int(ImageDownload::AwaitStart));
        port->Feed(NAK + "\r\n");
        QCOMPARE(port->writes.size(), 2);
        for (int i = 0; i < 10; ++i)
            engine->Timer1Timer();
        QCOMPARE(host->boxes.last().text, QString("Cannot communicate with TOLVEX\nError 7"));
    }

    void portCannotOpen_deletesBuildFiles_sendsNothing()
    {
        port->openResults = {PortIo::OpenResult::OpenFailed};
        download->StartDownload();
        QCOMPARE(host->portErrors, QStringList{"Unable to open serial port 1"});
        QCOMPARE(host->deleteBuildFilesCount, 1);
        QVERIFY(port->writes.isEmpty());
        QCOMPARE(engine->ExchangeState(), 0);
    }

    void unitFallsSilentMidTransfer_error7_blockModeOff_filesKept()
    {
        writeImage(imageOf(1000));
        startToFirstBlock();
        port->Feed(ACK);
        engine->SetRetriesLeft(0);
        for (int i = 0; i < 10; ++i)
            engine->Timer1Timer();
        QCOMPARE(host->boxes.last().text, QString("Cannot communicate with TOLVEX\nError 7"));
        QVERIFY(!engine->BlockMode());
        QCOMPARE(host->deleteBuildFilesCount, 0);
        QVERIFY(!engine->PortOpen());
    }
};

QTEST_APPLESS_MAIN(TestImageDownload)
#include "tst_imagedownload.moc"
