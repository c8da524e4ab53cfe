// The traffic trace: the port wrapper that records, the text it is rendered as, the file it is
// written to as it happens and the file it is saved to.

#include "link/QtSerialPortIo.h"
#include "link/TrafficTrace.h"

#include "support/EventWait.h"
#include "support/PtyTools.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// XMODEM, checksum variant.
constexpr char SOH = 0x01;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;

QByteArray Block(int number, char fill, int checksumError = 0, bool badComplement = false)
{
    QByteArray block;
    block += SOH;
    block += char(number);
    block += char(badComplement ? number : 255 - number);
    block += QByteArray(128, fill);
    int sum = 0;
    for (int i = 0; i < 128; ++i)
        sum += static_cast<unsigned char>(fill);
    block += char((sum + checksumError) & 0xff);
    return block;
}

const QDateTime kStart(QDate(2024, 3, 5), QTime(9, 8, 7, 0));

TraceEvent At(int ms, TraceEvent::Kind kind, const QByteArray &bytes = QByteArray())
{
    TraceEvent event;
    event.kind = kind;
    event.msecsSinceEpoch = kStart.toMSecsSinceEpoch() + ms;
    event.bytes = bytes;
    return event;
}
TraceEvent Tx(int ms, const QByteArray &bytes)
{
    return At(ms, TraceEvent::Kind::Sent, bytes);
}
TraceEvent Rx(int ms, const QByteArray &bytes)
{
    return At(ms, TraceEvent::Kind::Received, bytes);
}
TraceEvent OpenAt(int ms, const QString &device, PortIo::OpenResult result)
{
    TraceEvent event = At(ms, TraceEvent::Kind::Open);
    event.device = device;
    event.openResult = result;
    return event;
}

// A port that records what it is asked and delivers what the test feeds it.
class RecordingPort : public PortIo
{
public:
    OpenResult Open(const QString &device) override
    {
        calls << QStringLiteral("open ") + device;
        return openResult;
    }
    void Close() override { calls << QStringLiteral("close"); }
    bool Write(const QByteArray &bytes) override
    {
        calls << QStringLiteral("write ") + QString::fromLatin1(bytes.toHex());
        return writeSucceeds;
    }
    void Feed(const QByteArray &bytes) { Deliver(bytes); }

    QStringList calls;
    OpenResult openResult = OpenResult::Opened;
    bool writeSucceeds = true;
};

struct Listener : TraceListener
{
    void OnTraceEvent(const TraceEvent &event) override
    {
        events << event;
        if (onEvent)
            onEvent();
    }
    QList<TraceEvent> events;
    std::function<void()> onEvent;
};

} // namespace

class TestTrafficTrace : public QObject
{
    Q_OBJECT
private slots:
    void format_data();
    void format();
    void format_newDayGetsADateLine();
    void quotedText_escapes_data();
    void quotedText_escapes();
    void tracingPort_forwardsEverythingUnchanged();
    void tracingPort_recordsOnlyWhileSomeoneListens();
    void tracingPort_listenerMayLeaveWhileTold();
    void tracingPort_onARealTerminal();
    void fileSink_writesEachLineAsItCompletes();
    void fileSink_appendsAndReportsAFolderThatIsNotThere();
    void saveTrace_writesTheWholeTrace();
    void saveTrace_failureLeavesTheOldFile();
};

