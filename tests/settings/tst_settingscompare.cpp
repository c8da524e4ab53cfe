#include "settings/SettingsCompare.h"
#include "settings/SettingsLineCompare.h"

#include <QRandomGenerator>

#include <QTest>

class TestSettingsCompare : public QObject
{
    Q_OBJECT

private slots:
    void differences_namedInPageOrder_asTheOperatorReadsThem()
    {
        SettingsSnapshot before;
        before.ip = {"10", "0", "0", "5"};
        before.baudIndex = 3;
        SettingsSnapshot after = before;
        after.clientPort = 4001;
        after.ip[3] = "6";
        after.baudIndex = 2;
        after.serialTimed = true;
        QStringList texts;
        for (const SettingsDifference &d : CompareSettings(before, after))
            texts << d.Text();
        QCOMPARE(texts,
                 (QStringList{QString("IP Address 10.0.0.5 \u2192 10.0.0.6"),
                              QString("Baud Rate 19200 \u2192 9600"),
                              // as the unit holds it: Timed on is CR/LF off
                              QString("Use CR/LF on \u2192 off"), QString("Timed off \u2192 on"),
                              QString("Port Number 3012 \u2192 4001")}));
        QVERIFY(CompareSettings(after, after).isEmpty());
    }

    void spellingsOfOneValue_noDifference_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("address with leading zeros") << "ip";
        QTest::newRow("timed interval within one step of ten") << "bt";
        QTest::newRow("no baud rate chosen is 19200") << "bb";
        QTest::newRow("both line-end boxes off is CR/LF") << "crlf";
    }
    void spellingsOfOneValue_noDifference()
    {
        QFETCH(QString, field);
        SettingsSnapshot a;
        a.ip = {"10", "0", "0", "5"};
        a.baudIndex = 3;
        a.serialCrlf = true;
        SettingsSnapshot b = a;
        if (field == "ip")
            b.ip = {"010", "000", "0", "05"};
        if (field == "bt")
            b.serialTimedInterval = 25;
        if (field == "bb")
            b.baudIndex = -1;
        if (field == "crlf")
            b.serialCrlf = false;
        QVERIFY(CompareSettings(a, b).isEmpty());
        QVERIFY(CompareSettingsLines(a, b, SettingsLineCodes({"ni", "bt", "bb", "eo"})).isEmpty());
    }

    // The window's marks and verify's lines are one comparison: over many random pairs of
    // settings, a line is named exactly when a field it carries is marked, and the two lines
    // named differ.
    void marksAndLines_neverDisagree()
    {
        QRandomGenerator random(7);
        const QStringList codes{"ax1", "ax2", "ax3", "ax4", "ba", "bb", "bh",
                                "bj",  "bt",  "eo",  "nc",  "ng", "ni", "ns"};
        auto pick = [&random](int n) { return int(random.bounded(n)); };
        auto randomSettings = [&] {
            SettingsSnapshot s;
            for (auto *row : {&s.ip, &s.gateway, &s.submask, &s.client})
                for (QString &box : *row)
                    box = pick(4) == 0 ? QString("0%1").arg(pick(3)) : QString::number(pick(3));
            for (int &h : s.hysteresis)
                h = pick(3);
            s.clientPort = 3012 + pick(2);
            s.serverTimeout = 60 + pick(2);
            s.updatePeriod = 60 + pick(2);
            s.serialTimedInterval = 20 + pick(15);
            s.baudIndex = pick(6) - 1;
            s.dhcpEnabled = pick(2);
            s.useBroadcast = pick(2);
            s.clientEnabled = pick(2);
            s.serialTimed = pick(2);
            s.serialCrlf = !s.serialTimed && pick(2);
            s.enableWatchdog = pick(2);
            return s;
        };
        int differing = 0;
        for (int i = 0; i < 2000; ++i) {
            const SettingsSnapshot a = randomSettings();
            // Often the same settings, or the same spelled another way.
            SettingsSnapshot b = pick(3) == 0 ? randomSettings() : a;
            if (pick(2) == 0)
                b.ip[size_t(pick(4))].prepend('0');
            if (pick(2) == 0)
                b.serialTimedInterval = b.serialTimedInterval / 10 * 10 + pick(10);
            if (pick(4) == 0 && (b.baudIndex == 3 || b.baudIndex == -1))
                b.baudIndex = 2 - b.baudIndex;
            if (pick(4) == 0 && !b.serialTimed)
                b.serialCrlf = !b.serialCrlf;
            QStringList marked;
            for (const SettingsDifference &d : CompareSettings(a, b)) {
                QVERIFY(d.before != d.after);
                if (!marked.contains(d.Code()))
                    marked << d.Code();
            }
            QStringList named;
            for (const SettingsLineDifference &d : CompareSettingsLines(a, b, codes)) {
                QVERIFY2(d.expected != d.actual, qPrintable(d.expected));
                named << d.code;
            }
            std::sort(marked.begin(), marked.end());
            std::sort(named.begin(), named.end());
            QCOMPARE(named, marked);
            differing += named.isEmpty() ? 0 : 1;
        }
        QVERIFY(differing > 100 && differing < 2000); // both outcomes were tried
    }

    void lineCodes_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("hysteresis") << "AX3" << QStringList{"Analogue Input 3 Hysteresis"};
        QTest::newRow("port") << "ba" << QStringList{"Port Number"};
        QTest::newRow("target") << "nc" << QStringList{"Target IP Address"};
        QTest::newRow("switches") << "eo"
                                  << QStringList{"Get Address Automatically",
                                                 "Use Broadcast Address",
                                                 "Enable Client",
                                                 "Timed",
                                                 "Use CR/LF",
                                                 "Enable Watchdog"};
        QTest::newRow("no setting") << "zc" << QStringList{};
        QTest::newRow("no such input") << "ax5" << QStringList{};
    }

    void lineCodes()
    {
        QFETCH(QString, code);
        QFETCH(QStringList, fields);
        QStringList names;
        for (SettingsField field : FieldsOfLineCode(code))
            names << SettingsFieldName(field);
        QCOMPARE(names, fields);
    }
};

QTEST_MAIN(TestSettingsCompare)
#include "tst_settingscompare.moc"
