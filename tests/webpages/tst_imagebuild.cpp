#include "support/PageLists.h"
#include "support/TestFiles.h"
#include "webpages/ImageBuild.h"

#include <QtTest>

namespace {

// Stands in for the image builder: records its arguments and what the folder it packs holds,
// writes an image of the size in size.txt (none without that file), and when fail.txt exists
// writes it to its error output and exits with status 3.
const char kStandInBuilder[] = "#!/bin/sh\n"
                               "dir=$(dirname \"$0\")\n"
                               "printf '%s\\n' \"$@\" > \"$dir/args.txt\"\n"
                               "ls -1A \"$1\" > \"$dir/listing.txt\" 2>/dev/null\n"
                               "if [ -f \"$dir/size.txt\" ]; then\n"
                               "  head -c \"$(cat \"$dir/size.txt\")\" /dev/zero > \"$2\"\n"
                               "fi\n"
                               "if [ -f \"$dir/fail.txt\" ]; then\n"
                               "  cat \"$dir/fail.txt\" >&2\n"
                               "  exit 3\n"
                               "fi\n"
                               "exit 0\n";

bool MakeExecutable(const QString &path)
{
    return QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOwner);
}

} // namespace

class TestImageBuild : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void copyAndBuild_folderWithBlanksAndQuotes_builderGetsExactArguments();
    void copy_missingPage_logsAndDeletesCopiesMade();
    void copy_unusableEntry_isReportedAsNotFound_data();
    void copy_unusableEntry_isReportedAsNotFound();
    void copy_sameNameInTwoFolders_laterEntryWins();
    void copy_existingCopy_isReplaced();
    void copy_entryThatIsItsOwnCopy_keepsItsContent();
    void copy_tempFolderBlocked_logsAndCleansNothing();
    void copy_leftoversInTempFolder_areNotPacked();
    void copy_listedEntryInTempFolder_survivesAndIsPacked();
    void clean_onlyCopiesOfListedEntriesAndImage();

    void build_outcome_data();
    void build_outcome();
    void build_builderCannotStart_givesTheSystemsReason_data();
    void build_builderCannotStart_givesTheSystemsReason();
    void build_builderNeverEnds_isKilledWithItsChildren();
    void build_runsWithoutBlocking_andRefusesASecondStart();
    void build_cancel_fails();

private:
    QString Page(const QString &relative, const QByteArray &content);
    void SetImageSize(int size);
    // Copies the list's pages and starts the builder; Finished is awaited by the caller.
    void StartBuild(const PageFileList &list, int timeoutMs = 10000);

    QTemporaryDir *m_root = nullptr;
    QString m_program; // the program folder, with blanks and quotes in its name
    QString m_sources;
    QString m_builderPath;
    ImageBuilder *m_builder = nullptr;
    QList<ImageBuildResult> m_results;
};

void TestImageBuild::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("the builder stand-in is a POSIX shell script");
#endif
}

void TestImageBuild::init()
{
    m_root = new QTemporaryDir;
    QVERIFY(m_root->isValid());
    m_program = m_root->filePath(QStringLiteral("prog dir 'q\" x"));
    m_sources = m_root->filePath(QStringLiteral("pages"));
    QVERIFY(QDir().mkpath(m_program));
    QVERIFY(QDir().mkpath(m_sources));
    m_builderPath = m_program + "/MPFS.EXE";
    QVERIFY(WriteTestFile(m_builderPath, kStandInBuilder));
    QVERIFY(MakeExecutable(m_builderPath));
    m_builder = new ImageBuilder;
    m_results.clear();
    connect(m_builder, &ImageBuilder::Finished, this,
            [this](const ImageBuildResult &result) { m_results << result; });
}

void TestImageBuild::cleanup()
{
    delete m_builder;
    delete m_root;
    m_root = nullptr;
}

QString TestImageBuild::Page(const QString &relative, const QByteArray &content)
{
    const QString path = m_sources + "/" + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    WriteTestFile(path, content);
    return path;
}

void TestImageBuild::SetImageSize(int size)
{
    QVERIFY(WriteTestFile(m_program + "/size.txt", QByteArray::number(size)));
}

void TestImageBuild::StartBuild(const PageFileList &list, int timeoutMs)
{
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    QVERIFY(log.isEmpty());
    QVERIFY(m_builder->Start(BuilderProgramPath(m_program), m_program, list, timeoutMs));
}

