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
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

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
        options.showWebPages = true;
        form = new TMainForm(options, *dialogs);
        form->Engine().SetRetriesLeft(0);
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

    void builderMissing_pathOrFileNameNotFound()
    {
        bringUp();
        addPage("a.htm", "a");
        QVERIFY(QFile::remove(program + "/MPFS.EXE"));
        form->DownloadButtonClick();
        QCOMPARE(dialogs->boxTexts(), QStringList{"Path or file name not found"});
        QCOMPARE(form->LogLines().last(),
                 QString("Unable to create Image: Path or file name not found"));
        QVERIFY(copies().isEmpty());
    }

    void builderBroken_execFormatError()
    {
        bringUp();
        addPage("a.htm", "a");
        QVERIFY(QFile::remove(program + "/MPFS.EXE"));
        QVERIFY(WriteTestFile(program + "/MPFS.EXE", QByteArray(64, '\x7f')));
        QFile::setPermissions(program + "/MPFS.EXE",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        form->DownloadButtonClick();
        QCOMPARE(dialogs->boxTexts(), QStringList{"Exec format error"});
        QVERIFY(copies().isEmpty());
    }

    void imageTooLarge_refusedWithItsSize_filesDeleted()
    {
        bringUp();
        QByteArray big(40000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char(QRandomGenerator::global()->bounded(256));
        addPage("big.htm", big);
        form->DownloadButtonClick();
        const QString box = dialogs->boxTexts().value(0);
        QVERIFY2(box.startsWith("Image size is too large - Maximum 32700 bytes\rFile size is "),
                 qPrintable(box));
        QVERIFY(form->LogLines().last().startsWith("Image size is too large: "));
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));
        QVERIFY(sim->receivedLines().isEmpty());
    }

    void unitNaksABlock_transferStands_error7_filesKept()
    {
        bringUp({"--nak-block", "2"});
        addPage("inputs.cgi", QByteArray(1000, 'x'));
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot communicate with TOLVEX\nError 7"});
        QVERIFY(QFile::exists(program + "/WebPages.bin"));
        QCOMPARE(copies(), QStringList{"inputs.cgi"});
        QVERIFY(!form->Engine().BlockMode());
    }

    void unitFallsSilentMidTransfer_error7_thenReadWorks()
    {
        bringUp({"--stop-ack-after", "3"});
        addPage("inputs.cgi", QByteArray(2000, 'y'));
        form->DownloadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot communicate with TOLVEX\nError 7"});
        QVERIFY(sim->sendCommand("reset"));
        dialogs->boxes.clear();
        form->ReadButtonClick();
        QVERIFY(waitForBox());
        QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
    }

    void portCannotOpen_buildFilesDeleted()
    {
        bringUp();
        addPage("a.htm", "a");
        form->Ui().SerialPortCSpinEdit->SetValue(200);
        form->DownloadButtonClick();
        QCOMPARE(dialogs->plainErrors, QStringList{"Unable to open serial port 200"});
        QVERIFY(copies().isEmpty());
        QVERIFY(!QFile::exists(program + "/WebPages.bin"));
    }
};

QTEST_MAIN(TestWebPageDownload)
#include "tst_webpagedownload.moc"