void TestTrafficTrace::format_data()
{
    QTest::addColumn<QList<TraceEvent>>("events");
    QTest::addColumn<QStringList>("lines");

    using R = PortIo::OpenResult;
    QTest::newRow("command and reply")
        << QList<TraceEvent>{OpenAt(0, "/dev/ttyUSB0", R::Opened), Tx(1, "sv\r\n"),
                             Rx(42, "V1.05-UDP\r\n"), At(50, TraceEvent::Kind::Close)}
        << QStringList{"2024-03-05", "09:08:07.000  --  open /dev/ttyUSB0: opened",
                       "09:08:07.001  TX  \"sv\\r\\n\"", "09:08:07.042  RX  \"V1.05-UDP\\r\\n\"",
                       "09:08:07.050  --  close"};
    QTest::newRow("reply in pieces is one line, timed by its last piece")
        << QList<TraceEvent>{Rx(10, "V1."), Rx(12, "05-U"), Rx(15, "DP\r\n")}
        << QStringList{"2024-03-05", "09:08:07.015  RX  \"V1.05-UDP\\r\\n\""};
    QTest::newRow("two lines in one piece")
        << QList<TraceEvent>{Rx(7, "ni10.0.0.1\r\nns255.0.0.0\r\n")}
        << QStringList{"2024-03-05", "09:08:07.007  RX  \"ni10.0.0.1\\r\\n\"",
                       "09:08:07.007  RX  \"ns255.0.0.0\\r\\n\""};
    QTest::newRow("an unfinished line shows at the next event")
        << QList<TraceEvent>{Rx(5, "Err"), Tx(1000, "sv\r\n")}
        << QStringList{"2024-03-05", "09:08:07.005  RX  \"Err\"", "09:08:08.000  TX  \"sv\\r\\n\""};
    QTest::newRow("an unfinished line shows at the end")
        << QList<TraceEvent>{Rx(5, "\x01\x02noise")}
        << QStringList{"2024-03-05", "09:08:07.005  RX  \"\\x01\\x02noise\""};
    QTest::newRow("a run without line end is cut at 64 bytes")
        << QList<TraceEvent>{Rx(3, QByteArray(70, 'x'))}
        << QStringList{"2024-03-05", "09:08:07.003  RX  \"" + QString(64, 'x') + "\"",
                       "09:08:07.003  RX  \"xxxxxx\""};
    QTest::newRow("block, its ACK")
        << QList<TraceEvent>{Tx(0, "zp\r\n"), Rx(20, QByteArray(1, NAK)), Tx(30, Block(1, 'A')),
                             Rx(110, QByteArray(1, ACK))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  \"zp\\r\\n\"", "09:08:07.020  RX  NAK",
                       "09:08:07.030  TX  block 1, 128 bytes, checksum right",
                       "09:08:07.110  RX  ACK to block 1"};
    QTest::newRow("wrong checksum, NAK, resent")
        << QList<TraceEvent>{Tx(0, Block(2, char(0xff), 1)), Rx(80, QByteArray(1, NAK)),
                             Tx(90, Block(2, char(0xff)))}
        << QStringList{
               "2024-03-05",
               "09:08:07.000  TX  block 2, 128 bytes, checksum wrong (0x81, should be 0x80)",
               "09:08:07.080  RX  NAK to block 2",
               "09:08:07.090  TX  block 2, 128 bytes, checksum right"};
    QTest::newRow("number complement wrong")
        << QList<TraceEvent>{Tx(0, Block(3, 0, 0, true))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  block 3, 128 bytes, checksum right, "
                                     "number complement wrong (0x03)"};
    QTest::newRow("block 256 wraps to 0")
        << QList<TraceEvent>{Tx(0, Block(0, 'z'))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  block 0, 128 bytes, checksum right"};
    QTest::newRow("end of transfer")
        << QList<TraceEvent>{Tx(0, QByteArray(1, EOT)), Rx(1500, QByteArray(1, ACK))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  EOT", "09:08:08.500  RX  ACK to EOT"};
    QTest::newRow("cancel both ways")
        << QList<TraceEvent>{Tx(0, Block(9, 'q')), Rx(5, QByteArray(2, CAN)),
                             Tx(9, QByteArray(2, CAN))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  block 9, 128 bytes, checksum right",
                       "09:08:07.005  RX  CAN CAN to block 9", "09:08:07.009  TX  CAN CAN"};
    QTest::newRow("text before an answer byte ends there")
        << QList<TraceEvent>{Rx(4, QByteArray("junk") + ACK + "OK\r\n")}
        << QStringList{"2024-03-05", "09:08:07.004  RX  \"junk\"", "09:08:07.004  RX  ACK",
                       "09:08:07.004  RX  \"OK\\r\\n\""};
    QTest::newRow("a short piece starting with SOH is text")
        << QList<TraceEvent>{Tx(0, Block(1, 'A').left(131))}
        << QStringList{"2024-03-05",
                       "09:08:07.000  TX  \"\\x01\\x01\\xfe" + QString(128, 'A') + "\""};
    QTest::newRow("open failures and a failed write")
        << QList<TraceEvent>{OpenAt(0, "/dev/ttyS9", R::OpenFailed),
                             OpenAt(1, "/dev/pts/3", R::SettingsRefused),
                             At(2, TraceEvent::Kind::WriteFailed, "sv\r\n")}
        << QStringList{"2024-03-05", "09:08:07.000  --  open /dev/ttyS9: failed",
                       "09:08:07.001  --  open /dev/pts/3: line settings refused, closed again",
                       "09:08:07.002  TX  write failed: \"sv\\r\\n\""};
    QTest::newRow("a close ends what a block started")
        << QList<TraceEvent>{Tx(0, Block(4, 'b')), At(1, TraceEvent::Kind::Close),
                             Rx(2, QByteArray(1, ACK))}
        << QStringList{"2024-03-05", "09:08:07.000  TX  block 4, 128 bytes, checksum right",
                       "09:08:07.001  --  close", "09:08:07.002  RX  ACK"};
    QTest::newRow("nothing") << QList<TraceEvent>{} << QStringList{};
}

void TestTrafficTrace::format()
{
    QFETCH(QList<TraceEvent>, events);
    QFETCH(QStringList, lines);
    QCOMPARE(TraceFormatter::FormatAll(events), lines);
}

void TestTrafficTrace::format_newDayGetsADateLine()
{
    const QDateTime late(QDate(2024, 12, 31), QTime(23, 59, 59, 990));
    TraceEvent first = Tx(0, "sv\r\n");
    first.msecsSinceEpoch = late.toMSecsSinceEpoch();
    TraceEvent second = Rx(0, "V1\r\n");
    second.msecsSinceEpoch = late.toMSecsSinceEpoch() + 20;
    QCOMPARE(TraceFormatter::FormatAll({first, second}),
             (QStringList{"2024-12-31", "23:59:59.990  TX  \"sv\\r\\n\"", "2025-01-01",
                          "00:00:00.010  RX  \"V1\\r\\n\""}));
}

void TestTrafficTrace::quotedText_escapes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("ba3012") << "\"ba3012\"";
    QTest::newRow("cr lf tab") << QByteArray("a\r\n\tb") << "\"a\\r\\n\\tb\"";
    QTest::newRow("quote and backslash") << QByteArray("\"\\") << "\"\\\"\\\\\"";
    QTest::newRow("nul, del, high") << QByteArray("\0\x7f\xff", 3) << "\"\\x00\\x7f\\xff\"";
    QTest::newRow("empty") << QByteArray() << "\"\"";
}

void TestTrafficTrace::quotedText_escapes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(TraceFormatter::QuotedText(bytes), text);
}

