#include "settings/SettingsLines.h"

#include <QTest>
#include <limits>

Q_DECLARE_METATYPE(SpinId)
Q_DECLARE_METATYPE(AddressGroup)
Q_DECLARE_METATYPE(SettingsUpdate::Kind)
Q_DECLARE_METATYPE(DottedNumbers)

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

QByteArray Bytes(const char *text, int size)
{
    return QByteArray(text, size);
}

DottedNumbers Dotted(int32_t a, int32_t b, int32_t c, int32_t d)
{
    return DottedNumbers{{a, b, c, d}};
}

} // namespace

class TestSettingsLines : public QObject
{
    Q_OBJECT

private slots:
    void build_initialState_gives14LinesInSendOrder();
    void build_dhcpOnClientOffTimedOff_data();
    void build_dhcpOnClientOffTimedOff();
    void build_values_areEncodedAsWritten_data();
    void build_values_areEncodedAsWritten();
    void build_replacesWhatTheQueueHeld();

    void atol_data();
    void atol();

    void parse_spinLine_data();
    void parse_spinLine();
    void parse_baudLine_data();
    void parse_baudLine();
    void parse_optionsLine_data();
    void parse_optionsLine();
    void parse_macLine_data();
    void parse_macLine();
    void parse_addressLine_data();
    void parse_addressLine();
    void parse_unrecognisedLine_changesNothing_data();
    void parse_unrecognisedLine_changesNothing();

    void dotted_data();
    void dotted();

    void spinRange_matchesTheControls();
};

void TestSettingsLines::build_initialState_gives14LinesInSendOrder()
{
    CommandQueue queue;
    BuildSettingsLines(SettingsSnapshot(), false, queue);
    const QStringList expected{"ax15\r\n",  "ax25\r\n",   "ax35\r\n",
                               "ax45\r\n",  "ba3012\r\n", "bb15\r\n",
                               "bh60\r\n",  "bj60\r\n",   "eo0001100000000000\r\n",
                               "nc...\r\n", "ng...\r\n",  "ni...\r\n",
                               "ns...\r\n", "zc\r\n"};
    QCOMPARE(queue.Items(), expected);
}

void TestSettingsLines::build_dhcpOnClientOffTimedOff_data()
{
    QTest::addColumn<bool>("all");
    QTest::addColumn<QStringList>("expected");
    const QStringList common{"ax15\r\n",   "ax25\r\n", "ax35\r\n", "ax45\r\n",
                             "ba3012\r\n", "bb15\r\n", "bh60\r\n", "bj60\r\n"};
    QTest::newRow("only what the boxes call for")
        << false << (common + QStringList{"eo0011000000000000\r\n", "zc\r\n"});
    QTest::newRow("all lines") << true
                               << (common + QStringList{"bt2\r\n", "eo0011000000000000\r\n",
                                                        "nc...\r\n", "ng...\r\n", "ni...\r\n",
                                                        "ns...\r\n", "zc\r\n"});
}

void TestSettingsLines::build_dhcpOnClientOffTimedOff()
{
    QFETCH(bool, all);
    QFETCH(QStringList, expected);
    SettingsSnapshot controls;
    controls.dhcpEnabled = true;
    controls.clientEnabled = false;
    controls.serialTimed = false;
    CommandQueue queue;
    BuildSettingsLines(controls, all, queue);
    QCOMPARE(queue.Items(), expected);
}

