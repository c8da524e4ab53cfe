#include "exchanges/WriteEchoCheck.h"

#include <QTest>

Q_DECLARE_METATYPE(DottedNumbers)

namespace {

// Controls every matching answer below agrees with.
SettingsSnapshot Controls()
{
    SettingsSnapshot s;
    s.ip = {"192", "168", "0", "100"};
    s.gateway = {"192", "168", "0", "1"};
    s.submask = {"255", "255", "255", "0"};
    s.client = {"10", "0", "0", "5"};
    s.hysteresis = {5, 6, 7, 8};
    s.clientPort = 3012;
    s.serverTimeout = 60;
    s.updatePeriod = 30;
    s.serialTimedInterval = 200;
    s.baudIndex = 3;
    s.dhcpEnabled = false;
    s.useBroadcast = true;
    s.clientEnabled = true;
    s.serialTimed = false;
    s.serialCrlf = true;
    s.enableWatchdog = false;
    return s;
}

template <typename Change> SettingsSnapshot ControlsWith(Change change)
{
    SettingsSnapshot s = Controls();
    change(s);
    return s;
}

} // namespace

class TestWriteEchoCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void check_controlsDiffer_data();
    void check_controlsDiffer();
    void dotted_data();
    void dotted();
};

void TestWriteEchoCheck::check_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("messages");
    const QStringList none;

    QTest::newRow("ax1 equal") << QByteArray("AX15\r\n") << none;
    QTest::newRow("ax2 differs") << QByteArray("AX25\r\n")
                                 << QStringList{"Analogue Input 2 Hysteresis Write Error "};
    QTest::newRow("ax4 differs") << QByteArray("AX4999")
                                 << QStringList{"Analogue Input 4 Hysteresis Write Error "};
    QTest::newRow("AX5 selects nothing") << QByteArray("AX5123\r\n") << none;
    QTest::newRow("Ax lower second selects nothing") << QByteArray("Ax199") << none;
    QTest::newRow("ax lower first selects nothing") << QByteArray("ax199") << none;

    QTest::newRow("client port equal") << QByteArray("BA3012\r\n") << none;
    QTest::newRow("client port 3013")
        << QByteArray("BA3013\r\n") << QStringList{"Client Port Write Error "};
    QTest::newRow("Ba lower second still checked")
        << QByteArray("Ba3013") << QStringList{"Client Port Write Error "};
    QTest::newRow("bA lower first selects nothing") << QByteArray("bA3013") << none;

    QTest::newRow("baud 15 is position 3") << QByteArray("BB15\r\n") << none;
    QTest::newRow("baud 129 is position 0")
        << QByteArray("bb129") << QStringList(); // lower-case first letter
    QTest::newRow("baud 129 differs")
        << QByteArray("BB129") << QStringList{"Serial Port Baud Rate Write Error "};
    QTest::newRow("baud code 3 compared unchanged") << QByteArray("BB3\r\n") << none;
    QTest::newRow("baud code 4 compared unchanged")
        << QByteArray("Bb4") << QStringList{"Serial Port Baud Rate Write Error "};

    QTest::newRow("timeout equal") << QByteArray("BH60") << none;
    QTest::newRow("timeout differs")
        << QByteArray("bH61") << QStringList(); // lower-case first letter
    QTest::newRow("timeout 61") << QByteArray("BH61") << QStringList{"Timeout Write Error "};
    QTest::newRow("update period equal") << QByteArray("Bj30") << none;
    QTest::newRow("update period 31")
        << QByteArray("BJ31\r\n") << QStringList{"Update Period Write Error "};
    QTest::newRow("serial time 20 is 200") << QByteArray("BT20\r\n") << none;
    QTest::newRow("serial time 21")
        << QByteArray("Bt21") << QStringList{"Serial Time Write Error "};
    QTest::newRow("serial time huge saturates")
        << QByteArray("BT99999999999") << QStringList{"Serial Time Write Error "};
    QTest::newRow("B unknown second") << QByteArray("BX1") << none;

    QTest::newRow("eo equal") << QByteArray("EO0001100000000000\r\n") << none;
    QTest::newRow("eo two positions wrong, in position order")
        << QByteArray("EO0011100010000000\r\n")
        << QStringList{"Get Address Automatically Write Error ", "Enable Watchdog Write Error "};
    QTest::newRow("eo every checked position wrong")
        << QByteArray("EO0010010010000000")
        << QStringList{"Get Address Automatically Write Error ",
                       "Use Broadcast Address Write Error ", "Enable Client Write Error ",
                       "Serial Port Timed Write Error ", "Enable Watchdog Write Error "};
    QTest::newRow("eo unexamined positions") << QByteArray("EO1101101101111111") << none;
    QTest::newRow("eo short reply") << QByteArray("EO00011") << none;
    QTest::newRow("Eo lower second") << QByteArray("Eo1111111111111111") << none;
    QTest::newRow("eo lower first") << QByteArray("eO1111111111111111") << none;

    QTest::newRow("ip equal") << QByteArray("NI192.168.0.100\r\n") << none;
    QTest::newRow("ip octets 2 and 4")
        << QByteArray("NI192.1.0.1\r\n")
        << QStringList{"IP Address (2) Write Error ", "IP Address (4) Write Error "};
    QTest::newRow("gateway 4") << QByteArray("NG192.168.0.2")
                               << QStringList{"Gateway Address (4) Write Error "};
    QTest::newRow("submask 3") << QByteArray("NS255.255.0.0\r\n")
                               << QStringList{"Submask (3) Write Error "};
    QTest::newRow("client equal") << QByteArray("NC10.0.0.5\r\n") << none;
    QTest::newRow("client 1") << QByteArray("NC11.0.0.5")
                              << QStringList{"Client Address (1) Write Error "};
    QTest::newRow("Ni lower second") << QByteArray("Ni1.2.3.4") << none;

    QTest::newRow("closing answer") << QByteArray("zc\r\n") << none;
    QTest::newRow("error answer") << QByteArray("Error\r\n") << none;
    QTest::newRow("empty") << QByteArray() << none;
    QTest::newRow("NUL ends the answer") << QByteArray("BA30\0"
                                                       "12\r\n",
                                                       9)
                                         << QStringList{"Client Port Write Error "};
    QTest::newRow("CR ends the answer")
        << QByteArray("BA30\r12") << QStringList{"Client Port Write Error "};
    QTest::newRow("CR at index 1 is kept") << QByteArray("B\rA3013") << none;
}

