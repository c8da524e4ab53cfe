#include "link/PortNames.h"
#include "settings/SettingsFile.h"
#include "settings/TextFile.h"
#include "webpages/ImageDownload.h"
#include "webpages/PageFileList.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <functional>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(std::function<bool(const QString &, QString *)>)

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Whether the permission tests cannot work here: POSIX permission bits do not bind the
// super-user, and elsewhere they are not what decides.
QString PermissionTestsSkipReason()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        return QStringLiteral("permissions do not bind the super-user");
    return QString();
#else
    return QStringLiteral("POSIX permissions only");
#endif
}

} // namespace

class TestTextFile : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void read_missingFile_failsAndLeavesLines();
    void read_directory_fails();
    void read_bytesMapOneToOne();
    void read_onlyRegularFilesUnderTheCap_data();
    void read_onlyRegularFilesUnderTheCap();
    void everyReader_refusesAFifoAtOnce_data();
    void everyReader_refusesAFifoAtOnce();
    void write_addsCrLfAfterEveryLine();
    void write_replacesExistingFile();
    void write_targetIsDirectory_fails();
    void write_missingFolder_fails();
    void write_unwritableFolder_leavesOldFile();
    void write_readOnlyTarget_leavesOldFile();
    void write_diskFull_leavesOldFile();
};

void TestTextFile::split_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("empty input") << QByteArray() << QStringList();
    QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("empty lines kept")
        << QByteArray("a\r\n\r\nb\r\n\r\n") << QStringList{"a", "", "b", ""};
    QTest::newRow("CR CR LF is two ends") << QByteArray("a\r\r\n") << QStringList{"a", ""};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("NUL ends the text") << QByteArray("ab\0cd\r\nef", 9) << QStringList{"ab"};
    QTest::newRow("NUL right after CR") << QByteArray("ab\r\0\ncd", 7) << QStringList{"ab"};
    QTest::newRow("NUL first") << QByteArray("\0ab", 3) << QStringList();
    QTest::newRow("8-bit bytes as Latin-1")
        << QByteArray("\xe9\xff\x80\r\n") << QStringList{QString::fromLatin1("\xe9\xff\x80")};
}

void TestTextFile::split()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitTextLines(bytes), lines);
}

void TestTextFile::read_missingFile_failsAndLeavesLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing.txt");
    QStringList lines{"kept"};
    QString error;
    QVERIFY(!ReadTextFileLines(path, &lines, &error));
    QCOMPARE(lines, QStringList{"kept"});
    QCOMPARE(error, "Cannot open file " + path);
}

void TestTextFile::read_directory_fails()
{
    QTemporaryDir dir;
    QStringList lines{"kept"};
    QString error;
    QVERIFY(!ReadTextFileLines(dir.path(), &lines, &error));
    QCOMPARE(lines, QStringList{"kept"});
    QCOMPARE(error, "Cannot open file " + dir.path());
}

void TestTextFile::read_bytesMapOneToOne()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("all.txt");
    QByteArray bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n')
            bytes += char(b);
    }
    QVERIFY(WriteAll(path, bytes + "\r\nx"));
    QStringList lines;
    QString error;
    QVERIFY(ReadTextFileLines(path, &lines, &error));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0].toLatin1(), bytes);
    QCOMPARE(lines[1], QString("x"));

    // And back: a save writes the same bytes.
    const QString copy = dir.filePath("copy.txt");
    QVERIFY(WriteTextFileLines(copy, lines, &error));
    QCOMPARE(ReadAll(copy), bytes + "\r\nx\r\n");
}

void TestTextFile::write_addsCrLfAfterEveryLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    QString error;
    QVERIFY(WriteTextFileLines(path, {"12", "", "AB\r\n"}, &error));
    QCOMPARE(ReadAll(path), QByteArray("12\r\n\r\nAB\r\n\r\n"));
    QVERIFY(WriteTextFileLines(path, {}, &error));
    QCOMPARE(ReadAll(path), QByteArray());
}

void TestTextFile::write_replacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    QVERIFY(WriteAll(path, QByteArray(5000, 'o')));
    QString error;
    QVERIFY(WriteTextFileLines(path, {"new"}, &error));
    QCOMPARE(ReadAll(path), QByteArray("new\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});
}

void TestTextFile::write_targetIsDirectory_fails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sub");
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    QString error;
    QVERIFY(!WriteTextFileLines(path, {"x"}, &error));
    QCOMPARE(error, "Cannot create file " + path);
    QVERIFY(QFileInfo(path).isDir());
}

void TestTextFile::write_missingFolder_fails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/folder/out.txt");
    QString error;
    QVERIFY(!WriteTextFileLines(path, {"x"}, &error));
    QCOMPARE(error, "Cannot create file " + path);
}