void TestSettingsLines::build_values_areEncodedAsWritten_data()
{
    QTest::addColumn<SettingsSnapshot>("controls");
    QTest::addColumn<QString>("line");

    SettingsSnapshot s;
    s.ip = {"192", "168", "0", "100"};
    QTest::newRow("ip edits joined by dots") << s << "ni192.168.0.100\r\n";
    s = SettingsSnapshot();
    s.gateway = {" 1a", "", "$FF", "300"};
    QTest::newRow("edit texts go out unchanged") << s << "ng 1a..$FF.300\r\n";
    s = SettingsSnapshot();
    s.client = {"10", "0", "0", "5"};
    QTest::newRow("client address") << s << "nc10.0.0.5\r\n";
    s = SettingsSnapshot();
    s.submask = {"255", "255", "255", "0"};
    QTest::newRow("submask") << s << "ns255.255.255.0\r\n";

    s = SettingsSnapshot();
    s.serialTimed = true;
    s.serialTimedInterval = 25;
    QTest::newRow("timed 25 is bt2") << s << "bt2\r\n";
    s.serialTimedInterval = 2000;
    QTest::newRow("timed 2000 is bt200") << s << "bt200\r\n";
    s.serialTimedInterval = 205;
    QTest::newRow("timed 205 is bt20") << s << "bt20\r\n";

    const int codes[] = {129, 65, 32, 15, 7};
    for (int index = -1; index <= 5; ++index) {
        s = SettingsSnapshot();
        s.baudIndex = index;
        const int code = index >= 0 && index <= 4 ? codes[index] : 15;
        QTest::addRow("baud position %d", index) << s << QString("bb%1\r\n").arg(code);
    }

    s = SettingsSnapshot();
    s.dhcpEnabled = true;
    s.useBroadcast = true;
    s.clientEnabled = true;
    s.serialTimed = true;
    s.enableWatchdog = true;
    QTest::newRow("every flag on") << s << "eo0011110010000000\r\n";
    s = SettingsSnapshot();
    s.useBroadcast = false;
    s.clientEnabled = false;
    s.serialCrlf = true;
    QTest::newRow("every flag off, CR/LF has no digit") << s << "eo0000000000000000\r\n";
    s = SettingsSnapshot();
    s.enableWatchdog = true;
    s.useBroadcast = false;
    s.clientEnabled = false;
    QTest::newRow("watchdog is digit 9") << s << "eo0000000010000000\r\n";

    s = SettingsSnapshot();
    s.hysteresis = {0, 1024, -3, 7};
    QTest::newRow("ax2 largest") << s << "ax21024\r\n";
    QTest::newRow("ax3 negative keeps its sign") << s << "ax3-3\r\n";
    QTest::newRow("ax1 zero") << s << "ax10\r\n";
    s = SettingsSnapshot();
    s.clientPort = 65535;
    s.serverTimeout = 1000;
    s.updatePeriod = 1;
    QTest::newRow("client port") << s << "ba65535\r\n";
    QTest::newRow("server timeout") << s << "bh1000\r\n";
    QTest::newRow("update period") << s << "bj1\r\n";
}

void TestSettingsLines::build_values_areEncodedAsWritten()
{
    QFETCH(SettingsSnapshot, controls);
    QFETCH(QString, line);
    CommandQueue queue;
    BuildSettingsLines(controls, true, queue);
    QCOMPARE(queue.Count(), 15);
    QVERIFY2(queue.IndexOfExact(line) >= 0, qPrintable(queue.Items().join('|')));
}

void TestSettingsLines::build_replacesWhatTheQueueHeld()
{
    CommandQueue queue;
    queue.Add("aa\r\n");
    queue.Add("zz\r\n");
    BuildSettingsLines(SettingsSnapshot(), false, queue);
    QCOMPARE(queue.Count(), 14);
    QCOMPARE(queue.IndexOfExact("aa\r\n"), -1);
    QCOMPARE(queue.IndexOfExact("zz\r\n"), -1);
    QCOMPARE(queue.At(13), QString("zc\r\n"));
}

void TestSettingsLines::atol_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int32_t>("value");
    QTest::newRow("plain") << QByteArray("12") << 12;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("no digits") << QByteArray("abc") << 0;
    QTest::newRow("stops at first non-digit") << QByteArray("12ab3") << 12;
    QTest::newRow("white space and plus") << QByteArray(" \t\n\v\f\r+7x") << 7;
    QTest::newRow("minus") << QByteArray("-5") << -5;
    QTest::newRow("sign then blank") << QByteArray("- 5") << 0;
    QTest::newRow("two signs") << QByteArray("+-3") << 0;
    QTest::newRow("leading zeros") << QByteArray("0000000000000000000012") << 12;
    QTest::newRow("largest") << QByteArray("2147483647") << kMax;
    QTest::newRow("one above largest") << QByteArray("2147483648") << kMax;
    QTest::newRow("smallest") << QByteArray("-2147483648") << kMin;
    QTest::newRow("one below smallest") << QByteArray("-2147483649") << kMin;
    QTest::newRow("very long") << QByteArray(400, '9') << kMax;
    QTest::newRow("very long negative") << ("-" + QByteArray(400, '9')) << kMin;
    QTest::newRow("stops at NUL") << Bytes("4\0"
                                           "5",
                                           3)
                                  << 4;
}

void TestSettingsLines::atol()
{
    QFETCH(QByteArray, text);
    QFETCH(int32_t, value);
    QCOMPARE(AtolSaturating(text), value);
}

