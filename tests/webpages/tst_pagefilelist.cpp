#include "support/PageLists.h"
#include "support/TestFiles.h"
#include "webpages/PageFileList.h"

#include <QtTest>

class TestPageFileList : public QObject
{
    Q_OBJECT

private slots:
    void splitPath_data();
    void splitPath();
    void splitPath_platformDefaultMatchesItsRules();

    void load_reversedWithCaseDuplicate_givesSortedUniqueAndSavesSorted();
    void load_lines_data();
    void load_lines();
    void load_replacesPreviousEntries();
    void load_missingFile_reportsAndKeepsList();
    void save_unwritablePath_reportsCreateError();
    void saveAndLoad_nonAsciiNames_roundTrip();
    void replace_matchesInsertingInFileOrder();
    void tenThousandEntries_loadSortedAndRemoveAll();

    void removeRows_removesExactMatchesOnly();
    void removeRows_nothingListed_removesNothing();
};

void TestPageFileList::splitPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("windowsRules");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("name");

    QTest::newRow("folder and name") << "/srv/web/index.htm" << false << "/srv/web/"
                                     << "index.htm";
    QTest::newRow("no separator") << "index.htm" << false << ""
                                  << "index.htm";
    QTest::newRow("trailing separator") << "/srv/web/" << false << "/srv/web/"
                                        << "";
    QTest::newRow("root file") << "/a.cgi" << false << "/"
                               << "a.cgi";
    QTest::newRow("empty") << "" << false << ""
                           << "";
    QTest::newRow("backslash is a plain character") << "C:\\web\\a.htm" << false << ""
                                                    << "C:\\web\\a.htm";
    QTest::newRow("dots in folder, none in name") << "/v1.2/README" << false << "/v1.2/"
                                                  << "README";

    QTest::newRow("win drive and folders") << "C:\\web\\pages\\a.htm" << true << "C:\\web\\pages\\"
                                           << "a.htm";
    QTest::newRow("win drive without folder") << "C:a.htm" << true << "C:"
                                              << "a.htm";
    QTest::newRow("win drive only") << "d:" << true << "d:"
                                    << "";
    QTest::newRow("win forward slash") << "C:/web/a.htm" << true << "C:/web/"
                                       << "a.htm";
    QTest::newRow("win mixed, last separator wins")
        << "C:\\web/sub\\a.htm" << true << "C:\\web/sub\\"
        << "a.htm";
    QTest::newRow("win network share") << "\\\\host\\share\\a.cgi" << true << "\\\\host\\share\\"
                                       << "a.cgi";
    QTest::newRow("win no separator") << "index.htm" << true << ""
                                      << "index.htm";
    QTest::newRow("win trailing separator") << "C:\\web\\" << true << "C:\\web\\"
                                            << "";
    QTest::newRow("win colon later is part of the name") << "ab:c.htm" << true << ""
                                                         << "ab:c.htm";
}

void TestPageFileList::splitPath()
{
    QFETCH(QString, path);
    QFETCH(bool, windowsRules);
    QFETCH(QString, location);
    QFETCH(QString, name);

    const PagePathParts parts = SplitPagePathWithRules(path, windowsRules);
    QCOMPARE(parts.location, location);
    QCOMPARE(parts.name, name);
    QCOMPARE(parts.location + parts.name, path);
}

void TestPageFileList::splitPath_platformDefaultMatchesItsRules()
{
#ifdef Q_OS_WIN
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const QStringList paths = {QStringLiteral("C:\\web\\a.htm"), QStringLiteral("/srv/b.htm")};
    for (const QString &path : paths) {
        const PagePathParts expected = SplitPagePathWithRules(path, windows);
        const PagePathParts actual = SplitPagePath(path);
        QCOMPARE(actual.location, expected.location);
        QCOMPARE(actual.name, expected.name);
    }
}

void TestPageFileList::load_reversedWithCaseDuplicate_givesSortedUniqueAndSavesSorted()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString in = dir.filePath("in.txt");
    QVERIFY(WriteTestFile(in, "/w/d.htm\r\n/w/C.htm\r\n/w/b.htm\r\n/w/c.HTM\r\n/w/a.htm\r\n"));

    PageFileList list;
    QString error;
    QVERIFY(LoadPageList(in, &list, &error));
    QCOMPARE(list.Items(), (QStringList{"/w/a.htm", "/w/b.htm", "/w/C.htm", "/w/d.htm"}));

    const QString out = dir.filePath("out.txt");
    QVERIFY(SavePageList(out, list, &error));
    QCOMPARE(ReadTestFile(out), QByteArray("/w/a.htm\r\n/w/b.htm\r\n/w/C.htm\r\n/w/d.htm\r\n"));
}

void TestPageFileList::load_lines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("single line without end")
        << QByteArray("/w/only.htm") << QStringList{"/w/only.htm"};
    QTest::newRow("empty lines are one empty entry")
        << QByteArray("b.htm\r\n\r\na.htm\n\n") << QStringList{"", "a.htm", "b.htm"};
    QTest::newRow("NUL ends the text")
        << QByteArray("b.htm\r\na.h\0tm\r\nc.htm\r\n", 23) << QStringList{"a.h", "b.htm"};
    QTest::newRow("lone CR and LF end lines")
        << QByteArray("c\rb\na\r\n") << QStringList{"a", "b", "c"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("names in the system's encoding")
        << QByteArray("/w/\xC3\xA9t\xC3\xA9.htm\r\n")
        << QStringList{QString::fromUtf8("/w/\xC3\xA9t\xC3\xA9.htm")};
}