void TestTextFile::write_unwritableFolder_leavesOldFile()
{
    if (const QString reason = PermissionTestsSkipReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    QVERIFY(WriteAll(path, "old\r\n"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    QString error;
    const bool written = WriteTextFileLines(path, {"new"}, &error);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!written);
    QCOMPARE(error, "Cannot create file " + path);
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
}

void TestTextFile::write_readOnlyTarget_leavesOldFile()
{
    if (const QString reason = PermissionTestsSkipReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    QVERIFY(WriteAll(path, "old\r\n"));
    QFile::setPermissions(path, QFile::ReadOwner);
    QString error;
    QVERIFY(!WriteTextFileLines(path, {"new"}, &error));
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
}

// A write that runs out of room (here: the process's file size limit) must not leave a torn file.
void TestTextFile::write_diskFull_leavesOldFile()
{
#ifndef Q_OS_UNIX
    QSKIP("the file size limit is POSIX only");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    QVERIFY(WriteAll(path, "old\r\n"));

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool written = WriteTextFileLines(path, QStringList(100, QString(100, 'n')), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QCOMPARE(error, "Cannot create file " + path);
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});
#endif
}

void TestTextFile::read_onlyRegularFilesUnderTheCap_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // after "Cannot open file <path>"; "-" reads fine
    QTest::newRow("regular") << "regular"
                             << "-";
    QTest::newRow("at the cap") << "at the cap"
                                << "-";
    QTest::newRow("one byte over the cap") << "over the cap"
                                           << ": larger than 4194304 bytes";
    QTest::newRow("folder") << "folder"
                            << "";
    QTest::newRow("missing") << "missing"
                             << "";
#ifdef Q_OS_UNIX
    QTest::newRow("FIFO without a writer") << "fifo"
                                           << ": not a regular file";
    QTest::newRow("/dev/zero") << "/dev/zero"
                               << ": not a regular file";
    QTest::newRow("link to /dev/zero") << "link to /dev/zero"
                                       << ": not a regular file";
#endif
}

// Settings, page lists, counters, port maps and images are all read here: a wrong file named by
// mistake gets a clear refusal, never a hang on a pipe or a read that never ends.
void TestTextFile::read_onlyRegularFilesUnderTheCap()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QString path = dir.filePath("file.txt");
    const qint64 cap = 4 * 1024 * 1024; // restated
    if (kind == "regular")
        QVERIFY(WriteAll(path, "ax1 5\r\n"));
    else if (kind == "at the cap" || kind == "over the cap")
        QVERIFY(WriteAll(path, QByteArray(kind == "at the cap" ? cap : cap + 1, 'x')));
    else if (kind == "folder")
        path = dir.path();
    else if (kind == "/dev/zero")
        path = "/dev/zero";
#ifdef Q_OS_UNIX
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "link to /dev/zero")
        QVERIFY(QFile::link("/dev/zero", path));
#endif

    QElapsedTimer timer;
    timer.start();
    QByteArray bytes("untouched");
    QString error;
    const bool read = ReadRegularFile(path, cap, &bytes, &error);
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(read, reason == "-");
    if (read) {
        QVERIFY(bytes != "untouched");
        return;
    }
    QCOMPARE(bytes, QByteArray("untouched"));
    QCOMPARE(error, "Cannot open file " + path + reason);
    QStringList lines{"kept"};
    QVERIFY(!ReadTextFileLines(path, &lines, &error));
    QCOMPARE(lines, QStringList{"kept"});
}

void TestTextFile::everyReader_refusesAFifoAtOnce_data()
{
    using Reader = std::function<bool(const QString &, QString *)>;
    QTest::addColumn<Reader>("reader");
    QTest::newRow("settings file") << Reader([](const QString &path, QString *error) {
        CommandQueue queue;
        QList<SettingsUpdate> updates;
        return LoadSettingsFile(path, queue, &updates, error);
    });
    QTest::newRow("page list") << Reader([](const QString &path, QString *error) {
        PageFileList list;
        return LoadPageList(path, &list, error);
    });
    QTest::newRow("port map") << Reader([](const QString &path, QString *error) {
        return SetComPortDevice(path, 1, QStringLiteral("/dev/ttyUSB0"), error);
    });
    QTest::newRow("image") << Reader([](const QString &path, QString *error) {
        QByteArray image;
        return LoadImageFile(path, &image, error);
    });
}

void TestTextFile::everyReader_refusesAFifoAtOnce()
{
#ifdef Q_OS_UNIX
    using Reader = std::function<bool(const QString &, QString *)>;
    QFETCH(Reader, reader);
    QTemporaryDir dir;
    const QString path = dir.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QString error;
    QVERIFY(!reader(path, &error));
    QVERIFY2(error.contains("Cannot open file " + path + ": not a regular file"),
             qPrintable(error));
    QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile()); // left as it was
#else
    QSKIP("FIFOs are POSIX only");
#endif
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