void TestSettingsLines::parse_spinLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<SpinId>("spin");
    QTest::addColumn<int32_t>("value");
    QTest::newRow("ax1 reply") << QByteArray("ax15\r\n") << SpinId::Hysteresis1 << 5;
    QTest::newRow("AX2 upper") << QByteArray("AX21024") << SpinId::Hysteresis2 << 1024;
    QTest::newRow("aX3 blank then minus") << QByteArray("aX3 -7") << SpinId::Hysteresis3 << -7;
    QTest::newRow("Ax4 no number") << QByteArray("Ax4") << SpinId::Hysteresis4 << 0;
    QTest::newRow("ba") << QByteArray("ba3012") << SpinId::ClientPort << 3012;
    QTest::newRow("BA beyond range passed on")
        << QByteArray("BA70000\r\n") << SpinId::ClientPort << 70000;
    QTest::newRow("ba saturates") << QByteArray("ba99999999999") << SpinId::ClientPort << kMax;
    QTest::newRow("ba saturates low") << QByteArray("ba-99999999999") << SpinId::ClientPort << kMin;
    QTest::newRow("bA digits then letters") << QByteArray("bA12abc") << SpinId::ClientPort << 12;
    QTest::newRow("bh") << QByteArray("bh120") << SpinId::ServerTimeout << 120;
    QTest::newRow("Bj") << QByteArray("Bj45\r\n") << SpinId::UpdatePeriod << 45;
    QTest::newRow("bt is tenths") << QByteArray("bt2") << SpinId::SerialTimed << 20;
    QTest::newRow("bt1") << QByteArray("bt1") << SpinId::SerialTimed << 10;
    QTest::newRow("BT200") << QByteArray("BT200\r\n") << SpinId::SerialTimed << 2000;
    QTest::newRow("bt times ten saturates")
        << QByteArray("bt999999999") << SpinId::SerialTimed << kMax;
    QTest::newRow("bt times ten saturates low")
        << QByteArray("bt-999999999") << SpinId::SerialTimed << kMin;
    QTest::newRow("CR ends the number") << QByteArray("bh12\r34") << SpinId::ServerTimeout << 12;
    QTest::newRow("CR right after code") << QByteArray("ba\r12") << SpinId::ClientPort << 0;
    QTest::newRow("NUL ends the line") << Bytes("bh6\0"
                                                "0",
                                                5)
                                       << SpinId::ServerTimeout << 6;
    QTest::newRow("1 MB of digits")
        << ("bh" + QByteArray(1 << 20, '7')) << SpinId::ServerTimeout << kMax;
}

void TestSettingsLines::parse_spinLine()
{
    QFETCH(QByteArray, line);
    QFETCH(SpinId, spin);
    QFETCH(int32_t, value);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, SettingsUpdate::Kind::Spin);
    QCOMPARE(update.spin, spin);
    QCOMPARE(update.value, value);
    QVERIFY(!update.dottedParsed);
}

void TestSettingsLines::parse_baudLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("baudIndex");
    QTest::newRow("bb15") << QByteArray("bb15") << 3;
    QTest::newRow("bb99 unknown") << QByteArray("bb99") << 3;
    QTest::newRow("bb129") << QByteArray("bb129") << 0;
    QTest::newRow("BB65") << QByteArray("BB65\r\n") << 1;
    QTest::newRow("bB32") << QByteArray("bB32") << 2;
    QTest::newRow("Bb7") << QByteArray("Bb7") << 4;
    QTest::newRow("no value") << QByteArray("bb") << 3;
    QTest::newRow("minus 129") << QByteArray("bb-129") << 3;
    QTest::newRow("huge") << QByteArray("bb99999999999999") << 3;
}

void TestSettingsLines::parse_baudLine()
{
    QFETCH(QByteArray, line);
    QFETCH(int, baudIndex);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, SettingsUpdate::Kind::Baud);
    QCOMPARE(update.baudIndex, baudIndex);
}

void TestSettingsLines::parse_optionsLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("dhcp");
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<bool>("client");
    QTest::addColumn<bool>("timed");
    QTest::addColumn<bool>("watchdog");
    QTest::newRow("initial state")
        << QByteArray("eo0001100000000000\r\n") << false << true << true << false << false;
    QTest::newRow("dhcp timed watchdog on, broadcast off")
        << QByteArray("eo0010110010000000") << true << false << true << true << true;
    QTest::newRow("8 digits: watchdog beyond the end is off")
        << QByteArray("eo00111011") << true << true << true << false << false;
    QTest::newRow("upper case, every digit 1")
        << QByteArray("EO1111111111111111") << true << true << true << true << true;
    QTest::newRow("unused digits ignored")
        << QByteArray("eO1100001101111111") << false << false << false << false << false;
    QTest::newRow("only the code") << QByteArray("Eo") << false << false << false << false << false;
    QTest::newRow("NUL ends the digits") << Bytes("eo00111\0"
                                                  "111111111",
                                                  17)
                                         << true << true << true << false << false;
    QTest::newRow("characters other than 1 are off")
        << QByteArray("eo00x2!10o11111") << false << false << false << true << true;
}

