// Settings compared as the lines a write sends: what verify names.

#include "settings/SettingsLineCompare.h"
#include "settings/SettingsFile.h"

#include <QTest>

namespace {

// The settings a file's lines make, applied over the initial ones the way the window loads
// them (only what verify needs: spins, options and addresses come through the same parser).
SettingsSnapshot FromLines(const QByteArray &text)
{
    CommandQueue queue;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(text, queue, &updates);
    SettingsSnapshot s;
    for (const SettingsUpdate &u : updates) {
        switch (u.kind) {
        case SettingsUpdate::Kind::Spin:
            if (u.spin == SpinId::ClientPort)
                s.clientPort = int(u.value);
            else if (u.spin == SpinId::ServerTimeout)
                s.serverTimeout = int(u.value);
            break;
        case SettingsUpdate::Kind::Address:
            for (size_t k = 0; k < 4; ++k)
                s.address(u.group)[k] = QString::number(u.dotted[k]);
            break;
        default:
            break;
        }
    }
    return s;
}

} // namespace

class TestSettingsCompare : public QObject
{
    Q_OBJECT

private slots:
    void lineCode_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("code");
        QTest::newRow("ax") << "ax15\r\n"
                            << "ax1";
        QTest::newRow("AX4 answer") << "AX45"
                                    << "ax4";
        QTest::newRow("ba") << "ba3012"
                            << "ba";
        QTest::newRow("address") << "NI10.0.0.5"
                                 << "ni";
        QTest::newRow("eo") << "eo0001100000000000"
                            << "eo";
        QTest::newRow("zc sets nothing") << "zc"
                                         << "";
        QTest::newRow("ma is no setting") << "ma4779"
                                          << "";
        QTest::newRow("ax5") << "ax55"
                             << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void lineCode()
    {
        QFETCH(QString, line);
        QFETCH(QString, code);
        QCOMPARE(SettingsLineCode(line), code);
    }

    void lineCodes_onceEachInOrder()
    {
        QCOMPARE(SettingsLineCodes({"ba3012", "", "zc", "BA3013", "ni1.2.3.4", "# note"}),
                 (QStringList{"ba", "ni"}));
    }

    void compare_data()
    {
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QStringList>("differences");
        QTest::newRow("same") << QByteArray("ba3012\r\nni10.0.0.5\r\n")
                              << QByteArray("ba3012\r\nni10.0.0.5\r\n") << QStringList{"ba", "ni"}
                              << QStringList{};
        QTest::newRow("spelling of one value")
            << QByteArray("ni010.000.000.005\r\n") << QByteArray("NI10.0.0.5\r\n")
            << QStringList{"ni"} << QStringList{};
        QTest::newRow("two differ, in the write's order")
            << QByteArray("ni10.0.0.6\r\nba3020\r\nbh90\r\n")
            << QByteArray("ni10.0.0.5\r\nba3012\r\nbh90\r\n") << QStringList{"ni", "ba", "bh"}
            << QStringList{"ba3020/ba3012", "ni10.0.0.6/ni10.0.0.5"};
        QTest::newRow("codes outside the list are not compared")
            << QByteArray("ba3020\r\n") << QByteArray("ba3012\r\n") << QStringList{"ni"}
            << QStringList{};
    }
    void compare()
    {
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, actual);
        QFETCH(QStringList, codes);
        QFETCH(QStringList, differences);
        QStringList found;
        for (const SettingsLineDifference &d :
             CompareSettingsLines(FromLines(expected), FromLines(actual), codes))
            found << d.expected + "/" + d.actual;
        QCOMPARE(found, differences);
    }
};

QTEST_GUILESS_MAIN(TestSettingsCompare)
#include "tst_settingslinecompare.moc"
