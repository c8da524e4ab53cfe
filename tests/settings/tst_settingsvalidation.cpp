#include "settings/SettingsValidation.h"

#include <QTest>

namespace {

SettingsSnapshot ValidControls()
{
    SettingsSnapshot s;
    s.ip = {"192", "168", "0", "100"};
    s.gateway = {"192", "168", "0", "1"};
    s.submask = {"255", "255", "255", "0"};
    s.client = {"10", "0", "0", "5"};
    s.updatePeriod = 30;
    s.serverTimeout = 60;
    return s;
}

const char *const kIp = "Invalid IP Address";
const char *const kGateway = "Invalid Gateway Address";
const char *const kSubmask = "Invalid Submask";
const char *const kClient = "Invalid Client Address";
const char *const kTimes = "Connect Timeout must be greater than Connect Update Period";

} // namespace

class TestSettingsValidation : public QObject
{
    Q_OBJECT

private slots:
    void textToInt32_accepted_data();
    void textToInt32_accepted();
    void textToInt32_refused_data();
    void textToInt32_refused();
    void validate_data();
    void validate();
};

void TestSettingsValidation::textToInt32_accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int32_t>("value");
    QTest::newRow("300") << "300" << 300;
    QTest::newRow("-5") << "-5" << -5;
    QTest::newRow("+5") << "+5" << 5;
    QTest::newRow("007") << "007" << 7;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("$FF") << "$FF" << 255;
    QTest::newRow("x1f") << "x1f" << 31;
    QTest::newRow("X1F") << "X1F" << 31;
    QTest::newRow("0x1f") << "0x1f" << 31;
    QTest::newRow("0X1F") << "0X1F" << 31;
    QTest::newRow("$FFFFFFFF") << "$FFFFFFFF" << -1;
    QTest::newRow("$80000000") << "$80000000" << int32_t(-2147483647 - 1);
    QTest::newRow("leading spaces") << "   12" << 12;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << int32_t(-2147483647 - 1);
    QTest::newRow("many leading zeros") << "000000000000000000000042" << 42;
}

void TestSettingsValidation::textToInt32_accepted()
{
    QFETCH(QString, text);
    QFETCH(int32_t, value);
    int32_t result = 12345;
    QVERIFY(TextToInt32(text, &result));
    QCOMPARE(result, value);
}

void TestSettingsValidation::textToInt32_refused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("1.5") << "1.5";
    QTest::newRow("12a") << "12a";
    QTest::newRow("empty") << "";
    QTest::newRow("trailing space") << "12 ";
    QTest::newRow("spaces only") << "   ";
    QTest::newRow("tab before") << "\t12";
    QTest::newRow("dollar alone") << "$";
    QTest::newRow("0x alone") << "0x";
    QTest::newRow("sign alone") << "-";
    QTest::newRow("two signs") << "+-1";
    QTest::newRow("one above largest") << "2147483648";
    QTest::newRow("one below smallest") << "-2147483649";
    QTest::newRow("far beyond range") << "99999999999999999999999";
    QTest::newRow("nine hex digits") << "$000000001";
    QTest::newRow("not a hex digit") << "$FG";
    QTest::newRow("signed hex") << "-$FF";
    QTest::newRow("space after prefix") << "$ FF";
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\u0663");
    QTest::newRow("letter") << "x";
}

void TestSettingsValidation::textToInt32_refused()
{
    QFETCH(QString, text);
    int32_t result = 12345;
    QVERIFY(!TextToInt32(text, &result));
    QCOMPARE(result, 12345);
}

void TestSettingsValidation::validate_data()
{
    QTest::addColumn<SettingsSnapshot>("controls");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("initial state fails five times")
        << SettingsSnapshot() << QStringList{kIp, kGateway, kSubmask, kClient, kTimes};
    QTest::newRow("valid") << ValidControls() << QStringList();

    SettingsSnapshot s = ValidControls();
    s.updatePeriod = 59;
    s.serverTimeout = 60;
    QTest::newRow("59 before 60 passes") << s << QStringList();
    s.updatePeriod = 60;
    QTest::newRow("60 and 60 fail") << s << QStringList{kTimes};
    s.updatePeriod = 61;
    QTest::newRow("61 after 60 fails") << s << QStringList{kTimes};

    s = ValidControls();
    s.clientEnabled = false;
    s.client = {"", "", "", ""};
    QTest::newRow("client off: empty client edits pass") << s << QStringList();
    s.clientEnabled = true;
    QTest::newRow("client on: empty client edits fail") << s << QStringList{kClient};

    s = ValidControls();
    s.dhcpEnabled = true;
    s.useBroadcast = false;
    s.ip = {"", "", "", ""};
    QTest::newRow("dhcp on: empty ip still fails") << s << QStringList{kIp};

    s = ValidControls();
    s.ip = {"10", "x", "0", "1"};
    QTest::newRow("one bad ip edit fails once") << s << QStringList{kIp};
    s.ip = {"x", "x", "x", "x"};
    QTest::newRow("four bad ip edits fail once") << s << QStringList{kIp};
    s.ip = {"999", "0", "0", "1"};
    QTest::newRow("value is not examined") << s << QStringList();
    s.ip = {"1", "2", "3", "4x"};
    QTest::newRow("last edit checked too") << s << QStringList{kIp};

    s = ValidControls();
    s.gateway[2] = " 12";
    QTest::newRow("gateway leading space passes") << s << QStringList();
    s.gateway[2] = "12 ";
    QTest::newRow("gateway trailing space fails") << s << QStringList{kGateway};

    s = ValidControls();
    s.submask[3] = "$FFFFFFFF";
    QTest::newRow("hex submask passes") << s << QStringList();
    s.submask[3] = "1.5";
    QTest::newRow("submask fails alone") << s << QStringList{kSubmask};

    s = ValidControls();
    s.gateway[0] = "";
    s.updatePeriod = 100;
    QTest::newRow("later groups still tested after a failure")
        << s << QStringList{kGateway, kTimes};
}

void TestSettingsValidation::validate()
{
    QFETCH(SettingsSnapshot, controls);
    QFETCH(QStringList, log);
    QCOMPARE(ValidateSettings(controls), log);
}

QTEST_GUILESS_MAIN(TestSettingsValidation)
#include "tst_settingsvalidation.moc"