void TestSettingsLines::parse_optionsLine()
{
    QFETCH(QByteArray, line);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, SettingsUpdate::Kind::Options);
    QTEST(update.dhcpEnabled, "dhcp");
    QTEST(update.useBroadcast, "broadcast");
    QTEST(update.clientEnabled, "client");
    QTEST(update.timed, "timed");
    QTEST(update.enableWatchdog, "watchdog");
}

void TestSettingsLines::parse_macLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("mac");
    QTest::newRow("unit's answer") << QByteArray("MA0,4,163,1,2,15,\r\n") << "00:04:A3:01:02:0F";
    QTest::newRow("all 255") << QByteArray("MA255,255,255,255,255,255,") << "FF:FF:FF:FF:FF:FF";
    QTest::newRow("fourth counted character ends a number")
        << QByteArray("MA12345,1,2,3,4,") << "4D2:05:01:02:03:04";
    QTest::newRow("fewer numbers: the end of the line ends them")
        << QByteArray("MA1,2\r\n") << "01:02:00:00:00:00";
    QTest::newRow("CR cuts the line") << QByteArray("MA1,2\r,3,4,5,6,") << "01:02:00:00:00:00";
    QTest::newRow("only the code") << QByteArray("MA") << "00:00:00:00:00:00";
    QTest::newRow("characters are not tested")
        << QByteArray("MA:,0,0,0,0,0,") << "0A:00:00:00:00:00";
    QTest::newRow("below zero shows 32-bit hex")
        << QByteArray("MA ,0,0,0,0,0,") << "FFFFFFF0:00:00:00:00:00";
    QTest::newRow("high bytes count as their code")
        << QByteArray("MA\xff\xff\xff\xff") << "38259:00:00:00:00:00";
}

void TestSettingsLines::parse_macLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, mac);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, SettingsUpdate::Kind::Mac);
    QCOMPARE(update.macText, mac);
}

void TestSettingsLines::parse_addressLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<SettingsUpdate::Kind>("kind");
    QTest::addColumn<AddressGroup>("group");
    QTest::addColumn<DottedNumbers>("dotted");
    const auto address = SettingsUpdate::Kind::Address;
    QTest::newRow("NI reply") << QByteArray("NI10.0.0.5\r\n") << address << AddressGroup::Ip
                              << Dotted(10, 0, 0, 5);
    QTest::newRow("leading zeros") << QByteArray("ni192.168.001.010") << address << AddressGroup::Ip
                                   << Dotted(192, 168, 1, 10);
    QTest::newRow("client") << QByteArray("nC1.2.3.4") << address << AddressGroup::Client
                            << Dotted(1, 2, 3, 4);
    QTest::newRow("gateway of empty edits")
        << QByteArray("Ng...") << address << AddressGroup::Gateway << Dotted(0, 0, 0, 0);
    QTest::newRow("submask") << QByteArray("ns255.255.255.0\r\n") << address
                             << AddressGroup::Submask << Dotted(255, 255, 255, 0);
    QTest::newRow("unknown second letter still parses")
        << QByteArray("nx1.2.3.4") << SettingsUpdate::Kind::None << AddressGroup::Ip
        << Dotted(1, 2, 3, 4);
    QTest::newRow("N alone") << QByteArray("N") << SettingsUpdate::Kind::None << AddressGroup::Ip
                             << Dotted(0, 0, 0, 0);
}

void TestSettingsLines::parse_addressLine()
{
    QFETCH(QByteArray, line);
    QFETCH(SettingsUpdate::Kind, kind);
    QFETCH(AddressGroup, group);
    QFETCH(DottedNumbers, dotted);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, kind);
    QVERIFY(update.dottedParsed);
    QCOMPARE(update.dotted, dotted);
    if (kind == SettingsUpdate::Kind::Address)
        QCOMPARE(update.group, group);
}

void TestSettingsLines::parse_unrecognisedLine_changesNothing_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one letter") << QByteArray("a");
    QTest::newRow("line end only") << QByteArray("\r\n");
    QTest::newRow("closing line") << QByteArray("zc\r\n");
    QTest::newRow("error answer") << QByteArray("Error\r\n");
    QTest::newRow("ax digit 5") << QByteArray("ax55");
    QTest::newRow("ax digit 0") << QByteArray("ax05");
    QTest::newRow("ay") << QByteArray("ay15");
    QTest::newRow("b unknown second") << QByteArray("bx12");
    QTest::newRow("CR at index 1 is kept") << QByteArray("b\rA12");
    QTest::newRow("mac lower case") << QByteArray("ma0,4,163,1,2,15,\r\n");
    QTest::newRow("mac Ma") << QByteArray("Ma0,4,163,1,2,15,");
    QTest::newRow("mac mA") << QByteArray("mA0,4,163,1,2,15,");
    QTest::newRow("version answer") << QByteArray("sv1.0.5-UDP\r\n");
    QTest::newRow("NUL first") << Bytes("\0"
                                        "ba12",
                                        5);
    QTest::newRow("binary") << QByteArray("\xff\x80\x01\x7f");
}

