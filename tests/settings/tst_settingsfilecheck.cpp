// The strict reading of settings files a station sends: every line "Save File" can write
// passes, and each line the unit would take otherwise than the file says is named with its
// line number.

#include "settings/SettingsFile.h"
#include "settings/SettingsFileCheck.h"
#include "settings/SettingsLines.h"

#include <QRandomGenerator>
#include <QTest>

class TestSettingsFileCheck : public QObject
{
    Q_OBJECT

private slots:
    void badLine_namedWithItsNumber_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("problem");
        QTest::newRow("octet over 255")
            << "ni300.1.1.1"
            << "IP Address \"300.1.1.1\" is not four numbers from 0 to 255";
        QTest::newRow("three octets") << "ng10.0.1"
                                      << "Gateway Address \"10.0.1\"";
        QTest::newRow("octet not a number") << "ns255.255.x.0"
                                            << "Submask \"255.255.x.0\"";
        QTest::newRow("five octets") << "nc1.2.3.4.5"
                                     << "Client Address \"1.2.3.4.5\"";
        QTest::newRow("port over 65535") << "ba99999"
                                         << "Client Port 99999 is outside its range, 1 to 65535";
        QTest::newRow("port 0") << "ba0"
                                << "Client Port 0 is outside its range, 1 to 65535";
        QTest::newRow("port beyond 32 bits") << "ba99999999999"
                                             << "Client Port 99999999999 is outside its range";
        QTest::newRow("hysteresis over 1024")
            << "ax41025"
            << "Hysteresis 4 1025 is outside its range, 0 to 1024";
        QTest::newRow("timeout 0") << "bh0"
                                   << "Connect Timeout 0 is outside its range, 1 to 1000";
        QTest::newRow("period over 1000") << "bj1001"
                                          << "Update Period 1001 is outside its range, 1 to 1000";
        QTest::newRow("interval in tens, too small")
            << "bt1"
            << "Serial Timed Interval 1 is outside its range, 2 to 200";
        QTest::newRow("negative") << "ba-5"
                                  << "Client Port needs a whole number from 1 to 65535";
        QTest::newRow("blank inside") << "ax1 5"
                                      << "Hysteresis 1 needs a whole number";
        QTest::newRow("no value") << "bh"
                                  << "Connect Timeout needs a whole number";
        QTest::newRow("baud code") << "bb99"
                                   << "Baud Rate code \"99\" is none of";
        QTest::newRow("options short") << "eo0001"
                                       << "the options line needs 16 digits";
        QTest::newRow("options not binary") << "eo0001100000000002"
                                            << "the options line needs 16 digits";
        QTest::newRow("unknown code") << "xx12"
                                      << "\"xx12\" is not a settings line";
        QTest::newRow("fifth input") << "ax55"
                                     << "\"ax55\" is not a settings line";
        QTest::newRow("a MAC line") << "ma1234"
                                    << "\"ma1234\" is not a settings line";
        QTest::newRow("zc with more") << "zc1"
                                      << "\"zc1\" is not a settings line";
    }
    void badLine_namedWithItsNumber()
    {
        QFETCH(QString, line);
        QFETCH(QString, problem);
        // The bad line third, after an empty line: the number counts every line of the file.
        const QStringList lines{"ax15", "", line, "bh90"};
        const QStringList problems = SettingsFileProblems("station/cfg.txt", lines);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].startsWith("station/cfg.txt, line 3: "), qPrintable(problems[0]));
        QVERIFY2(problems[0].contains(problem), qPrintable(problems[0]));
    }

    // Whatever in-range settings the window holds, the file it saves passes the check, with the
    // codes in either case: the strict check refuses only what the unit would misread.
    void everySavedFile_passes()
    {
        QRandomGenerator random(14);
        for (int i = 0; i < 500; ++i) {
            SettingsSnapshot s;
            auto octets = [&random] {
                std::array<QString, 4> edits;
                for (QString &edit : edits)
                    edit = QString::number(random.bounded(256));
                return edits;
            };
            s.ip = octets();
            s.gateway = octets();
            s.submask = octets();
            s.client = octets();
            for (int &h : s.hysteresis)
                h = random.bounded(1025);
            s.clientPort = 1 + random.bounded(65535);
            s.serverTimeout = 1 + random.bounded(1000);
            s.updatePeriod = 1 + random.bounded(1000);
            s.serialTimedInterval = 10 * (2 + random.bounded(199));
            s.baudIndex = random.bounded(5);
            s.dhcpEnabled = random.bounded(2);
            s.clientEnabled = random.bounded(2);
            s.serialTimed = random.bounded(2);
            CommandQueue queue;
            BuildSettingsLines(s, random.bounded(2), queue);
            QStringList lines = SplitTextLinesForTest(SettingsFileBytes(queue));
            if (i % 2)
                for (QString &line : lines)
                    line = line.toUpper();
            const QStringList problems = SettingsFileProblems("saved.txt", lines);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        }
    }

    void unreadableFile_namedAsLoadNamesIt()
    {
        QString error;
        QVERIFY(!CheckSettingsFileStrictly("/nonexistent/cfg.txt", &error));
        QCOMPARE(error, QString("Cannot open file /nonexistent/cfg.txt"));
    }

private:
    static QStringList SplitTextLinesForTest(const QByteArray &bytes)
    {
        QStringList lines;
        for (const QByteArray &line : bytes.split('\n'))
            lines << QString::fromLatin1(line).remove('\r');
        return lines;
    }
};

QTEST_GUILESS_MAIN(TestSettingsFileCheck)
#include "tst_settingsfilecheck.moc"