void TestTrafficTrace::tracingPort_forwardsEverythingUnchanged()
{
    auto inner = std::make_unique<RecordingPort>();
    RecordingPort *port = inner.get();
    TracingPortIo tracing(std::move(inner));
    QList<QByteArray> received;
    tracing.SetReceiver([&](const QByteArray &bytes) { received << bytes; });
    Listener listener;
    for (bool listening : {false, true}) {
        if (listening)
            tracing.AddListener(&listener);
        port->calls.clear();
        received.clear();
        port->openResult = PortIo::OpenResult::SettingsRefused;
        QCOMPARE(tracing.Open("/dev/ttyUSB0"), PortIo::OpenResult::SettingsRefused);
        port->openResult = PortIo::OpenResult::Opened;
        QCOMPARE(tracing.Open("/dev/ttyUSB0"), PortIo::OpenResult::Opened);
        QVERIFY(tracing.Write(QByteArray("sv\r\n")));
        port->writeSucceeds = false;
        QVERIFY(!tracing.Write(QByteArray(1, EOT)));
        port->writeSucceeds = true;
        port->Feed(QByteArray("V1\r", 3));
        port->Feed(QByteArray(1, '\0'));
        tracing.Close();
        QCOMPARE(port->calls, (QStringList{"open /dev/ttyUSB0", "open /dev/ttyUSB0",
                                           "write 73760d0a", "write 04", "close"}));
        QCOMPARE(received, (QList<QByteArray>{QByteArray("V1\r"), QByteArray(1, '\0')}));
    }
    QCOMPARE(&tracing.Inner(), port);
}

