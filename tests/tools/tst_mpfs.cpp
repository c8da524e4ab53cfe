#include "support/TestFiles.h"
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun RunTool(const QStringList &args, const std::function<void()> &inChild = {})
{
    QProcess process;
#ifdef Q_OS_UNIX
    if (inChild)
        process.setChildProcessModifier(inChild);
#endif
    process.start(QStringLiteral(TOLVEX_BIN_DIR "/MPFS.EXE"), args);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    ToolRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// A folder of page files and the --list lines they should give, in byte order of names.
QStringList MakePages(const QString &folder)
{
    QByteArray binary(3000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 31);
    QDir().mkpath(folder);
    WriteTestFile(folder + "/index.htm", "<html>hi</html>");
    WriteTestFile(folder + "/logo.gif", binary);
    WriteTestFile(folder + "/.hidden", "h");
    WriteTestFile(folder + "/empty.txt", {});
    return {".hidden\t1", "empty.txt\t0", "index.htm\t15", "logo.gif\t3000"};
}

QStringList Lines(const QString &text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestMpfs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_temp.isValid()); }
    void build_thenListAndUnpack_giveOriginals();
    void build_outputWithDoubleSlash_writesImage();
    void build_replacesOlderOutput();
    void build_awkwardPaths_data();
    void build_awkwardPaths();
    void build_badInput_failsAndKeepsOlderOutput_data();
    void build_badInput_failsAndKeepsOlderOutput();
    void build_outputUnderAFile_fails();
    void build_writeFailsMidway_keepsOlderOutputWhole();
    void build_subFolder_isSkippedWithNote();
    void build_emptyFolder_givesEmptyImage();
    void list_brokenImage_fails_data();
    void list_brokenImage_fails();
    void unpack_throughExistingLink_isRefused();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir m_temp;
};

void TestMpfs::build_thenListAndUnpack_giveOriginals()
{
    const QString in = m_temp.filePath("orig/pages");
    const QStringList listing = MakePages(in);
    const QString image = m_temp.filePath("orig/WebPages.bin");
    QCOMPARE(RunTool({in, image}).exitCode, 0);

    const ToolRun list = RunTool({"--list", image});
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(Lines(list.out), listing);

    const QString out = m_temp.filePath("orig/unpacked");
    QCOMPARE(RunTool({"--unpack", image, out}).exitCode, 0);
    const QStringList names = QDir(in).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), names);
    for (const QString &name : names)
        QCOMPARE(ReadTestFile(out + "/" + name), ReadTestFile(in + "/" + name));
}

void TestMpfs::build_outputWithDoubleSlash_writesImage()
{
    const QString dir = m_temp.filePath("slashes");
    MakePages(dir + "/TempWebPges");
    const ToolRun run = RunTool({dir + "/TempWebPges", dir + "//WebPages.bin"});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(RunTool({"--list", dir + "/WebPages.bin"}).exitCode, 0);
}

void TestMpfs::build_replacesOlderOutput()
{
    const QString in = m_temp.filePath("replace/pages");
    MakePages(in);
    const QString fresh = m_temp.filePath("replace/fresh.bin");
    const QString older = m_temp.filePath("replace/older.bin");
    QVERIFY(WriteTestFile(older, QByteArray(50000, 'o')));
    QCOMPARE(RunTool({in, fresh}).exitCode, 0);
    QCOMPARE(RunTool({in, older}).exitCode, 0);
    QCOMPARE(ReadTestFile(older),
             ReadTestFile(fresh)); // no tail of the old file, same bytes every run
}

void TestMpfs::build_awkwardPaths_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("spaces") << "with some spaces";
    QTest::newRow("quotes") << "it's \"quoted\"";
    QTest::newRow("non-ASCII") << QString::fromUtf8("\xc3\xbcn\xc3\xaf"
                                                    "c\xc3\xb6"
                                                    "d\xc3\xa9 \xe6\x97\xa5");
}

void TestMpfs::build_awkwardPaths()
{
    QFETCH(QString, folder);
    const QString dir = m_temp.filePath("awkward/" + folder);
    const QStringList listing = MakePages(dir + "/in " + folder);
    const QString image = dir + "/" + folder + ".bin";
    const ToolRun run = RunTool({dir + "/in " + folder, image});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(RunTool({"--unpack", image, dir + "/out " + folder}).exitCode, 0);
    QCOMPARE(ReadTestFile(dir + "/out " + folder + "/logo.gif"),
             ReadTestFile(dir + "/in " + folder + "/logo.gif"));
}

void TestMpfs::build_badInput_failsAndKeepsOlderOutput_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing folder") << "missing"
                                    << "does not exist";
    QTest::newRow("input is a file") << "file"
                                     << "not a folder";
    QTest::newRow("non-ASCII file name") << "accent" << QString::fromUtf8("caf\xc3\xa9.htm");
    QTest::newRow("colon in file name") << "colon"
                                        << "a:b.htm";
    QTest::newRow("link to nothing") << "dangling"
                                     << "gone.htm";
}

