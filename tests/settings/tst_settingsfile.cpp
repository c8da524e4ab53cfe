#include "settings/DateTimeText.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLines.h"

#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

// One line per update, so whole load results compare in one go.
QString Describe(const SettingsUpdate &u)
{
    const auto dotted = [&u] {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(u.dotted[0])
            .arg(u.dotted[1])
            .arg(u.dotted[2])
            .arg(u.dotted[3]);
    };
    switch (u.kind) {
    case SettingsUpdate::Kind::None:
        return u.dottedParsed ? "none " + dotted() : QStringLiteral("none");
    case SettingsUpdate::Kind::Spin:
        return QStringLiteral("spin %1 %2").arg(int(u.spin)).arg(u.value);
    case SettingsUpdate::Kind::Baud:
        return QStringLiteral("baud %1").arg(u.baudIndex);
    case SettingsUpdate::Kind::Options:
        return QStringLiteral("eo %1%2%3%4%5")
            .arg(int(u.dhcpEnabled))
            .arg(int(u.useBroadcast))
            .arg(int(u.clientEnabled))
            .arg(int(u.timed))
            .arg(int(u.enableWatchdog));
    case SettingsUpdate::Kind::Mac:
        return "mac " + u.macText;
    case SettingsUpdate::Kind::Address:
        return QStringLiteral("address %1 ").arg(int(u.group)) + dotted();
    }
    return QString();
}

QStringList Describe(const QList<SettingsUpdate> &updates)
{
    QStringList out;
    for (const SettingsUpdate &u : updates)
        out << Describe(u);
    return out;
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

const QByteArray kInitialFile = "ax15\r\n\r\nax25\r\n\r\nax35\r\n\r\nax45\r\n\r\nba3012\r\n\r\n"
                                "bb15\r\n\r\nbh60\r\n\r\nbj60\r\n\r\nbt2\r\n\r\n"
                                "eo0001100000000000\r\n\r\nnc...\r\n\r\nng...\r\n\r\n"
                                "ni...\r\n\r\nns...\r\n\r\nzc\r\n\r\n";

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void save_initialState_writes30Lines();
    void save_unwritableTarget_failsWithMessage();
    void load_savedInitialState_givesBackTheSettings();
    void load_lineEnds_data();
    void load_lineEnds();
    void load_emptyFile_emptiesTheQueue();
    void load_repeatsIgnoringCase_applyOnce_data();
    void load_repeatsIgnoringCase_applyOnce();
    void load_twoLinesOfOneCode_laterSortingDecides_data();
    void load_twoLinesOfOneCode_laterSortingDecides();
    void load_missingFile_changesNothing();
    void load_binaryAndHugeInput_isTakenWhole();
    void sortedQueue_matchesOneByOneInsertion();
    void dateTimeText_isShortDateBlankLongTime();
};

void TestSettingsFile::save_initialState_writes30Lines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.txt");
    CommandQueue queue;
    BuildSettingsLines(SettingsSnapshot(), true, queue);
    QString error;
    QVERIFY(SaveSettingsFile(path, queue, &error));
    QCOMPARE(ReadAll(path), kInitialFile);
}

void TestSettingsFile::save_unwritableTarget_failsWithMessage()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/config.txt");
    CommandQueue queue;
    BuildSettingsLines(SettingsSnapshot(), true, queue);
    QString error;
    QVERIFY(!SaveSettingsFile(path, queue, &error));
    QCOMPARE(error, "Cannot create file " + path);
}

void TestSettingsFile::load_savedInitialState_givesBackTheSettings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.txt");
    QVERIFY(WriteAll(path, kInitialFile));
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    QString error;
    QVERIFY(LoadSettingsFile(path, queue, &updates, &error));
    // The empty lines collapse into one empty entry, which sorts first and is skipped.
    QCOMPARE(queue.Count(), 16);
    QCOMPARE(queue.At(0), QString());
    QCOMPARE(queue.At(15), QString("zc"));
    const QStringList expected{"spin 0 5",          "spin 1 5",          "spin 2 5",
                               "spin 3 5",          "spin 4 3012",       "baud 3",
                               "spin 5 60",         "spin 6 60",         "spin 7 20",
                               "eo 01100",          "address 3 0.0.0.0", "address 1 0.0.0.0",
                               "address 0 0.0.0.0", "address 2 0.0.0.0", "none"};
    QCOMPARE(Describe(updates), expected);
}

void TestSettingsFile::load_lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF") << QByteArray("bh120\r\nax17\r\nni1.2.3.4\r\n");
    QTest::newRow("LF") << QByteArray("bh120\nax17\nni1.2.3.4\n");
    QTest::newRow("CR") << QByteArray("bh120\rax17\rni1.2.3.4\r");
    QTest::newRow("mixed") << QByteArray("bh120\rax17\r\nni1.2.3.4\n");
    QTest::newRow("no final end") << QByteArray("bh120\r\nax17\r\nni1.2.3.4");
    QTest::newRow("other order") << QByteArray("ni1.2.3.4\nbh120\nax17");
}