void TestWriteEchoCheck::check()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, messages);
    DottedNumbers dotted{{9, 9, 9, 9}};
    QCOMPARE(CheckWriteEcho(reply, Controls(), &dotted), messages);
}

void TestWriteEchoCheck::check_controlsDiffer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<SettingsSnapshot>("controls");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("spin 205, answer 20")
        << QByteArray("BT20\r\n")
        << ControlsWith([](SettingsSnapshot &s) { s.serialTimedInterval = 205; })
        << QStringList{"Serial Time Write Error "};
    QTest::newRow("no baud selected, answer 15")
        << QByteArray("BB15\r\n") << ControlsWith([](SettingsSnapshot &s) { s.baudIndex = -1; })
        << QStringList{"Serial Port Baud Rate Write Error "};
    QTest::newRow("client box not a number")
        << QByteArray("NC0.0.0.5\r\n")
        << ControlsWith([](SettingsSnapshot &s) { s.client[0] = "abc"; })
        << QStringList{"Client Address (1) Write Error "};
    QTest::newRow("empty box against 0")
        << QByteArray("NS255.255.255.0")
        << ControlsWith([](SettingsSnapshot &s) { s.submask[3] = ""; })
        << QStringList{"Submask (4) Write Error "};
    QTest::newRow("boxes converted like validation")
        << QByteArray("NI192.168.0.100") << ControlsWith([](SettingsSnapshot &s) {
               s.ip = {"  192", "$A8", "000", "0x64"};
           })
        << QStringList();
    QTest::newRow("timed answered when timed is on")
        << QByteArray("EO0001110000000000") << ControlsWith([](SettingsSnapshot &s) {
               s.serialTimed = true;
               s.serialCrlf = false;
           })
        << QStringList();
    QTest::newRow("CR/LF answered when timed is on")
        << QByteArray("EO0001100000000000") << ControlsWith([](SettingsSnapshot &s) {
               s.serialTimed = true;
               s.serialCrlf = false;
           })
        << QStringList{"Serial Port Timed Write Error "};
    QTest::newRow("timed answered, CR/LF box also on: only timed looked at")
        << QByteArray("EO0001110000000000")
        << ControlsWith([](SettingsSnapshot &s) { s.serialTimed = true; }) << QStringList();
    QTest::newRow("CR/LF answered with both line-end boxes off: what was sent")
        << QByteArray("EO0001100000000000") << ControlsWith([](SettingsSnapshot &s) {
               s.serialTimed = false;
               s.serialCrlf = false;
           })
        << QStringList();
    QTest::newRow("timed answered with both line-end boxes off")
        << QByteArray("EO0001110000000000") << ControlsWith([](SettingsSnapshot &s) {
               s.serialTimed = false;
               s.serialCrlf = false;
           })
        << QStringList{"Serial Port Timed Write Error "};
    QTest::newRow("negative hysteresis")
        << QByteArray("AX1-4") << ControlsWith([](SettingsSnapshot &s) { s.hysteresis[0] = -4; })
        << QStringList();
}

void TestWriteEchoCheck::check_controlsDiffer()
{
    QFETCH(QByteArray, reply);
    QFETCH(SettingsSnapshot, controls);
    QFETCH(QStringList, messages);
    DottedNumbers dotted{};
    QCOMPARE(CheckWriteEcho(reply, controls, &dotted), messages);
}

void TestWriteEchoCheck::dotted_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<DottedNumbers>("dotted");
    QTest::newRow("address answer") << QByteArray("NI10.0.0.5\r\n") << DottedNumbers{{10, 0, 0, 5}};
    QTest::newRow("unknown second letter")
        << QByteArray("Nx1.2.3.4") << DottedNumbers{{1, 2, 3, 4}};
    QTest::newRow("N alone") << QByteArray("N") << DottedNumbers{{0, 0, 0, 0}};
    QTest::newRow("lower-case n keeps the numbers")
        << QByteArray("ni1.2.3.4") << DottedNumbers{{9, 9, 9, 9}};
    QTest::newRow("other answers keep the numbers")
        << QByteArray("BA3012") << DottedNumbers{{9, 9, 9, 9}};
}

void TestWriteEchoCheck::dotted()
{
    QFETCH(QByteArray, reply);
    DottedNumbers dotted{{9, 9, 9, 9}};
    CheckWriteEcho(reply, Controls(), &dotted);
    QTEST(dotted, "dotted");
}

QTEST_GUILESS_MAIN(TestWriteEchoCheck)
#include "tst_writeechocheck.moc"
