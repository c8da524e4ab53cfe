// The image download against lrzsz's `rx`, an XMODEM receiver nobody here wrote.

#include "app/MainUnit.h"
#include "support/RxPeer.h"
#include "support/ScriptedDialogs.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestRxPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("rx").isEmpty())
            QFAIL("lrzsz's rx is not installed (scripts/install-deps.sh installs it)");
    }

    void imageReceivedWhole_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {1, 127, 128, 129, 1000, 32511, 32700})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void imageReceivedWhole()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        RxPeer peer;
        QVERIFY(peer.Open(dir.filePath("received.bin")));
        QFile map(dir.filePath("ComPorts.txt"));
        QVERIFY(map.open(QIODevice::WriteOnly));
        map.write("COM1=" + peer.SlavePath().toLocal8Bit() + "\n");
        map.close();

        QByteArray image(size, '\0');
        for (int i = 0; i < size; ++i)
            image[i] = char((i * 131 + size) & 0xFF);
        QFile imageFile(dir.filePath("WebPages.bin"));
        QVERIFY(imageFile.open(QIODevice::WriteOnly));
        imageFile.write(image);
        imageFile.close();

        ScriptedDialogs dialogs;
        StartOptions options;
        options.programPath = dir.filePath("tolvex-config");
        options.macCounterPath = dir.filePath("no-mac-file");
        options.folders = FileFolders{}; // beside the program only
        TMainForm form(options, dialogs);
        form.Download().SetImage(image);
        QVERIFY(form.Engine().Start(form.Download()));

        QVERIFY(QTest::qWaitFor([&] { return !dialogs.boxes.isEmpty(); }, 30000));
        QVERIFY(QTest::qWaitFor([&] { return peer.RxFinished(); }, 5000));
        QVERIFY2(dialogs.boxTexts().value(0).startsWith("Download complete\rFile size: "),
                 qPrintable(dialogs.events.join(" | ") + " step " +
                            QString::number(form.Download().DownloadStep())));
        QCOMPARE(peer.RxExitCode(), 0);

        // The image, 0xFF up to the end of its last block, and a block of 0xFF more when the
        // size is a whole number of blocks.
        const int blocks = size / 128 + 1;
        const QByteArray expected = image + QByteArray(blocks * 128 - size, '\xFF');
        QFile received(dir.filePath("received.bin"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), expected);
        QVERIFY(peer.LinesSeen().startsWith("sv\r\nzp\r\n"));
    }
};

QTEST_MAIN(TestRxPeer)
#include "tst_rxpeer.moc"