void TestMpfs::build_badInput_failsAndKeepsOlderOutput()
{
    QFETCH(QString, problem);
    QFETCH(QString, message);
    const QString dir = m_temp.filePath("bad-" + problem);
    QString in = dir + "/pages";
    MakePages(in);
    if (problem == "missing")
        in = dir + "/nowhere";
    else if (problem == "file")
        in += "/index.htm";
    else if (problem == "accent")
        QVERIFY(WriteTestFile(in + QString::fromUtf8("/caf\xc3\xa9.htm"), "x"));
    else if (problem == "colon")
        QVERIFY(WriteTestFile(in + "/a:b.htm", "x"));
    else
        QVERIFY(QFile::link(dir + "/nothing-here", in + "/gone.htm"));
    const QString image = dir + "/WebPages.bin";
    QVERIFY(WriteTestFile(image, "older image"));

    const ToolRun run = RunTool({in, image});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(Lines(run.err).size(), 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(ReadTestFile(image), QByteArray("older image"));
}

void TestMpfs::build_outputUnderAFile_fails()
{
    const QString in = m_temp.filePath("under-file/pages");
    MakePages(in);
    const ToolRun run = RunTool({in, in + "/index.htm/WebPages.bin"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("index.htm/WebPages.bin"), qPrintable(run.err));
}

void TestMpfs::build_writeFailsMidway_keepsOlderOutputWhole()
{
#ifdef Q_OS_UNIX
    // A file size limit makes the write fail part way even for a privileged user.
    const QString in = m_temp.filePath("midway/pages");
    MakePages(in);
    const QString image = m_temp.filePath("midway/WebPages.bin");
    QVERIFY(WriteTestFile(image, "older image"));
    const ToolRun run = RunTool({in, image}, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("WebPages.bin"), qPrintable(run.err));
    QCOMPARE(ReadTestFile(image), QByteArray("older image"));
#else
    QSKIP("needs a file size limit");
#endif
}

void TestMpfs::build_subFolder_isSkippedWithNote()
{
    const QString in = m_temp.filePath("sub/pages");
    QDir().mkpath(in + "/images");
    QVERIFY(WriteTestFile(in + "/images/inner.gif", "inner"));
    QVERIFY(WriteTestFile(in + "/top.htm", "top"));
    const QString image = m_temp.filePath("sub/WebPages.bin");
    const ToolRun run = RunTool({in, image});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.contains("images"), qPrintable(run.err));
    QCOMPARE(Lines(RunTool({"--list", image}).out), QStringList{"top.htm\t3"});
}

void TestMpfs::build_emptyFolder_givesEmptyImage()
{
    const QString in = m_temp.filePath("empty/pages");
    QDir().mkpath(in);
    const QString image = m_temp.filePath("empty/WebPages.bin");
    QCOMPARE(RunTool({in, image}).exitCode, 0);
    QCOMPARE(QFileInfo(image).size(), 16);
    const ToolRun list = RunTool({"--list", image});
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(list.out, QString());
}

void TestMpfs::list_brokenImage_fails_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << "text";
    QTest::newRow("last byte missing") << "truncated";
    QTest::newRow("no such file") << "missing";
    QTest::newRow("a folder") << "folder";
}

void TestMpfs::list_brokenImage_fails()
{
    QFETCH(QString, kind);
    const QString dir = m_temp.filePath("broken-" + kind);
    MakePages(dir + "/pages");
    const QString image = dir + "/WebPages.bin";
    QCOMPARE(RunTool({dir + "/pages", image}).exitCode, 0);
    if (kind == "text")
        QVERIFY(WriteTestFile(image, "<html>not an image</html>"));
    else if (kind == "truncated")
        QVERIFY(WriteTestFile(image, ReadTestFile(image).chopped(1)));
    else if (kind == "missing")
        QFile::remove(image);
    else
        QVERIFY(QFile::remove(image) && QDir().mkpath(image));
    const ToolRun run = RunTool({"--list", image});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("WebPages.bin"), qPrintable(run.err));
    QCOMPARE(run.out, QString());
}

void TestMpfs::unpack_throughExistingLink_isRefused()
{
    const QString dir = m_temp.filePath("link");
    MakePages(dir + "/pages");
    QCOMPARE(RunTool({dir + "/pages", dir + "/WebPages.bin"}).exitCode, 0);
    QVERIFY(WriteTestFile(dir + "/precious.txt", "keep me"));
    QDir().mkpath(dir + "/out");
    QVERIFY(QFile::link(dir + "/precious.txt", dir + "/out/index.htm"));
    QCOMPARE(RunTool({"--unpack", dir + "/WebPages.bin", dir + "/out"}).exitCode, 1);
    QCOMPARE(ReadTestFile(dir + "/precious.txt"), QByteArray("keep me"));
}

void TestMpfs::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("nothing") << QStringList{} << 2;
    QTest::newRow("one folder only") << QStringList{"pages"} << 2;
    QTest::newRow("three arguments") << QStringList{"a", "b", "c"} << 2;
    QTest::newRow("list without image") << QStringList{"--list"} << 2;
    QTest::newRow("unknown option") << QStringList{"--pack", "a", "b"} << 2;
}

void TestMpfs::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    const ToolRun run = RunTool(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY((exitCode == 0 ? run.out : run.err).contains("Usage"));
}

QTEST_GUILESS_MAIN(TestMpfs)
#include "tst_mpfs.moc"