void TestImageBuild::copyAndBuild_folderWithBlanksAndQuotes_builderGetsExactArguments()
{
    const PageFileList list = ListOf({Page("index.htm", "<html>"), Page("cgi/stat.cgi", "s")});
    SetImageSize(500);
    StartBuild(list);
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/index.htm"), QByteArray("<html>"));
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/stat.cgi"), QByteArray("s"));
    QTRY_COMPARE(m_results.size(), 1);
    QVERIFY(m_results.at(0).ok);
    QCOMPARE(m_results.at(0).imageFileSize, qint64(500));
    QCOMPARE(QString::fromLocal8Bit(ReadTestFile(m_program + "/args.txt")),
             m_program + "/TempWebPges\n" + m_program + "//WebPages.bin\n");
    QCOMPARE(ReadTestFile(m_program + "/listing.txt"), QByteArray("index.htm\nstat.cgi\n"));
    QCOMPARE(QFileInfo(m_program + "/WebPages.bin").size(), qint64(500));
}

void TestImageBuild::copy_missingPage_logsAndDeletesCopiesMade()
{
    const QString missing = m_sources + "/m.htm";
    const PageFileList list = ListOf({Page("a.htm", "a"), missing, Page("z.htm", "z")});
    QStringList log;
    QVERIFY(!CopyPagesToTempFolder(m_program, list, &log));
    QCOMPARE(log, QStringList{"Cannot find file " + missing});
    QVERIFY(QFileInfo(m_program + "/TempWebPges").isDir());
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/a.htm"));
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/z.htm"));
}

void TestImageBuild::copy_unusableEntry_isReportedAsNotFound_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("a folder") << "sub";
    QTest::newRow("a folder with trailing separator") << "sub/";
    QTest::newRow("parent folder") << "sub/..";
}

void TestImageBuild::copy_unusableEntry_isReportedAsNotFound()
{
    QFETCH(QString, relative);
    QVERIFY(QDir().mkpath(m_sources + "/sub"));
    const QString entry = m_sources + "/" + relative;
    QStringList log;
    QVERIFY(!CopyPagesToTempFolder(m_program, ListOf({entry}), &log));
    QCOMPARE(log, QStringList{"Cannot find file " + entry});
    QVERIFY(QFileInfo(m_program).isDir());
    QVERIFY(QFileInfo(m_program + "/TempWebPges").isDir());
}

void TestImageBuild::copy_sameNameInTwoFolders_laterEntryWins()
{
    const PageFileList list =
        ListOf({Page("two/index.htm", "second"), Page("one/index.htm", "first")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/index.htm"), QByteArray("second"));
    QCOMPARE(QDir(m_program + "/TempWebPges").entryList(QDir::Files | QDir::Hidden),
             QStringList{"index.htm"});
}

void TestImageBuild::copy_existingCopy_isReplaced()
{
    QVERIFY(QDir().mkpath(m_program + "/TempWebPges"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/a.htm", "stale and longer"));
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, ListOf({Page("a.htm", "fresh")}), &log));
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/a.htm"), QByteArray("fresh"));
}

void TestImageBuild::copy_entryThatIsItsOwnCopy_keepsItsContent()
{
    QVERIFY(QDir().mkpath(m_program + "/TempWebPges"));
    const QString inside = m_program + "/TempWebPges/keep.htm";
    QVERIFY(WriteTestFile(inside, "precious"));
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, ListOf({inside}), &log));
    QCOMPARE(ReadTestFile(inside), QByteArray("precious"));
}

void TestImageBuild::copy_tempFolderBlocked_logsAndCleansNothing()
{
    QVERIFY(WriteTestFile(m_program + "/TempWebPges", "a file where the folder should be"));
    QVERIFY(WriteTestFile(m_program + "/WebPages.bin", "old image"));
    QStringList log;
    QVERIFY(!CopyPagesToTempFolder(m_program, ListOf({Page("a.htm", "a")}), &log));
    QCOMPARE(log, QStringList{"Unable to create Temp Folder"});
    QCOMPARE(ReadTestFile(m_program + "/WebPages.bin"), QByteArray("old image"));
}

