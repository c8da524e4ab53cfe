#include "settings/SettingsCompare.h"

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
        QCOMPARE(texts, (QStringList{QString("IP Address 10.0.0.5 \u2192 10.0.0.6"),
                                     QString("Baud Rate 19200 \u2192 9600"),
                                     QString("Timed off \u2192 on"),
                                     QString("Port Number 3012 \u2192 4001")}));
        QVERIFY(CompareSettings(after, after).isEmpty());
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
                                                 "Use Broadcast Address", "Enable Client", "Timed",
                                                 "Use CR/LF", "Enable Watchdog"};
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
