#include "link/Port1CommsUnit.h"

#include <QRandomGenerator>
#include <QTest>

// Hand-overs are recorded as they happen; block mode and the dispatcher's reaction can be
// steered per test.
class Receiver
{
public:
    Receiver()
        : comms([this] { return blockMode; },
                [this](const QByteArray &reply) {
                    replies << reply;
                    if (onDispatch)
                        onDispatch(reply);
                })
    {
        comms.Start();
    }

    bool blockMode = false;
    QList<QByteArray> replies;
    std::function<void(const QByteArray &)> onDispatch;
    Port1Comms comms;
};

class TestPort1Comms : public QObject
{
    Q_OBJECT
private slots:
    void framing_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("expected");

        const QByteArray crlf("\r\n");
        QTest::newRow("plain line") << QByteArray::fromHex("4F4B0D0A")
                                    << QList<QByteArray>{QByteArray::fromHex("4F4B0D0A")};
        const QByteArray line64 = QByteArray(62, 'a') + crlf;
        QTest::newRow("64 bytes with CR LF is handed over") << line64 << QList<QByteArray>{line64};
        QTest::newRow("65 bytes never handed over, next line normal")
            << QByteArray(63, 'b') + crlf + "OK" + crlf << QList<QByteArray>{"OK\r\n"};
        QTest::newRow("lone CR is data")
            << QByteArray::fromHex("6162 0D 6364 0D0A") << QList<QByteArray>{"ab\rcd\r\n"};
        QTest::newRow("leading LF is data")
            << QByteArray::fromHex("0A 6162 0D0A") << QList<QByteArray>{"\nab\r\n"};
        QTest::newRow("lone LF then CR LF")
            << QByteArray("a\nb\r\n") << QList<QByteArray>{"a\nb\r\n"};
        QTest::newRow("LF CR is not an end") << QByteArray("ab\n\rcd") << QList<QByteArray>{};
        QTest::newRow("tail of an over-long line becomes its own line")
            << QByteArray(70, 'x') + "AB" + crlf << QList<QByteArray>{"xxxxxAB\r\n"};
        QTest::newRow("NUL bytes are data")
            << QByteArray("a\0b\r\n", 5) << QList<QByteArray>{QByteArray("a\0b\r\n", 5)};
        QTest::newRow("several lines in one read")
            << QByteArray("AX15\r\nBA3012\r\nBB15\r\n")
            << QList<QByteArray>{"AX15\r\n", "BA3012\r\n", "BB15\r\n"};
        QTest::newRow("CR LF alone") << crlf << QList<QByteArray>{crlf};
    }

    void framing()
    {
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, expected);

        Receiver bulk;
        bulk.comms.ProcessInput(input);
        QCOMPARE(bulk.replies, expected);

        Receiver bytewise;
        for (char c : input)
            bytewise.comms.ProcessInput(QByteArray(1, c));
        QCOMPARE(bytewise.replies, expected);

        QRandomGenerator random(42);
        for (int round = 0; round < 20; ++round) {
            Receiver split;
            qsizetype pos = 0;
            while (pos < input.size()) {
                const qsizetype n = 1 + random.bounded(int(input.size() - pos));
                split.comms.ProcessInput(input.mid(pos, n));
                pos += n;
            }
            QCOMPARE(split.replies, expected);
        }
    }

    void blockMode_handsOverEveryByteAlone()
    {
        Receiver r;
        r.blockMode = true;
        r.comms.ProcessInput(QByteArray::fromHex("0606"));
        QCOMPARE(r.replies, (QList<QByteArray>{"\x06", "\x06"}));
    }

    void blockMode_askedForEveryByte_handlerSwitchTakesEffectOnNextByte()
    {
        Receiver r;
        r.onDispatch = [&r](const QByteArray &) { r.blockMode = true; };
        r.comms.ProcessInput(QByteArray("SV1.0.5-UDP\r\n\x15\x15", 15));
        QCOMPARE(r.replies, (QList<QByteArray>{"SV1.0.5-UDP\r\n", "\x15", "\x15"}));
    }

    void blockModeEnds_lineGatheringResumesWhereItWas()
    {
        Receiver r;
        r.comms.ProcessInput("AB");
        r.blockMode = true;
        r.comms.ProcessInput("\x06");
        r.blockMode = false;
        r.comms.ProcessInput("C\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"\x06", "ABC\r\n"}));
    }

    void stopDuringHandOver_restOfTheReadIsDropped()
    {
        Receiver r;
        r.onDispatch = [&r](const QByteArray &) { r.comms.Stop(); };
        r.comms.ProcessInput("ONE\r\nTWO\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"ONE\r\n"}));
        r.comms.ProcessInput("THREE\r\n");
        QCOMPARE(r.replies.size(), 1);
    }

    void bytesArrivingDuringHandOver_waitAndFollowInOrder()
    {
        // A handler showing a modal dialog lets the event loop deliver more bytes meanwhile.
        Receiver r;
        bool nested = false;
        r.onDispatch = [&](const QByteArray &) {
            if (nested)
                return;
            nested = true;
            r.comms.ProcessInput("TWO\r\n");
            QCOMPARE(r.replies.size(), 1); // nothing handed over while the first is in hand
        };
        r.comms.ProcessInput("ONE\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"ONE\r\n", "TWO\r\n"}));
    }

    void bytesArrivingDuringHandOver_droppedWhenHandlerClosedThePort()
    {
        Receiver r;
        r.onDispatch = [&](const QByteArray &reply) {
            if (reply != "ONE\r\n")
                return;
            r.comms.ProcessInput("TWO\r\n");
            r.comms.Stop();
        };
        r.comms.ProcessInput("ONE\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"ONE\r\n"}));
    }

    void reopenedDuringHandOver_onlyNewOpeningsBytesFollow()
    {
        Receiver r;
        r.onDispatch = [&](const QByteArray &reply) {
            if (reply != "OLD\r\n")
                return;
            r.comms.Stop();
            r.comms.Start();
            r.comms.ProcessInput("NEW\r\n");
        };
        r.comms.ProcessInput("OLD\r\nSTALE\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"OLD\r\n", "NEW\r\n"}));
    }

    void newOpening_startsWithEmptyLineBuffer()
    {
        Receiver r;
        r.comms.ProcessInput("PARTIAL");
        r.comms.Stop();
        r.comms.Start();
        r.comms.ProcessInput("OK\r\n");
        QCOMPARE(r.replies, (QList<QByteArray>{"OK\r\n"}));
    }

    void stopped_bytesAreNotRead()
    {
        Receiver r;
        r.comms.Stop();
        r.comms.ProcessInput("OK\r\n");
        QVERIFY(r.replies.isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestPort1Comms)
#include "tst_port1comms.moc"