void TestImageBuild::clean_onlyCopiesOfListedEntriesAndImage()
{
    PageFileList list = ListOf({Page("a.htm", "a"), Page("b.htm", "b")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    QVERIFY(WriteTestFile(m_program + "/WebPages.bin", "image"));
    list.RemoveAt(1); // b.htm left the list after its copy was made

    DeleteBuildFiles(m_program, list);
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/a.htm"));
    QVERIFY(QFile::exists(m_program + "/TempWebPges/b.htm"));
    QVERIFY(!QFile::exists(m_program + "/WebPages.bin"));
    QVERIFY(QFileInfo(m_program + "/TempWebPges").isDir());
    QVERIFY(QFile::exists(m_sources + "/a.htm"));
}

void TestImageBuild::copy_leftoversInTempFolder_areNotPacked()
{
    QVERIFY(QDir().mkpath(m_program + "/TempWebPges/old folder"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/old.htm", "left over"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/.hidden", "left over"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/old folder/x.htm", "left over"));
    QVERIFY(QFile::link(m_sources, m_program + "/TempWebPges/link"));
    const PageFileList list = ListOf({Page("new.htm", "n")});
    SetImageSize(10);
    StartBuild(list);
    QTRY_COMPARE(m_results.size(), 1);
    QCOMPARE(ReadTestFile(m_program + "/listing.txt"), QByteArray("new.htm\n"));
    QVERIFY(QFile::exists(m_sources + "/new.htm")); // a link's target is left alone
}

void TestImageBuild::copy_listedEntryInTempFolder_survivesAndIsPacked()
{
    QVERIFY(QDir().mkpath(m_program + "/TempWebPges"));
    const QString inside = m_program + "/TempWebPges/keep.htm";
    QVERIFY(WriteTestFile(inside, "precious"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/old.htm", "left over"));
    SetImageSize(10);
    StartBuild(ListOf({inside, Page("new.htm", "n")}));
    QTRY_COMPARE(m_results.size(), 1);
    QCOMPARE(ReadTestFile(m_program + "/listing.txt"), QByteArray("keep.htm\nnew.htm\n"));
    QCOMPARE(ReadTestFile(inside), QByteArray("precious"));
}

void TestImageBuild::build_outcome_data()
{
    QTest::addColumn<int>("size");           // of the image the builder writes; -1 for none
    QTest::addColumn<QByteArray>("message"); // written before exit status 3; none: status 0
    QTest::addColumn<QString>("box");        // empty when the build succeeds
    QTest::newRow("largest image") << 32700 << QByteArray() << "";
    QTest::newRow("one byte too many")
        << 32701 << QByteArray()
        << "Image size is too large - Maximum 32700 bytes\rFile size is 32701 bytes";
    QTest::newRow("no image") << -1 << QByteArray() << "Image builder made no image";
    QTest::newRow("failure status, its message trimmed")
        << 500 << QByteArray("\n  cannot read TempWebPges/a.htm  \n")
        << "Image builder failed (exit status 3)\ncannot read TempWebPges/a.htm";
    QTest::newRow("failure status, silent")
        << 500 << QByteArray(" ") << "Image builder failed (exit status 3)";
}

void TestImageBuild::build_outcome()
{
    QFETCH(int, size);
    QFETCH(QByteArray, message);
    QFETCH(QString, box);
    // An image from an earlier build is never taken for this build's.
    QVERIFY(WriteTestFile(m_program + "/WebPages.bin", "old image"));
    if (size >= 0)
        SetImageSize(size);
    if (!message.isEmpty())
        QVERIFY(WriteTestFile(m_program + "/fail.txt", message));
    StartBuild(ListOf({Page("a.htm", "a")}));
    QTRY_COMPARE(m_results.size(), 1);
    const ImageBuildResult &result = m_results.at(0);
    QCOMPARE(result.ok, box.isEmpty());
    QCOMPARE(result.boxText, box);
    QCOMPARE(QFile::exists(m_program + "/WebPages.bin"), box.isEmpty());
    QCOMPARE(QFile::exists(m_program + "/TempWebPges/a.htm"), box.isEmpty());
    if (box.isEmpty()) {
        QCOMPARE(result.imageFileSize, qint64(size));
        QVERIFY(result.logLine.isEmpty());
    } else if (!box.startsWith("Image size")) {
        QCOMPARE(result.logLine, "Unable to create Image: " + box.replace('\n', ": "));
    }
}

void TestImageBuild::build_builderCannotStart_givesTheSystemsReason_data()
{
    QTest::addColumn<QByteArray>("content"); // of the builder file; empty: none there
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("reason"); // the box's second line holds it
    QTest::newRow("missing") << QByteArray() << false << "Path or file name not found";
    QTest::newRow("no execute permission")
        << QByteArray(kStandInBuilder) << false << "Permission denied: the file may not be run";
    QTest::newRow("not a program")
        << QByteArray("\x13\x37\xC0\xDE\x00\x42garbage", 14) << true << "Exec format error";
}

void TestImageBuild::build_builderCannotStart_givesTheSystemsReason()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, executable);
    QFETCH(QString, reason);
    QVERIFY(QFile::remove(m_builderPath));
    if (!content.isEmpty()) {
        QVERIFY(WriteTestFile(m_builderPath, content));
        QVERIFY(QFile::setPermissions(
            m_builderPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               (executable ? QFileDevice::ExeOwner : QFileDevice::Permissions())));
        if (!executable && QFileInfo(m_builderPath).isExecutable())
            QSKIP("running with rights that ignore the missing execute permission");
    }
    StartBuild(ListOf({Page("a.htm", "a")}));
    QTRY_COMPARE(m_results.size(), 1);
    const QStringList box = m_results.at(0).boxText.split('\n');
    QCOMPARE(box.value(0), "Unable to start the image builder " + m_builderPath);
    QVERIFY2(box.value(1).contains(reason), qPrintable(box.value(1)));
    QVERIFY(m_results.at(0).logLine.startsWith("Unable to create Image: Unable to start"));
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/a.htm"));
    QVERIFY(!m_builder->Running());
}

void TestImageBuild::build_builderNeverEnds_isKilledWithItsChildren()
{
    QVERIFY(WriteTestFile(m_builderPath, "#!/bin/sh\n"
                                         "head -c 100 /dev/zero > \"$2\"\n"
                                         "sleep 30 &\n"
                                         "echo $! > \"$(dirname \"$0\")/sleeper.pid\"\n"
                                         "wait\n"));
    StartBuild(PageFileList(), 300);
    QTRY_COMPARE(m_results.size(), 1);
    QCOMPARE(m_results.at(0).boxText, QStringLiteral("Image builder did not finish in time"));
    QCOMPARE(m_results.at(0).logLine,
             QStringLiteral("Unable to create Image: Image builder did not finish in time"));
    QVERIFY(!QFile::exists(m_program + "/WebPages.bin"));
#ifdef Q_OS_LINUX
    // The builder's own child went with it (gone, or a zombie waiting to be reaped).
    const QByteArray pid = ReadTestFile(m_program + "/sleeper.pid").trimmed();
    QVERIFY(pid.toInt() > 0);
    const auto running = [&] {
        const QByteArray stat = ReadTestFile("/proc/" + pid + "/stat");
        return stat != "<unreadable>" && !stat.contains(") Z ");
    };
    QTRY_VERIFY(!running());
#endif
}

void TestImageBuild::build_runsWithoutBlocking_andRefusesASecondStart()
{
    QVERIFY(WriteTestFile(m_builderPath, "#!/bin/sh\nsleep 0.5\nhead -c 10 /dev/zero > \"$2\"\n"));
    int timerTicks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] { ++timerTicks; });
    timer.start(20);
    StartBuild(PageFileList());
    QVERIFY(m_builder->Running());
    QVERIFY(!m_builder->Start(m_builderPath, m_program, PageFileList()));
    QTRY_COMPARE(m_results.size(), 1);
    QVERIFY(m_results.at(0).ok);
    QVERIFY2(timerTicks >= 5, qPrintable(QString::number(timerTicks)));
    QVERIFY(!m_builder->Running());
}

void TestImageBuild::build_cancel_fails()
{
    QVERIFY(WriteTestFile(m_builderPath, "#!/bin/sh\nsleep 30\n"));
    StartBuild(ListOf({Page("a.htm", "a")}));
    m_builder->Cancel();
    QTRY_COMPARE(m_results.size(), 1);
    QCOMPARE(m_results.at(0).boxText, QStringLiteral("Image build cancelled"));
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/a.htm"));
}

QTEST_GUILESS_MAIN(TestImageBuild)
#include "tst_imagebuild.moc"
