// Page list -> copies -> image builder -> download to the simulated unit, which unpacks what
// it received; and each way the path can fail, with what is kept and what is deleted.

#include "app/MainUnit.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfProgressBar.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

} // namespace

class TestWebPageDownload : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    QString program; // the program's folder: blanks and quotes in its path on purpose
    QString pages;
    SimUnit *sim = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    TMainForm *form = nullptr;
    QMap<QString, QByteArray> originals;

    void bringUp(const QStringList &simArguments = {})
    {
        const QString link =
            dir->filePath(QStringLiteral("unit%1").arg(QRandomGenerator::global()->generate()));
        QVERIFY(sim->start(QStringList{"--link", link, "--unpack-to", dir->filePath("received")} +
                           simArguments));
        QVERIFY(WriteTestFile(program + "/ComPorts.txt", "COM1=" + link.toLocal8Bit() + "\n"));
        StartOptions options;
        options.programPath = program + "/tolvex-config";
        options.macCounterPath = dir->filePath("no-counter");
        options.folders = FileFolders{}; // beside the program only
        options.showWebPages = true;
        form = new TMainForm(options, *dialogs);
    }
    // A builder of the test's own: a shell script standing where MPFS.EXE is looked for.
    void replaceBuilder(const QByteArray &script)
    {
        QVERIFY(QFile::remove(program + "/MPFS.EXE"));
        QVERIFY(WriteTestFile(program + "/MPFS.EXE", script));
        QFile::setPermissions(program + "/MPFS.EXE",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void addPage(const QString &name, const QByteArray &bytes)
    {
        const QString path = pages + "/" + name;
        QVERIFY(WriteTestFile(path, bytes));
        originals.insert(name, bytes);
        dialogs->fileLists << QStringList{path};
        form->AddButtonClick();
    }
    bool waitForBox(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return !dialogs->boxes.isEmpty(); }, timeoutMs);
    }
    QStringList copies() const { return QDir(program + "/TempWebPges").entryList(QDir::Files); }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        program = dir->filePath("tolvex bench \"B\"");
        pages = dir->filePath("web pages");
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QDir().mkpath(pages));
        QVERIFY(QFile::link(TOLVEX_BIN_DIR "/MPFS.EXE", program + "/MPFS.EXE"));
        sim = new SimUnit;
        dialogs = new ScriptedDialogs;
        originals.clear();
    }
    void cleanup()
    {
        delete form;
        form = nullptr;
        delete dialogs;
        delete sim;
        delete dir;
    }

    void download_unitUnpacksTheOriginals_buildFilesCleanedUp()
    {
        bringUp();
        // Left by an earlier build: it must not reach the unit.
        QVERIFY(QDir().mkpath(program + "/TempWebPges"));
        QVERIFY(WriteTestFile(program + "/TempWebPges/removed.htm", "old page"));
        addPage("index.htm", "<html><body>TOLVEX</body></html>\n");
        addPage("inputs.cgi", QByteArray(3000, 'i'));
        addPage("Status Page.htm", QByteArray("\x00\xff\r\n binary", 11));
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QVERIFY2(dialogs->boxTexts().value(0).startsWith("Download complete\rFile size: "),
                 qPrintable(dialogs->boxTexts().join(" | ")));
        QVERIFY(sim->waitForEvent("UNPACKED", 5000));
        for (auto it = originals.cbegin(); it != originals.cend(); ++it)
            QCOMPARE(ReadTestFile(dir->filePath("received/" + it.key())), it.value());
        QCOMPARE(QDir(dir->filePath("received")).entryList(QDir::Files).size(), 3);
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));
        QVERIFY(QDir(program + "/TempWebPges").exists());
        QVERIFY(form->Ui().WebPagedxfProgressBar->isHidden());
        QCOMPARE(sim->receivedLines().mid(0, 2), (QList<QByteArray>{"sv\r\n", "zp\r\n"}));
        const QString size = form->Ui().ImageSizeLabel->text();
        QVERIFY2(size.contains(" of 32,700 bytes\nDownloaded"), qPrintable(size));
    }

    void missingPageFile_cannotFindFile_copiesDeleted_nothingSent()
    {
        bringUp();
        addPage("a.htm", "a");
        dialogs->fileLists << QStringList{pages + "/zz-missing.htm"};
        form->AddButtonClick();
        form->DownloadButtonClick();
        QCOMPARE(dialogs->boxTexts(), QStringList{"Error Copying Files"});
        QCOMPARE(form->LogLines().last(), "Cannot find file " + pages + "/zz-missing.htm");
        QVERIFY(copies().isEmpty());
        QTest::qWait(200);
        QVERIFY(sim->receivedLines().isEmpty());
    }

    void builderFails_itsOwnMessageInOneBox_nothingSent_data()
    {
        QTest::addColumn<QByteArray>("builder"); // "" removes it; else the file's content
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("boxStart");
        QTest::addColumn<QString>("boxHas");
        QTest::newRow("missing") << QByteArray() << true << "Unable to start the image builder"
                                 << "Path or file name not found";
        QTest::newRow("not executable")
            << QByteArray("#!/bin/sh\nexit 0\n") << false << "Unable to start the image builder"
            << "Permission denied";
        QTest::newRow("not a program")
            << QByteArray(64, '\x7f') << true << "Unable to start the image builder"
            << "format";
        QTest::newRow("exit status") << QByteArray("#!/bin/sh\necho 'name too long: x.htm' >&2\n"
                                                   "exit 3\n")
                                     << true << "Image builder failed (exit status 3)"
                                     << "\nname too long: x.htm";
        QTest::newRow("no image") << QByteArray("#!/bin/sh\necho 'nothing to pack'\nexit 0\n")
                                  << true << "Image builder made no image"
                                  << "nothing to pack";
    }

    void builderFails_itsOwnMessageInOneBox_nothingSent()
    {
        QFETCH(QByteArray, builder);
        QFETCH(bool, executable);
        QFETCH(QString, boxStart);
        QFETCH(QString, boxHas);
        bringUp();
        addPage("a.htm", "a");
        if (builder.isEmpty()) {
            QVERIFY(QFile::remove(program + "/MPFS.EXE"));
        } else {
            replaceBuilder(builder);
            if (!executable)
                QFile::setPermissions(program + "/MPFS.EXE", QFile::ReadOwner | QFile::WriteOwner);
        }
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QTest::qWait(1500); // no Error 7 or other box follows
        QCOMPARE(dialogs->boxes.size(), 1);
        const QString box = dialogs->boxTexts().at(0);
        QVERIFY2(box.startsWith(boxStart) && box.contains(boxHas), qPrintable(box));
        QVERIFY(form->LogLines().last().startsWith("Unable to create Image: "));
        QVERIFY(copies().isEmpty());
        QVERIFY(sim->receivedLines().isEmpty());
        QVERIFY(form->Ui().DownloadButton->isEnabled());
    }

    void slowBuilder_windowStaysResponsive_buttonsWaitForIt()
    {
        bringUp();
        addPage("a.htm", "a");
        replaceBuilder("#!/bin/sh\nsleep 1\nexec " TOLVEX_BIN_DIR "/MPFS.EXE \"$@\"\n");
        form->DownloadButtonClick();
        QVERIFY(form->Builder().Running());
        QVERIFY(!form->Ui().DownloadButton->isEnabled());
        QVERIFY(!form->Ui().ReadButton->isEnabled());
        // The event loop runs while the builder works: timers fire, the window repaints.
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(50);
        QTest::qWait(500);
        QVERIFY(ticks >= 5);
        QVERIFY(waitForBox());
        QVERIFY2(dialogs->boxTexts().value(0).startsWith("Download complete"),
                 qPrintable(dialogs->boxTexts().join(" | ")));
        QVERIFY(form->Ui().DownloadButton->isEnabled());
    }

    void imageTooLarge_refusedWithItsSize_filesDeleted()
    {
        bringUp();
        QByteArray big(40000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(QRandomGenerator::global()->bounded(256));
        addPage("big.htm", big);
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        const QString box = dialogs->boxTexts().value(0);
        QVERIFY2(box.startsWith("Image size is too large - Maximum 32700 bytes\rFile size is "),
                 qPrintable(box));
        QVERIFY(form->LogLines().last().startsWith("Image size is too large: "));
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));
        QVERIFY(sim->receivedLines().isEmpty());
    }

    void transferFails_unitCancelled_cleanedUp_nextDownloadWorks_data()
    {
        QTest::addColumn<QStringList>("fault");
        QTest::addColumn<QString>("diagnosis"); // the log's last line starts so
        QTest::newRow("unit NAKs a block")
            << QStringList{"--nak-block", "2"} << "The unit refused block 2 ";
        QTest::newRow("unit falls silent")
            << QStringList{"--stop-ack-after", "3"} << "The unit answered and then stopped";
    }

    void transferFails_unitCancelled_cleanedUp_nextDownloadWorks()
    {
        QFETCH(QStringList, fault);
        QFETCH(QString, diagnosis);
        bringUp(fault);
        addPage("inputs.cgi", QByteArray(2000, 'x'));
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot communicate with TOLVEX\nError 7"});
        QVERIFY2(form->LogLines().last().startsWith(diagnosis),
                 qPrintable(form->LogLines().join(" | ")));
        // The unit was told the transfer is over; nothing but "sv" and "zp" went out as lines.
        QVERIFY(sim->waitForEvent("XMODEM END cancelled", 3000));
        QCOMPARE(sim->receivedLines(), (QList<QByteArray>{"sv\r\n", "zp\r\n"}));
        QVERIFY(form->Ui().WebPagedxfProgressBar->isHidden());
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));

        // A healthy unit again: the very next download goes through, no other exchange between.
        QVERIFY(sim->sendCommand("reset"));
        dialogs->boxes.clear();
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QVERIFY2(dialogs->boxTexts().value(0).startsWith("Download complete"),
                 qPrintable(dialogs->boxTexts().join(" | ")));
    }

    void operatorCancel_midTransfer_unitToldNoOkBox_data()
    {
        QTest::addColumn<bool>("onWebPagesPage");
        QTest::newRow("Cancel on the General page") << false;
        QTest::newRow("Cancel beside the progress") << true;
    }

    void operatorCancel_midTransfer_unitToldNoOkBox()
    {
        QFETCH(bool, onWebPagesPage);
        bringUp({"--wire-delay"});
        // Shown, and pressed with the mouse, as the operator does.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        form->Ui().MainPageControl->setCurrentIndex(onWebPagesPage ? MainFormUi::WebPagesPage
                                                                   : MainFormUi::GeneralPage);
        QPushButton *cancel =
            onWebPagesPage ? form->Ui().CancelDownloadButton : form->Ui().CancelButton;
        QVERIFY(!cancel->isEnabled());
        addPage("inputs.cgi", QByteArray(20000, 'z'));
        form->DownloadButtonClick();
        QVERIFY(QTest::qWaitFor([&] { return form->Download().DownloadStep() >= 3; }, 10000));
        QVERIFY(QTest::qWaitFor(
            [&] { return form->Ui().ImageSizeLabel->text().contains(" s left"); }, 10000));
        // Seen and pressable where the operator watches the exchange.
        QVERIFY(cancel->isVisibleTo(form));
        QVERIFY(cancel->isEnabled());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(sim->waitForEvent("XMODEM END cancelled", 3000));
        QTest::qWait(300);
        QVERIFY(dialogs->boxes.isEmpty());
        QCOMPARE(form->LogLines().last(), QString("Download cancelled by the operator"));
        QVERIFY(form->Ui().DownloadButton->isEnabled());
        QVERIFY(form->Ui().WebPagedxfProgressBar->isHidden());
        QVERIFY(form->Ui().ImageSizeLabel->text().contains("\nStopped after "));
    }

    void pagesSharingAName_refusedNamingBoth_nothingBuiltOrSent()
    {
        bringUp();
        addPage("index.htm", "first");
        const QString other = dir->filePath("other/INDEX.HTM");
        QVERIFY(QDir().mkpath(dir->filePath("other")));
        QVERIFY(WriteTestFile(other, "second"));
        dialogs->fileLists << QStringList{other};
        form->AddButtonClick();
        replaceBuilder("#!/bin/sh\ntouch \"$(dirname \"$0\")/builder-ran\"\n");
        form->DownloadButtonClick();
        const QString box = dialogs->boxTexts().value(0);
        QVERIFY2(box.contains(pages + "/index.htm") && box.contains(other), qPrintable(box));
        QVERIFY(form->LogLines().last().contains(other));
        QVERIFY(copies().isEmpty());
        QVERIFY(form->Ui().DownloadButton->isEnabled());
        QTest::qWait(300);
        QVERIFY(!QFile::exists(program + "/builder-ran"));
        QVERIFY(sim->receivedLines().isEmpty());
        QCOMPARE(dialogs->boxes.size(), 1);
    }

    void portCannotOpen_buildFilesDeleted()
    {
        bringUp();
        addPage("a.htm", "a");
        form->Ui().SerialPortCSpinEdit->SetValue(200);
        form->DownloadButtonClick();
        QVERIFY(QTest::qWaitFor([&] { return !dialogs->plainErrors.isEmpty(); }, 10000));
        QVERIFY(dialogs->plainErrors.at(0).startsWith("Unable to open serial port 200\n"));
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));
    }
};

QTEST_MAIN(TestWebPageDownload)
#include "tst_webpagedownload.moc"
