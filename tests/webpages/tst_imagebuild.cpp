#include "support/PageLists.h"
#include "support/TestFiles.h"
#include "webpages/ImageBuild.h"

#include <QtTest>

#include <cerrno>

namespace {

// Stands in for the image builder: records its arguments and the folder it was given, writes an
// image of the size found in size.txt (none without that file) and exits with a failure status,
// which the build must not look at.
const char kStandInBuilder[] = "#!/bin/sh\n"
                               "dir=$(dirname \"$0\")\n"
                               "printf '%s\\n' \"$@\" > \"$dir/args.txt\"\n"
                               "ls -1 \"$1\" > \"$dir/listing.txt\" 2>/dev/null\n"
                               "if [ -f \"$dir/size.txt\" ]; then\n"
                               "  head -c \"$(cat \"$dir/size.txt\")\" /dev/zero > \"$2\"\n"
                               "fi\n"
                               "exit 3\n";

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
    void copyAndClean_leftoverFileInTempFolder_stays();
    void clean_onlyCopiesOfListedEntriesAndImage();

    void build_startErrorTexts_data();
    void build_startErrorTexts();
    void build_builderMissing_reportsPathNotFoundAndCleansUp();
    void build_builderNotAnExecutable_reportsExecFormat();
    void build_builderWithoutExecutePermission_reportsEmptyText();
    void build_imageSizeLimit_data();
    void build_imageSizeLimit();
    void build_noImageWritten_passesWithUnknownSize();
    void build_builderNeverEnds_isKilledAndFails();

private:
    QString Page(const QString &relative, const QByteArray &content);
    void SetImageSize(int size);

    QTemporaryDir *m_root = nullptr;
    QString m_program; // the program folder, with blanks and quotes in its name
    QString m_sources;
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
    const QString builder = m_program + "/MPFS.EXE";
    QVERIFY(WriteTestFile(builder, kStandInBuilder));
    QVERIFY(MakeExecutable(builder));
}

