// The production record on a station: a line that could not be written whole leaves nothing
// behind, and a record rotated away gets the next lines in a new file.

#include "ProductionRecord.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

class TestProductionRecord : public QObject
{
    Q_OBJECT

    static QJsonObject Line(int unit, int padding = 0)
    {
        return QJsonObject{{"unit", unit}, {"padding", QString(padding, QLatin1Char('x'))}};
    }

private slots:
    // A disk that fills up halfway through a line (here: the file size limit) must not leave
    // half a line that the next line, from this or any process, would be glued to.
    void failedAppend_isCutBack_nextLineWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("record.jsonl");
        RecordFile record;
        QString error;
        QVERIFY(record.Open(path, &error));
        QVERIFY(record.Append(Line(1), &error));
        const QByteArray before = ReadTestFile(path);

        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit tight = old;
        tight.rlim_cur = rlim_t(before.size() + 20); // room for part of the next line only
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool appended = record.Append(Line(2, 200), &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_DFL);

        QVERIFY(!appended);
        QVERIFY2(error.startsWith("Cannot write to record file " + path), qPrintable(error));
        QCOMPARE(ReadTestFile(path), before);
        QVERIFY(record.Append(Line(3), &error));
        const QList<QByteArray> lines = ReadTestFile(path).split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the empty rest after the last end
        for (const QByteArray &line : lines.mid(0, 2))
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value("unit").toInt(), 3);
    }

    // Log rotation renames the record away; the next line starts the new file.
    void rotatedRecord_newLinesGoToTheNewFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("record.jsonl");
        RecordFile record;
        QString error;
        QVERIFY(record.Open(path, &error));
        QVERIFY(record.Append(Line(1), &error));
        QVERIFY(QFile::rename(path, path + ".1"));
        QVERIFY(record.Append(Line(2), &error));
        QCOMPARE(ReadTestFile(path + ".1").count('\n'), 1);
        QCOMPARE(ReadTestFile(path), QByteArray("{\"padding\":\"\",\"unit\":2}\n"));
    }

    // Appends answer once each, in order, from the event loop and never inside the call; a
    // context gone by then hears nothing, and its lines are written all the same.
    void asynchronousAppends_answerOnceInOrder_neverToAContextGone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("record.jsonl");
        RecordFile file;
        QString error;
        QVERIFY(file.Open(path, &error));
        QList<int> answered;
        int late = 0;
        {
            FileProductionRecord record(file, path);
            QCOMPARE(record.Name(), path);
            QObject context;
            auto gone = std::make_unique<QObject>();
            for (int i = 0; i < 50; ++i) {
                record.Append(Line(i), &context, [&answered, i](const QString &failure) {
                    QVERIFY(failure.isEmpty());
                    answered << i;
                });
                record.Append(Line(100 + i), gone.get(), [&late](const QString &) { ++late; });
            }
            QVERIFY(answered.isEmpty());
            gone.reset();
            QTRY_COMPARE(answered.size(), 50);
            QTest::qWait(50);
        }
        QCOMPARE(late, 0);
        for (int i = 0; i < answered.size(); ++i)
            QCOMPARE(answered[i], i);
        const QList<QByteArray> lines = ReadTestFile(path).split('\n');
        QCOMPARE(lines.size(), 101);
        for (int i = 0; i < 50; ++i) {
            QCOMPARE(QJsonDocument::fromJson(lines[2 * i]).object().value("unit").toInt(), i);
            QCOMPARE(QJsonDocument::fromJson(lines[2 * i + 1]).object().value("unit").toInt(),
                     100 + i);
        }
    }

    void recordThatCannotBeWritten_isAnErrorNamingIt()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("record.jsonl");
        RecordFile record;
        QString error;
        QVERIFY(record.Open(path, &error));
        // Replaced by a folder after the check: every append fails, and says where.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        QVERIFY(!record.Append(Line(1), &error));
        QVERIFY2(error.startsWith("Cannot open record file " + path), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestProductionRecord)
#include "tst_productionrecord.moc"