void TestSettingsFile::load_lineEnds()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("config.txt");
    QVERIFY(WriteAll(path, bytes));
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    QString error;
    QVERIFY(LoadSettingsFile(path, queue, &updates, &error));
    QCOMPARE(queue.Items(), (QStringList{"ax17", "bh120", "ni1.2.3.4"}));
    QCOMPARE(Describe(updates), (QStringList{"spin 0 7", "spin 5 120", "address 0 1.2.3.4"}));
}

void TestSettingsFile::load_emptyFile_emptiesTheQueue()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("empty.txt");
    QVERIFY(WriteAll(path, QByteArray()));
    CommandQueue queue;
    queue.Add("ax11\r\n");
    QList<SettingsUpdate> updates{SettingsUpdate()};
    QString error;
    QVERIFY(LoadSettingsFile(path, queue, &updates, &error));
    QVERIFY(queue.IsEmpty());
    QVERIFY(updates.isEmpty());
}

void TestSettingsFile::load_repeatsIgnoringCase_applyOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("queue");
    QTest::newRow("same line twice") << QByteArray("ax17\r\nax17\r\n") << QStringList{"ax17"};
    QTest::newRow("case variant") << QByteArray("ax17\r\nAX17\r\n") << QStringList{"ax17"};
    QTest::newRow("case variant first keeps its spelling")
        << QByteArray("AX17\nax17\nAx17") << QStringList{"AX17"};
}

void TestSettingsFile::load_repeatsIgnoringCase_applyOnce()
{
    QFETCH(QByteArray, bytes);
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(bytes, queue, &updates);
    QTEST(queue.Items(), "queue");
    QCOMPARE(Describe(updates), QStringList{"spin 0 7"});
}

void TestSettingsFile::load_twoLinesOfOneCode_laterSortingDecides_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("last");
    QTest::newRow("ni 10 then 192")
        << QByteArray("ni10.0.0.1\r\nni192.168.0.1\r\n") << "address 0 192.168.0.1";
    QTest::newRow("ni 192 then 10")
        << QByteArray("ni192.168.0.1\r\nni10.0.0.1\r\n") << "address 0 192.168.0.1";
    QTest::newRow("bh 90 sorts after bh120") << QByteArray("bh90\nbh120\n") << "spin 5 90";
}

void TestSettingsFile::load_twoLinesOfOneCode_laterSortingDecides()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, last);
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(bytes, queue, &updates);
    QCOMPARE(updates.size(), 2);
    QCOMPARE(Describe(updates.last()), last);
}

void TestSettingsFile::load_missingFile_changesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("no-such-file.txt");
    CommandQueue queue;
    queue.Add("ax11\r\n");
    QList<SettingsUpdate> updates{SettingsUpdate()};
    QString error;
    QVERIFY(!LoadSettingsFile(path, queue, &updates, &error));
    QCOMPARE(error, "Cannot open file " + path);
    QCOMPARE(queue.Items(), QStringList{"ax11\r\n"});
    QCOMPARE(updates.size(), 1);
}

void TestSettingsFile::load_binaryAndHugeInput_isTakenWhole()
{
    QByteArray bytes = "bh" + QByteArray(1 << 20, '9') + "\r\n";
    for (int i = 100000; i > 0; --i)
        bytes += "x" + QByteArray::number(i) + "\n";
    for (int b = 1; b < 256; ++b)
        bytes += "ni" + QByteArray(3, char(b)) + ".2\r\n";
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(bytes, queue, &updates);
    QVERIFY(queue.Count() > 100000 + 200);
    for (int i = 1; i < queue.Count(); ++i)
        QVERIFY(SortedStringList::Compare(queue.At(i - 1), queue.At(i)) < 0);
    // Bytes 10 and 13 split their line and leave empty lines, which give no update.
    QCOMPARE(queue.At(0), QString());
    QCOMPARE(updates.size(), queue.Count() - 1);
    QVERIFY(Describe(updates).contains("spin 5 2147483647"));
}

// The fast path must keep exactly what one-by-one sorted insertion keeps, spelling included.
void TestSettingsFile::sortedQueue_matchesOneByOneInsertion()
{
    QRandomGenerator random(20261209);
    const QString letters = QStringLiteral("aAbBzZ.0\xe9\xc9");
    QStringList lines;
    for (int i = 0; i < 2000; ++i) {
        QString line;
        const int length = random.bounded(4);
        for (int c = 0; c < length; ++c)
            line += letters.at(random.bounded(int(letters.size())));
        lines << line;
    }
    CommandQueue expected;
    for (const QString &line : lines)
        expected.Add(line);
    QCOMPARE(SortedQueueFromLines(lines).Items(), expected.Items());
}

void TestSettingsFile::dateTimeText_isShortDateBlankLongTime()
{
    const QDateTime when(QDate(2026, 3, 7), QTime(14, 5, 9));
    const QLocale locale = QLocale::system();
    QCOMPARE(LocalDateTimeText(when), locale.toString(QDate(2026, 3, 7), QLocale::ShortFormat) +
                                          " " +
                                          locale.toString(QTime(14, 5, 9), QLocale::LongFormat));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