void TestTrafficTrace::tracingPort_recordsOnlyWhileSomeoneListens()
{
    auto inner = std::make_unique<RecordingPort>();
    RecordingPort *port = inner.get();
    TracingPortIo tracing(std::move(inner));
    QStringList order;
    tracing.SetReceiver([&](const QByteArray &) { order << "delivered"; });
    Listener first;
    Listener second;
    first.onEvent = [&] { order << "recorded"; };
    QVERIFY(!tracing.HasListeners());
    tracing.Write("before\r\n");

    tracing.AddListener(&first);
    tracing.AddListener(&first); // once only
    tracing.AddListener(&second);
    QVERIFY(tracing.HasListeners());
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    tracing.Open("/dev/ttyACM0");
    tracing.Write("sv\r\n");
    port->Feed("V1\r\n");
    tracing.Close();
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    // The answer is recorded before the program sees it.
    QCOMPARE(order, (QStringList{"recorded", "recorded", "recorded", "delivered", "recorded"}));

    QCOMPARE(first.events.size(), 4);
    QCOMPARE(second.events.size(), 4);
    const TraceEvent::Kind kinds[] = {TraceEvent::Kind::Open, TraceEvent::Kind::Sent,
                                      TraceEvent::Kind::Received, TraceEvent::Kind::Close};
    qint64 previous = before;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(first.events[i].kind, kinds[i]);
        QVERIFY(first.events[i].msecsSinceEpoch >= previous);
        previous = first.events[i].msecsSinceEpoch;
    }
    QVERIFY(previous <= after);
    QCOMPARE(first.events[0].device, QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(first.events[1].bytes, QByteArray("sv\r\n"));
    QCOMPARE(first.events[2].bytes, QByteArray("V1\r\n"));

    tracing.RemoveListener(&first);
    tracing.RemoveListener(&second);
    QVERIFY(!tracing.HasListeners());
    tracing.Write("after\r\n");
    port->Feed("x");
    QCOMPARE(first.events.size(), 4);
}

void TestTrafficTrace::tracingPort_listenerMayLeaveWhileTold()
{
    TracingPortIo tracing(std::make_unique<RecordingPort>());
    Listener leaving;
    Listener staying;
    leaving.onEvent = [&] { tracing.RemoveListener(&leaving); };
    tracing.AddListener(&leaving);
    tracing.AddListener(&staying);
    tracing.Write("a");
    tracing.Write("b");
    QCOMPARE(leaving.events.size(), 1);
    QVERIFY(!staying.events.isEmpty());
    QCOMPARE(staying.events.last().bytes, QByteArray("b"));
}

