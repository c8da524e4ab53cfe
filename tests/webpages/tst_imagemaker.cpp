#include "support/TestFiles.h"
#include "webpages/ImageMaker.h"

#include <QtTest>

namespace {

// Stands in for the image builder: notes that it ran, and packs the pages it finds by writing
// their bytes one after another as the image.
const char kStandInBuilder[] = "#!/bin/sh\n"
                               "dir=$(dirname \"$0\")\n"
                               "touch \"$dir/builder-ran\"\n"
                               "cat \"$1\"/* > \"$2\"\n";

} // namespace

class TestImageMaker : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    QString m_builder;
    QList<ImageMakerResult> m_results;

    QString page(const QString &relative, const QByteArray &bytes)
    {
        const QString path = m_dir->filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        WriteTestFile(path, bytes);
        return path;
    }
    // Everything in `folder` and below but the folders themselves.
    static QStringList filesUnder(const QString &folder)
    {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        m_builder = m_dir->filePath("bin/MPFS.EXE");
        QVERIFY(QDir().mkpath(m_dir->filePath("bin")));
        QVERIFY(WriteTestFile(m_builder, kStandInBuilder));
        QVERIFY(QFile::setPermissions(m_builder, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(m_dir->filePath("work")));
        m_results.clear();
    }
    void cleanup() { delete m_dir; }

    void sharedPageName_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("shared"); // the two entries named; empty for none
        QTest::newRow("all names differ")
            << QStringList{"/a/index.htm", "/a/inputs.cgi", "/b/status.htm"} << QStringList();
        QTest::newRow("same name, two folders") << QStringList{"/a/index.htm", "/b/index.htm"}
                                                << QStringList{"/a/index.htm", "/b/index.htm"};
        QTest::newRow("letter case only") << QStringList{"/a/Index.HTM", "/b/index.htm"}
                                          << QStringList{"/a/Index.HTM", "/b/index.htm"};
        QTest::newRow("name is a folder's name elsewhere")
            << QStringList{"/index.htm/a.htm", "/b/index.htm"} << QStringList();
        QTest::newRow("three of a name: the first two")
            << QStringList{"/c/x.htm", "/a/x.htm", "/b/x.htm"}
            << QStringList{"/a/x.htm", "/b/x.htm"};
    }
    void sharedPageName()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, shared);
        PageFileList list;
        ReplacePageList(&list, entries);
        const SharedPageName found = FindSharedPageName(list);
        QCOMPARE(found.Found(), !shared.isEmpty());
        if (found.Found())
            QCOMPARE((QStringList{found.first, found.second}), shared);
    }

    void pagesSharingAName_refusedBeforeAnythingIsCopiedOrBuilt()
    {
        ImageMaker maker;
        connect(&maker, &ImageMaker::Finished, this,
                [this](const ImageMakerResult &result) { m_results << result; });
        PageFileList list;
        const QString first = page("one/index.htm", "first");
        const QString second = page("two/INDEX.htm", "second");
        ReplacePageList(&list, {second, first, page("one/a.htm", "a")});
        QVERIFY(maker.Start(m_builder, list, m_dir->filePath("work")));
        // Reported from inside Start, so the window can show it at once.
        QCOMPARE(m_results.size(), 1);
        const ImageMakerResult &result = m_results.at(0);
        QVERIFY(!result.ok);
        QVERIFY(!maker.Running());
        for (const QString &text : {result.boxText, result.logLines.join('\n'), result.message})
            QVERIFY2(text.contains(first) && text.contains(second), qPrintable(text));
        QVERIFY(filesUnder(m_dir->filePath("work")).isEmpty());
        QVERIFY(!QFile::exists(m_dir->filePath("bin/builder-ran")));
    }

    void made_imageInMemory_noBuildFileLeft_data()
    {
        QTest::addColumn<bool>("ownFolder");
        QTest::newRow("the host's work folder") << false;
        QTest::newRow("a temporary folder of its own") << true;
    }
    void made_imageInMemory_noBuildFileLeft()
    {
        QFETCH(bool, ownFolder);
        const QString work = m_dir->filePath("work");
        QString madeIn;
        {
            ImageMaker maker;
            connect(&maker, &ImageMaker::Finished, this,
                    [this](const ImageMakerResult &result) { m_results << result; });
            PageFileList list;
            ReplacePageList(&list, {page("p/a.htm", "AAA"), page("q/b.htm", "BB")});
            for (int run = 1; run <= 2; ++run) { // the second run reuses the folder
                QVERIFY(maker.Start(m_builder, list, ownFolder ? QString() : work));
                QVERIFY(maker.Running());
                QTRY_COMPARE(m_results.size(), run);
                const ImageMakerResult &result = m_results.last();
                QVERIFY2(result.ok, qPrintable(result.message));
                QCOMPARE(result.image, QByteArray("AAABB"));
                madeIn = maker.WorkFolder();
                QCOMPARE(madeIn == work, !ownFolder);
                QCOMPARE(filesUnder(madeIn), QStringList());
            }
        }
        // Its own folder goes with it; the host's stays.
        QCOMPARE(QFileInfo::exists(madeIn), !ownFolder);
    }

    void missingPage_copyFailure_logBeforeBox_inTheWindowsWords()
    {
        ImageMaker maker;
        connect(&maker, &ImageMaker::Finished, this,
                [this](const ImageMakerResult &result) { m_results << result; });
        PageFileList list;
        const QString missing = m_dir->filePath("p/zz.htm");
        ReplacePageList(&list, {page("p/a.htm", "a"), missing});
        maker.Start(m_builder, list, m_dir->filePath("work"));
        QCOMPARE(m_results.size(), 1);
        const ImageMakerResult &result = m_results.at(0);
        QCOMPARE(result.boxText, QString("Error Copying Files"));
        QCOMPARE(result.logLines, QStringList{"Cannot find file " + missing});
        QVERIFY(result.logBeforeBox);
        QCOMPARE(result.message, "Error Copying Files\nCannot find file " + missing);
        QVERIFY(!QFile::exists(m_dir->filePath("bin/builder-ran")));
    }
};

QTEST_GUILESS_MAIN(TestImageMaker)
#include "tst_imagemaker.moc"