void TestSettingsLines::parse_unrecognisedLine_changesNothing()
{
    QFETCH(QByteArray, line);
    const SettingsUpdate update = ParseSettingsLine(line);
    QCOMPARE(update.kind, SettingsUpdate::Kind::None);
    QVERIFY(!update.dottedParsed);
}

void TestSettingsLines::dotted_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<DottedNumbers>("numbers");
    QTest::newRow("plain") << QByteArray("192.168.0.100") << Dotted(192, 168, 0, 100);
    QTest::newRow("leading zeros") << QByteArray("192.168.001.010") << Dotted(192, 168, 1, 10);
    QTest::newRow("three dots") << QByteArray("...") << Dotted(0, 0, 0, 0);
    QTest::newRow("three numbers") << QByteArray("10.1.2") << Dotted(10, 1, 2, 0);
    QTest::newRow("empty") << QByteArray() << Dotted(0, 0, 0, 0);
    QTest::newRow("fifth number ignored") << QByteArray("1.2.3.4.5") << Dotted(1, 2, 3, 4);
    QTest::newRow("number 4 five digits") << QByteArray("1.2.3.45678") << Dotted(1, 2, 3, 45678);
    QTest::newRow("number 4 at most five") << QByteArray("1.2.3.456789") << Dotted(1, 2, 3, 45678);
    QTest::newRow("number 4 stops at a letter") << QByteArray("1.2.3.4x9") << Dotted(1, 2, 3, 4);
    QTest::newRow("number 4 letter first") << QByteArray("1.2.3.x4") << Dotted(1, 2, 3, 0);
    QTest::newRow("number 4 stops at CR") << QByteArray("1.2.3.4\r\n") << Dotted(1, 2, 3, 4);
    QTest::newRow("letters count as digits") << QByteArray("a.1.2.3") << Dotted(49, 1, 2, 3);
    QTest::newRow("minus counts as a digit") << QByteArray("-1.2.3.4") << Dotted(-29, 2, 3, 4);
    QTest::newRow("dot as fifth character") << QByteArray("1234.5.6.7") << Dotted(1234, 5, 6, 7);
    QTest::newRow("number 1 without dot re-read")
        << QByteArray("12345.6.7.8") << Dotted(12345, 12345, 12345, 12345);
    QTest::newRow("number 2 without dot re-read")
        << QByteArray("1.234567.8.9") << Dotted(1, 23456, 23456, 23456);
    QTest::newRow("end within number 2") << QByteArray("1.2345") << Dotted(1, 2345, 0, 0);
    QTest::newRow("NUL ends the text") << Bytes("1.2\0"
                                                ".3.4",
                                                7)
                                       << Dotted(1, 2, 0, 0);
    QTest::newRow("high bytes do not overflow")
        << QByteArray(5, '\xff') << Dotted(2299977, 2299977, 2299977, 0);
}

void TestSettingsLines::dotted()
{
    QFETCH(QByteArray, text);
    QFETCH(DottedNumbers, numbers);
    QCOMPARE(ParseDottedAddress(text), numbers);
}

void TestSettingsLines::spinRange_matchesTheControls()
{
    auto same = [](SpinRange a, SpinRange b) {
        return a.minValue == b.minValue && a.maxValue == b.maxValue && a.increment == b.increment &&
               a.initial == b.initial;
    };
    QVERIFY(same(SettingsSpinRange(SpinId::Hysteresis3), {0, 1024, 1, 5}));
    QVERIFY(same(SettingsSpinRange(SpinId::ClientPort), {1, 65535, 1, 3012}));
    QVERIFY(same(SettingsSpinRange(SpinId::ServerTimeout), {1, 1000, 1, 60}));
    QVERIFY(same(SettingsSpinRange(SpinId::UpdatePeriod), {1, 1000, 1, 60}));
    QVERIFY(same(SettingsSpinRange(SpinId::SerialTimed), {20, 2000, 10, 20}));
}

QTEST_GUILESS_MAIN(TestSettingsLines)
#include "tst_settingslines.moc"