void TestPageFileList::load_lines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("list.txt");
    QVERIFY(WriteTestFile(path, bytes));

    PageFileList list;
    QString error;
    QVERIFY(LoadPageList(path, &list, &error));
    QCOMPARE(list.Items(), entries);
}

void TestPageFileList::load_replacesPreviousEntries()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("list.txt");
    QVERIFY(WriteTestFile(path, "/new/x.htm\r\n"));

    PageFileList list = ListOf({"/old/a.htm", "/old/b.htm"});
    QString error;
    QVERIFY(LoadPageList(path, &list, &error));
    QCOMPARE(list.Items(), QStringList{"/new/x.htm"});
}

void TestPageFileList::load_missingFile_reportsAndKeepsList()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("absent.txt");

    PageFileList list = ListOf({"/old/a.htm"});
    QString error;
    QVERIFY(!LoadPageList(path, &list, &error));
    QCOMPARE(error, QStringLiteral("Cannot open file ") + path);
    QCOMPARE(list.Items(), QStringList{"/old/a.htm"});
}

void TestPageFileList::save_unwritablePath_reportsCreateError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("no/such/folder/list.txt");

    QString error;
    QVERIFY(!SavePageList(path, ListOf({"/w/a.htm"}), &error));
    QCOMPARE(error, QStringLiteral("Cannot create file ") + path);
}

void TestPageFileList::saveAndLoad_nonAsciiNames_roundTrip()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("list.txt");
    const QStringList names{QStringLiteral("/w/\u00dcbersicht.htm"),
                            QStringLiteral("/w/\u65e5\u672c.cgi"),
                            QStringLiteral("/w/caf\u00e9 \"menu\".htm")};
    QString error;
    QVERIFY(SavePageList(path, ListOf(names), &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains(QStringLiteral("\u00dcbersicht").toLocal8Bit()));
    PageFileList loaded;
    QVERIFY(LoadPageList(path, &loaded, &error));
    QCOMPARE(loaded.Items(), ListOf(names).Items());
}

void TestPageFileList::replace_matchesInsertingInFileOrder()
{
    // Case variants scattered through the lines: the earliest spelling must survive, just as
    // when every line is inserted in turn.
    QStringList lines;
    for (int i = 0; i < 300; ++i) {
        const int key = (i * 37) % 101;
        QString line = QStringLiteral("/Web/Page%1.htm").arg(key);
        if (i % 3 == 1)
            line = line.toUpper();
        else if (i % 3 == 2)
            line = line.toLower();
        lines.append(line);
    }
    lines.append(QString());

    PageFileList oneByOne;
    for (const QString &line : std::as_const(lines))
        oneByOne.Add(line);
    PageFileList replaced = ListOf({"/stale.htm"});
    ReplacePageList(&replaced, lines);
    QCOMPARE(replaced.Items(), oneByOne.Items());
}

void TestPageFileList::tenThousandEntries_loadSortedAndRemoveAll()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray bytes;
    for (int i = 9999; i >= 0; --i)
        bytes += "/pages/f" + QByteArray::number(i).rightJustified(5, '0') + ".htm\r\n";
    bytes += "/PAGES/F00042.HTM\r\n";
    const QString path = dir.filePath("big.txt");
    QVERIFY(WriteTestFile(path, bytes));

    PageFileList list;
    QString error;
    QVERIFY(LoadPageList(path, &list, &error));
    QCOMPARE(list.Count(), 10000);
    QCOMPARE(list.At(0), QStringLiteral("/pages/f00000.htm"));
    QCOMPARE(list.At(42), QStringLiteral("/pages/f00042.htm"));
    QCOMPARE(list.At(9999), QStringLiteral("/pages/f09999.htm"));

    QList<PagePathParts> rows;
    for (const QString &entry : list.Items())
        rows.append(SplitPagePath(entry));
    QCOMPARE(RemovePageRows(&list, rows), 10000);
    QVERIFY(list.IsEmpty());
}

void TestPageFileList::removeRows_removesExactMatchesOnly()
{
    PageFileList list =
        ListOf({"/a/one.htm", "/a/two.htm", "/b/three.htm", "/b/four.htm", "/c/five.htm"});
    const QList<PagePathParts> rows = {
        {"/a/", "two.htm"},   {"/b/", "three.htm"},
        {"/b/", "three.htm"}, // same row twice: the entry goes once
        {"/C/", "five.htm"},  // differs in case: not this entry
        {"/c/", "five.htm"},
    };
    QCOMPARE(RemovePageRows(&list, rows), 3);
    QCOMPARE(list.Items(), (QStringList{"/a/one.htm", "/b/four.htm"}));
}

void TestPageFileList::removeRows_nothingListed_removesNothing()
{
    PageFileList list = ListOf({"/a/one.htm", "/a/two.htm"});
    const QList<PagePathParts> rows = {{"/a/", "ONE.htm"}, {"/z/", "two.htm"}, {"", ""}};
    QCOMPARE(RemovePageRows(&list, rows), 0);
    QCOMPARE(list.Items(), (QStringList{"/a/one.htm", "/a/two.htm"}));
}

QTEST_GUILESS_MAIN(TestPageFileList)
#include "tst_pagefilelist.moc"