void TestTrafficTrace::tracingPort_onARealTerminal()
{
    PtyPair pty;
    QVERIFY(pty.Open());
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    TracingPortIo tracing(std::make_unique<QtSerialPortIo>());
    TraceRecorder recorder;
    tracing.AddListener(&recorder);
    QByteArray received;
    tracing.SetReceiver([&](const QByteArray &bytes) { received += bytes; });

    QCOMPARE(tracing.Open(pty.slavePath), PortIo::OpenResult::Opened);
    QVERIFY(tracing.Write("sv\r\n"));
    QByteArray atUnit;
    QVERIFY(WaitFor(
        [&] {
            char buffer[64];
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0)
                atUnit += QByteArray(buffer, int(n));
            return atUnit == "sv\r\n";
        },
        5000));
    QVERIFY(WriteAll(pty.master, "V1.05-UDP\r\n", 11));
    QVERIFY(WaitFor([&] { return received == "V1.05-UDP\r\n"; }, 5000));
    tracing.Close();

    const QStringList lines = TraceFormatter::FormatAll(recorder.Events());
    QCOMPARE(lines.size(), 5);
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    QCOMPARE(lines[0], QDate::currentDate().toString(Qt::ISODate));
    QStringList rest;
    for (int i = 1; i < lines.size(); ++i) {
        QVERIFY2(stamp.match(lines[i]).hasMatch(), qPrintable(lines[i]));
        rest << lines[i].mid(14);
    }
    QCOMPARE(rest, (QStringList{"--  open " + pty.slavePath + ": opened", "TX  \"sv\\r\\n\"",
                                "RX  \"V1.05-UDP\\r\\n\"", "--  close"}));
}

void TestTrafficTrace::fileSink_writesEachLineAsItCompletes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    {
        TraceFileSink sink;
        QString error;
        QVERIFY(sink.Open(path, &error));
        QVERIFY(sink.IsOpen());
        QCOMPARE(ReadTestFile(path), QByteArray());
        sink.OnTraceEvent(Tx(0, "sv\r\n"));
        QCOMPARE(ReadTestFile(path), QByteArray("2024-03-05\n09:08:07.000  TX  \"sv\\r\\n\"\n"));
        sink.OnTraceEvent(Rx(30, "V1.0"));
        // Half a line waits for the rest.
        QCOMPARE(ReadTestFile(path).count('\n'), 2);
        sink.OnTraceEvent(Rx(31, "5"));
        QVERIFY(!sink.Failed());
    }
    // Closing writes what was waiting.
    QCOMPARE(ReadTestFile(path), QByteArray("2024-03-05\n09:08:07.000  TX  \"sv\\r\\n\"\n"
                                            "09:08:07.031  RX  \"V1.05\"\n"));
}

void TestTrafficTrace::fileSink_appendsAndReportsAFolderThatIsNotThere()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    QVERIFY(WriteTestFile(path, "earlier session\n"));
    {
        TraceFileSink sink;
        QString error;
        QVERIFY(sink.Open(path, &error));
        sink.OnTraceEvent(At(5, TraceEvent::Kind::Close));
    }
    QCOMPARE(ReadTestFile(path),
             QByteArray("earlier session\n2024-03-05\n09:08:07.005  --  close\n"));

    TraceFileSink sink;
    QString error;
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/trace.txt"));
    QVERIFY(!sink.Open(missing, &error));
    QCOMPARE(error, QStringLiteral("Cannot create file ") + missing);
    QVERIFY(!sink.IsOpen());
    sink.OnTraceEvent(Tx(0, "sv\r\n")); // ignored, no crash
}

void TestTrafficTrace::saveTrace_writesTheWholeTrace()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved.txt"));
    QVERIFY(WriteTestFile(path, "old content that is replaced\n"));
    const QList<TraceEvent> events{Tx(0, QByteArray(1, EOT)), Rx(9, "Erro")};
    QString error;
    QVERIFY(SaveTrace(path, events, &error));
    QCOMPARE(ReadTestFile(path),
             QByteArray("2024-03-05\n09:08:07.000  TX  EOT\n09:08:07.009  RX  \"Erro\"\n"));
}

void TestTrafficTrace::saveTrace_failureLeavesTheOldFile()
{
    QTemporaryDir dir;
    // A folder in the file's place cannot be replaced by a file.
    const QString path = dir.filePath(QStringLiteral("saved.txt"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("saved.txt")));
    QString error;
    QVERIFY(!SaveTrace(path, {Tx(0, "sv\r\n")}, &error));
    QCOMPARE(error, QStringLiteral("Cannot create file ") + path);
    QVERIFY(QFileInfo(path).isDir());
}

QTEST_GUILESS_MAIN(TestTrafficTrace)
#include "tst_traffictrace.moc"