void TestImageBuild::cleanup()
{
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

void TestImageBuild::copyAndBuild_folderWithBlanksAndQuotes_builderGetsExactArguments()
{
    const PageFileList list = ListOf({Page("index.htm", "<html>"), Page("cgi/stat.cgi", "s")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    QVERIFY(log.isEmpty());
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/index.htm"), QByteArray("<html>"));
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/stat.cgi"), QByteArray("s"));

    SetImageSize(500);
    ImageBuildResult result;
    QVERIFY(BuildImage(m_program, list, &result));
    QCOMPARE(result.imageFileSize, qint64(500));
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

void TestImageBuild::copyAndClean_leftoverFileInTempFolder_stays()
{
    QVERIFY(QDir().mkpath(m_program + "/TempWebPges"));
    QVERIFY(WriteTestFile(m_program + "/TempWebPges/old.htm", "left over"));
    const PageFileList list = ListOf({Page("new.htm", "n")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    SetImageSize(10);
    ImageBuildResult result;
    QVERIFY(BuildImage(m_program, list, &result));
    QCOMPARE(ReadTestFile(m_program + "/listing.txt"), QByteArray("new.htm\nold.htm\n"));

    DeleteBuildFiles(m_program, list);
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/new.htm"));
    QVERIFY(!QFile::exists(m_program + "/WebPages.bin"));
    QCOMPARE(ReadTestFile(m_program + "/TempWebPges/old.htm"), QByteArray("left over"));
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

void TestImageBuild::build_startErrorTexts_data()
{
    QTest::addColumn<int>("errorNumber");
    QTest::addColumn<QString>("text");
    QTest::newRow("ENOENT") << ENOENT << "Path or file name not found";
    QTest::newRow("ENOMEM") << ENOMEM << "Not enough memory";
    QTest::newRow("EINVAL") << EINVAL << "Invalid argument";
    QTest::newRow("E2BIG") << E2BIG << "Arg list too long";
    QTest::newRow("ENOEXEC") << ENOEXEC << "Exec format error";
    QTest::newRow("EACCES") << EACCES << "";
}

void TestImageBuild::build_startErrorTexts()
{
    QFETCH(int, errorNumber);
    QFETCH(QString, text);
    QCOMPARE(BuilderStartErrorText(errorNumber), text);
}

void TestImageBuild::build_builderMissing_reportsPathNotFoundAndCleansUp()
{
    QVERIFY(QFile::remove(m_program + "/MPFS.EXE"));
    const PageFileList list = ListOf({Page("a.htm", "a")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));

    ImageBuildResult result;
    QVERIFY(!BuildImage(m_program, list, &result));
    QCOMPARE(result.boxText, QStringLiteral("Path or file name not found"));
    QCOMPARE(result.logLine, QStringLiteral("Unable to create Image: Path or file name not found"));
    QVERIFY(!QFile::exists(m_program + "/TempWebPges/a.htm"));
}

void TestImageBuild::build_builderNotAnExecutable_reportsExecFormat()
{
    const QString builder = m_program + "/MPFS.EXE";
    QVERIFY(WriteTestFile(builder, QByteArray("\x13\x37\xC0\xDE\x00\x42\x99\x07garbage", 16)));
    QVERIFY(MakeExecutable(builder));

    ImageBuildResult result;
    QVERIFY(!BuildImage(m_program, PageFileList(), &result));
    QCOMPARE(result.boxText, QStringLiteral("Exec format error"));
    QCOMPARE(result.logLine, QStringLiteral("Unable to create Image: Exec format error"));
}

void TestImageBuild::build_builderWithoutExecutePermission_reportsEmptyText()
{
    QVERIFY(QFile::setPermissions(m_program + "/MPFS.EXE",
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    if (QFileInfo(m_program + "/MPFS.EXE").isExecutable())
        QSKIP("running with rights that ignore the missing execute permission");
    ImageBuildResult result;
    QVERIFY(!BuildImage(m_program, PageFileList(), &result));
    QCOMPARE(result.boxText, QString());
    QCOMPARE(result.logLine, QStringLiteral("Unable to create Image: "));
}

void TestImageBuild::build_imageSizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("largest accepted") << 32700 << true;
    QTest::newRow("one byte too many") << 32701 << false;
}

void TestImageBuild::build_imageSizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    const PageFileList list = ListOf({Page("a.htm", "a")});
    QStringList log;
    QVERIFY(CopyPagesToTempFolder(m_program, list, &log));
    SetImageSize(size);

    ImageBuildResult result;
    QCOMPARE(BuildImage(m_program, list, &result), accepted);
    QCOMPARE(result.imageFileSize, qint64(size));
    QCOMPARE(QFile::exists(m_program + "/TempWebPges/a.htm"), accepted);
    QCOMPARE(QFile::exists(m_program + "/WebPages.bin"), accepted);
    if (accepted) {
        QVERIFY(result.boxText.isEmpty());
        QVERIFY(result.logLine.isEmpty());
    } else {
        QCOMPARE(result.boxText, QStringLiteral("Image size is too large - Maximum 32700 bytes\r"
                                                "File size is 32701 bytes"));
        QCOMPARE(result.logLine, QStringLiteral("Image size is too large: 32701"));
    }
}

void TestImageBuild::build_noImageWritten_passesWithUnknownSize()
{
    // An image from an earlier build is not taken for this build's.
    QVERIFY(WriteTestFile(m_program + "/WebPages.bin", "old image"));
    ImageBuildResult result;
    QVERIFY(BuildImage(m_program, PageFileList(), &result));
    QCOMPARE(result.imageFileSize, qint64(-1));
    QVERIFY(!QFile::exists(m_program + "/WebPages.bin"));
    QVERIFY(QFile::exists(m_program + "/args.txt"));
}

void TestImageBuild::build_builderNeverEnds_isKilledAndFails()
{
    const QString builder = m_program + "/MPFS.EXE";
    QVERIFY(WriteTestFile(builder, "#!/bin/sh\nsleep 30 &\nwait\n"));
    QVERIFY(MakeExecutable(builder));
    QVERIFY(WriteTestFile(m_program + "/WebPages.bin", "partial"));

    ImageBuildResult result;
    QVERIFY(!BuildImage(m_program, PageFileList(), &result, 300));
    QCOMPARE(result.boxText, QStringLiteral("Image builder did not finish in time"));
    QCOMPARE(result.logLine,
             QStringLiteral("Unable to create Image: Image builder did not finish in time"));
    QVERIFY(!QFile::exists(m_program + "/WebPages.bin"));
}

QTEST_GUILESS_MAIN(TestImageBuild)
#include "tst_imagebuild.moc"
