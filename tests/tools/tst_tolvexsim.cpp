#include "support/SimUnit.h"
#include "webpages/ImageFormat.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char Soh = 0x01;
const char Eot = 0x04;
const char Ack = 0x06;
const char Nak = 0x15;

// The program's side of the line: the slave device opened raw, as a serial port would be.
// Reads poll with a bound and keep the simulator's events flowing meanwhile.
class PtyClient
{
public:
    ~PtyClient() { close(); }

    bool open(const QString &path)
    {
        close();
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B19200);
        cfsetospeed(&t, B19200);
        tcsetattr(m_fd, TCSANOW, &t);
        return true;
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_pending.clear();
        m_hungUp = false;
    }

    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        const QDeadlineTimer deadline(5000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, bytes.size() - done);
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                pollOnce(POLLOUT);
        }
        return done == bytes.size();
    }

    // Exactly `count` bytes, or fewer when the time runs out.
    QByteArray read(int count, int timeoutMs = 3000)
    {
        fill([&] { return m_pending.size() >= count; }, timeoutMs);
        return take(qMin<qsizetype>(count, m_pending.size()));
    }

    // Everything up to and including the next CR LF; empty when none came in time.
    QByteArray readLine(int timeoutMs = 3000)
    {
        fill([&] { return m_pending.contains("\r\n"); }, timeoutMs);
        const qsizetype end = m_pending.indexOf("\r\n");
        return end < 0 ? QByteArray() : take(end + 2);
    }

    // True once the other side is gone (end of file or an I/O error on read).
    bool waitForHangUp(int timeoutMs = 3000)
    {
        fill([&] { return m_hungUp; }, timeoutMs);
        return m_hungUp;
    }

private:
    void fill(const std::function<bool()> &done, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!done() && !m_hungUp && !deadline.hasExpired()) {
            if (pollOnce(POLLIN)) {
                char buffer[4096];
                const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
                if (n > 0)
                    m_pending.append(buffer, n);
                else if (n == 0 || errno == EIO)
                    m_hungUp = true;
            }
        }
    }

    bool pollOnce(short events)
    {
        pollfd p{m_fd, events, 0};
        const bool ready = ::poll(&p, 1, 10) > 0;
        QCoreApplication::processEvents();
        return ready;
    }

    QByteArray take(qsizetype count)
    {
        const QByteArray head = m_pending.left(count);
        m_pending.remove(0, count);
        return head;
    }

    int m_fd = -1;
    QByteArray m_pending;
    bool m_hungUp = false;
};

// One 132-byte block: SOH, number, its complement, 128 data bytes, 8-bit sum of the data.
QByteArray Block(quint8 number, const QByteArray &data, bool breakChecksum = false)
{
    QByteArray block;
    block += Soh;
    block += char(number);
    block += char(0xFF - number);
    QByteArray padded = data.left(128);
    padded.append(128 - padded.size(), char(0xFF));
    block += padded;
    quint8 sum = 0;
    for (char c : padded)
        sum = quint8(sum + quint8(c));
    block += char(breakChecksum ? sum + 1 : sum);
    return block;
}

// 128 bytes that differ for every block index, so a block stored twice or out of place shows.
QByteArray BlockData(int index)
{
    QByteArray data(128, '\0');
    for (int i = 0; i < 128; ++i)
        data[i] = char((index * 131 + i * 7 + (index >> 8)) & 0xFF);
    return data;
}

} // namespace

class TolvexSimTest : public QObject
{
    Q_OBJECT

private:
    // Starts the simulator and opens its device; QVERIFY inside, so callers check QTest's state.
    bool startUnit(const QStringList &arguments = {})
    {
        if (!m_sim.start(arguments)) {
            qWarning("%s", qPrintable(m_sim.errorString()));
            return false;
        }
        return m_client.open(m_sim.linkPath());
    }

    QByteArray ask(const QByteArray &line)
    {
        m_client.write(line);
        return m_client.readLine();
    }

    SimUnit m_sim;
    PtyClient m_client;

private slots:
    void cleanup()
    {
        m_client.close();
        m_sim.stop();
    }

    void queryIsAnsweredWithHeldValue_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("version") << QByteArray("sv\r\n") << QByteArray("SV1.0.5-UDP\r\n");
        QTest::newRow("hysteresis 1") << QByteArray("ax1\r\n") << QByteArray("AX15\r\n");
        QTest::newRow("hysteresis 4") << QByteArray("ax4\r\n") << QByteArray("AX45\r\n");
        QTest::newRow("client port") << QByteArray("ba\r\n") << QByteArray("BA3012\r\n");
        QTest::newRow("baud code") << QByteArray("bb\r\n") << QByteArray("BB15\r\n");
        QTest::newRow("connect time-out") << QByteArray("bh\r\n") << QByteArray("BH60\r\n");
        QTest::newRow("update period") << QByteArray("bj\r\n") << QByteArray("BJ60\r\n");
        QTest::newRow("timed interval") << QByteArray("bt\r\n") << QByteArray("BT2\r\n");
        QTest::newRow("flags") << QByteArray("eo\r\n") << QByteArray("EO0001100000000000\r\n");
        QTest::newRow("mac") << QByteArray("ma\r\n") << QByteArray("MA0,4,163,1,2,15,\r\n");
        QTest::newRow("ip") << QByteArray("ni\r\n") << QByteArray("NI10.0.0.5\r\n");
        QTest::newRow("gateway") << QByteArray("ng\r\n") << QByteArray("NG10.0.0.1\r\n");
        QTest::newRow("submask") << QByteArray("ns\r\n") << QByteArray("NS255.255.255.0\r\n");
        QTest::newRow("client ip") << QByteArray("nc\r\n") << QByteArray("NC10.0.0.2\r\n");
        QTest::newRow("empty line") << QByteArray("\r\n") << QByteArray("OK\r\n");
        QTest::newRow("closing line") << QByteArray("zc\r\n") << QByteArray("OK\r\n");
        QTest::newRow("unknown code") << QByteArray("xy\r\n") << QByteArray("Error\r\n");
        QTest::newRow("no such input") << QByteArray("ax5\r\n") << QByteArray("Error\r\n");
        QTest::newRow("lone CR in line") << QByteArray("b\ra\r\n") << QByteArray("Error\r\n");
    }

    void queryIsAnsweredWithHeldValue()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QVERIFY(startUnit());
        QCOMPARE(ask(line), answer);
    }

    void settingsLineIsStoredAndEchoed_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("echo");
        QTest::newRow("port") << QByteArray("ba3013\r\n") << QByteArray("ba\r\n")
                              << QByteArray("BA3013\r\n");
        QTest::newRow("port clamped high")
            << QByteArray("ba70000\r\n") << QByteArray("ba\r\n") << QByteArray("BA65535\r\n");
        QTest::newRow("port clamped low")
            << QByteArray("ba0\r\n") << QByteArray("ba\r\n") << QByteArray("BA1\r\n");
        QTest::newRow("huge number") << QByteArray("bh99999999999999999999\r\n")
                                     << QByteArray("bh\r\n") << QByteArray("BH1000\r\n");
        QTest::newRow("no digits kept")
            << QByteArray("bhabc\r\n") << QByteArray("bh\r\n") << QByteArray("BH60\r\n");
        QTest::newRow("interval clamped")
            << QByteArray("bt1\r\n") << QByteArray("bt\r\n") << QByteArray("BT2\r\n");
        QTest::newRow("hysteresis clamped")
            << QByteArray("ax31025\r\n") << QByteArray("ax3\r\n") << QByteArray("AX31024\r\n");
        QTest::newRow("known baud")
            << QByteArray("bb129\r\n") << QByteArray("bb\r\n") << QByteArray("BB129\r\n");
        QTest::newRow("unknown baud kept")
            << QByteArray("bb99\r\n") << QByteArray("bb\r\n") << QByteArray("BB15\r\n");
        QTest::newRow("flags") << QByteArray("eo0010110010000000\r\n") << QByteArray("eo\r\n")
                               << QByteArray("EO0010110010000000\r\n");
        QTest::newRow("short flags kept") << QByteArray("eo00101100\r\n") << QByteArray("eo\r\n")
                                          << QByteArray("EO0001100000000000\r\n");
        QTest::newRow("address") << QByteArray("ni192.168.0.100\r\n") << QByteArray("ni\r\n")
                                 << QByteArray("NI192.168.0.100\r\n");
        QTest::newRow("address leading zeros")
            << QByteArray("ng192.168.001.010\r\n") << QByteArray("ng\r\n")
            << QByteArray("NG192.168.1.10\r\n");
        QTest::newRow("empty address kept")
            << QByteArray("ns...\r\n") << QByteArray("ns\r\n") << QByteArray("NS255.255.255.0\r\n");
        QTest::newRow("octet too big kept") << QByteArray("nc1.2.3.256\r\n") << QByteArray("nc\r\n")
                                            << QByteArray("NC10.0.0.2\r\n");
        QTest::newRow("three octets kept")
            << QByteArray("nc1.2.3\r\n") << QByteArray("nc\r\n") << QByteArray("NC10.0.0.2\r\n");
        QTest::newRow("mac number") << QByteArray("ma4779\r\n") << QByteArray("ma\r\n")
                                    << QByteArray("MA0,4,163,1,18,171,\r\n");
        QTest::newRow("mac zero") << QByteArray("ma0\r\n") << QByteArray("ma\r\n")
                                  << QByteArray("MA0,4,163,1,0,0,\r\n");
        QTest::newRow("mac too big kept") << QByteArray("ma65536\r\n") << QByteArray("ma\r\n")
                                          << QByteArray("MA0,4,163,1,2,15,\r\n");
    }

    void settingsLineIsStoredAndEchoed()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, echo);
        QVERIFY(startUnit());
        QCOMPARE(ask(line), echo);
        QCOMPARE(ask(query), echo);
    }

    void errorFirstAnswersErrorAndStoresNothing()
    {
        QVERIFY(startUnit({QStringLiteral("--error-first"), QStringLiteral("2")}));
        QCOMPARE(ask("ba4000\r\n"), QByteArray("Error\r\n"));
        QCOMPARE(ask("sv\r\n"), QByteArray("Error\r\n"));
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
        QVERIFY(m_sim.sendCommand(QStringLiteral("error-first 1")));
        QCOMPARE(ask("sv\r\n"), QByteArray("Error\r\n"));
        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.0.5-UDP\r\n"));
    }

    void silentUnitAnswersNothingUntilSwitchedOff()
    {
        QVERIFY(startUnit({QStringLiteral("--silent")}));
        QVERIFY(m_client.write("bh\r\n"));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("GOT bh")));
        QVERIFY(m_sim.sendCommand(QStringLiteral("silent off")));
        // Had the first line been answered, its answer would be read here first.
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
    }

    void versionTextFollowsOptionCommandAndReset()
    {
        QVERIFY(startUnit({QStringLiteral("--version"), QStringLiteral("1.0.99-UDP")}));
        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.0.99-UDP\r\n"));
        QVERIFY(m_sim.sendCommand(QStringLiteral("version 1.1.0-UDP")));
        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.1.0-UDP\r\n"));
        QVERIFY(m_sim.sendCommand(QStringLiteral("reset")));
        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.0.5-UDP\r\n"));
    }

    void wrongEchoBendsOnlyThatCode_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("wrongEcho");
        QTest::addColumn<QByteArray>("heldValue");
        QTest::newRow("port") << "ba" << QByteArray("ba3012\r\n") << QByteArray("BA3013\r\n")
                              << QByteArray("BA3012\r\n");
        QTest::newRow("hysteresis")
            << "ax2" << QByteArray("ax27\r\n") << QByteArray("AX28\r\n") << QByteArray("AX27\r\n");
        QTest::newRow("baud") << "bb" << QByteArray("bb15\r\n") << QByteArray("BB7\r\n")
                              << QByteArray("BB15\r\n");
        QTest::newRow("flags") << "eo" << QByteArray("eo0010110010000000\r\n")
                               << QByteArray("EO0010010010000000\r\n")
                               << QByteArray("EO0010110010000000\r\n");
        QTest::newRow("address") << "ni" << QByteArray("ni192.168.0.100\r\n")
                                 << QByteArray("NI192.169.0.100\r\n")
                                 << QByteArray("NI192.168.0.100\r\n");
        QTest::newRow("mac") << "ma" << QByteArray("ma4779\r\n")
                             << QByteArray("MA0,4,163,1,18,172,\r\n")
                             << QByteArray("MA0,4,163,1,18,171,\r\n");
    }

    void wrongEchoBendsOnlyThatCode()
    {
        QFETCH(QString, code);
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, wrongEcho);
        QFETCH(QByteArray, heldValue);
        QVERIFY(startUnit({QStringLiteral("--wrong-echo"), code}));
        QCOMPARE(ask(line), wrongEcho);
        QCOMPARE(ask("bh\r\n"), QByteArray("BH60\r\n"));
        QVERIFY(m_sim.sendCommand(QStringLiteral("reset")));
        QCOMPARE(ask(line.left(code.size()) + "\r\n"), heldValue);
    }

    void stopAfterLeavesLaterLinesUnanswered()
    {
        QVERIFY(startUnit({QStringLiteral("--stop-after"), QStringLiteral("2")}));
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
        QCOMPARE(ask("bh\r\n"), QByteArray("BH60\r\n"));
        QVERIFY(m_client.write("bj\r\n"));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("GOT bj")));
        QVERIFY(m_sim.sendCommand(QStringLiteral("reset")));
        QCOMPARE(ask("ax1\r\n"), QByteArray("AX15\r\n"));
    }

    void overlongLineIsDroppedUnanswered()
    {
        QVERIFY(startUnit());
        QVERIFY(m_client.write(QByteArray(300, 'x') + "\r\n"));
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("DROPPED 302")));
    }

    void receivedLinesAreReportedExactly()
    {
        QVERIFY(startUnit());
        const QByteArray odd("b\x01\\a\t\r\n", 7);
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
        QCOMPARE(ask(odd), QByteArray("Error\r\n"));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("SENT Error")));
        QCOMPARE(m_sim.receivedLines(), (QList<QByteArray>{"ba\r\n", odd}));
    }

    void cleanNoiseIsOneBurstOf65BytesWithoutLineEnds()
    {
        QVERIFY(startUnit({QStringLiteral("--clean-noise")}));
        for (int i = 0; i < 3; ++i) {
            const QByteArray got = ask("ba\r\n");
            QCOMPARE(got.size(), 65 + 8);
            QVERIFY(!got.left(65).contains('\r'));
            QVERIFY(!got.left(65).contains('\n'));
            QCOMPARE(got.mid(65), QByteArray("BA3012\r\n"));
        }
    }

    void noiseNeverForgesALineEnd()
    {
        QVERIFY(
            startUnit({QStringLiteral("--noise"), QStringLiteral("--seed"), QStringLiteral("7")}));
        bool sawOverlong = false;
        bool sawNul = false;
        for (int i = 0; i < 40; ++i) {
            const QByteArray got = ask("bh\r\n");
            QVERIFY2(got.endsWith("BH60\r\n"), got.toHex().constData());
            sawOverlong |= got.size() - 6 > 64;
            sawNul |= got.contains('\0');
        }
        QVERIFY(sawOverlong);
        QVERIFY(sawNul);
    }

    void transferAcksGoodBlocksAndNaksBadOnes()
    {
        QTemporaryDir folder;
        const QString imagePath = folder.filePath(QStringLiteral("image.bin"));
        QVERIFY(startUnit({QStringLiteral("--image-out"), imagePath}));
        QVERIFY(m_client.write("zp\r\n"));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));

        QVERIFY(m_client.write(Block(1, BlockData(1))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(Block(2, BlockData(2), true)));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QVERIFY(m_client.write(Block(2, BlockData(2))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(Block(2, BlockData(2))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(Block(9, BlockData(9))));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QVERIFY(m_client.write(Block(3, BlockData(3))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(QByteArray(1, Eot)));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));

        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 2 BAD")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 2 REPEAT")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 9 BAD")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("IMAGE 384")));
        QFile image(imagePath);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QCOMPARE(image.readAll(), BlockData(1) + BlockData(2) + BlockData(3));

        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.0.5-UDP\r\n"));
    }

    void transferWrapsBlockNumbersPast255()
    {
        QTemporaryDir folder;
        const QString imagePath = folder.filePath(QStringLiteral("image.bin"));
        QVERIFY(startUnit({QStringLiteral("--image-out"), imagePath}));
        QVERIFY(m_client.write("zp\r\n"));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QByteArray expected;
        for (int index = 1; index <= 300; ++index) {
            QVERIFY(m_client.write(Block(quint8(index), BlockData(index))));
            QCOMPARE(m_client.read(1), QByteArray(1, Ack));
            expected += BlockData(index);
        }
        QVERIFY(m_client.write(QByteArray(1, Eot)));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 0 OK")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 44 OK")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("IMAGE 38400")));
        QFile image(imagePath);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(image.readAll() == expected);
    }

    void transferRefusesChosenBlockOnce()
    {
        QVERIFY(startUnit({QStringLiteral("--nak-block"), QStringLiteral("2")}));
        QVERIFY(m_client.write("zp\r\n"));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QVERIFY(m_client.write(Block(1, BlockData(1))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(Block(2, BlockData(2))));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QVERIFY(m_client.write(Block(2, BlockData(2))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(QByteArray(1, Eot)));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 2 REFUSED")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("IMAGE 256")));
    }

    void transferFallsSilentAfterChosenBlockUntilLinesResume()
    {
        QVERIFY(startUnit({QStringLiteral("--stop-ack-after"), QStringLiteral("1")}));
        QVERIFY(m_client.write("zp\r\n"));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        QVERIFY(m_client.write(Block(1, BlockData(1))));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_client.write(Block(2, BlockData(2))));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("BLOCK 2 OK")));
        // The program's retry: a command line where the next block would start.
        QCOMPARE(ask("sv\r\n"), QByteArray("SV1.0.5-UDP\r\n"));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("XMODEM END line")));
    }

    void linkIsCutAndReopenedAfterChosenLine()
    {
        QVERIFY(startUnit({QStringLiteral("--close-after"), QStringLiteral("1"),
                           QStringLiteral("--reopen-after-ms"), QStringLiteral("200")}));
        QCOMPARE(ask("ba3020\r\n"), QByteArray("BA3020\r\n"));
        QVERIFY(m_client.waitForHangUp());
        QVERIFY(m_sim.waitForEvent(QStringLiteral("CLOSED")));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("PTY ")));
        QCOMPARE(QFileInfo(m_sim.linkPath()).symLinkTarget(), m_sim.devicePath());

        QVERIFY(m_client.open(m_sim.linkPath()));
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3020\r\n"));
        QCOMPARE(ask("bh\r\n"), QByteArray("BH60\r\n"));
    }

    void closeCommandCutsAtOnceAndReopenRestores()
    {
        QVERIFY(startUnit());
        QVERIFY(m_sim.sendCommand(QStringLiteral("close-after 0")));
        QVERIFY(m_client.waitForHangUp());
        QVERIFY(!QFileInfo(m_sim.linkPath()).isSymLink());
        QVERIFY(m_sim.sendCommand(QStringLiteral("reopen")));
        QVERIFY(m_client.open(m_sim.linkPath()));
        QCOMPARE(ask("bj\r\n"), QByteArray("BJ60\r\n"));
    }

    void nothingWaitsForAProgramThatClosedThePort_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("beforeClose");
        QTest::addColumn<QString>("afterClose");
        QTest::newRow("answer unread at close") << QStringList() << "SENT BA3012" << QString();
        QTest::newRow("answer due after close")
            << QStringList{QStringLiteral("--answer-delay-ms"), QStringLiteral("1000")} << "GOT ba"
            << "LOST SENT BA3012";
    }

    void nothingWaitsForAProgramThatClosedThePort()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, beforeClose);
        QFETCH(QString, afterClose);
        QVERIFY(startUnit(arguments));
        QVERIFY(m_client.write("ba\r\n"));
        QVERIFY(m_sim.waitForEvent(beforeClose));
        m_client.close();
        if (!afterClose.isEmpty())
            QVERIFY(m_sim.waitForEvent(afterClose));
        QVERIFY(m_sim.sendCommand(QStringLiteral("reset")));
        QVERIFY(m_client.open(m_sim.linkPath()));
        QCOMPARE(ask("bh\r\n"), QByteArray("BH60\r\n"));
    }

    void wireDelayPacesBytesAt19200Baud()
    {
        QVERIFY(startUnit({QStringLiteral("--wire-delay")}));
        QByteArray lines;
        for (int i = 0; i < 240; ++i)
            lines += "ba3012\r\n";
        QCOMPARE(lines.size(), 1920);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(m_client.write(lines));
        const QByteArray answers = m_client.read(1920, 10000);
        const qint64 elapsed = clock.elapsed();
        qInfo("1920 bytes through the paced line took %lld ms", elapsed);
        QCOMPARE(answers, QByteArray(lines).toUpper());
        QVERIFY(elapsed >= 800);
    }

    void linkPointsAtDeviceAndGoesAtExit()
    {
        QVERIFY(startUnit());
        const QString link = m_sim.linkPath();
        QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim.devicePath());
        m_client.close();
        m_sim.stop();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void badCommandsAreRefusedAndChangeNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("unknown name") << "frobnicate";
        QTest::newRow("count not a number") << "error-first lots";
        QTest::newRow("negative count") << "error-first -1";
        QTest::newRow("unknown code") << "wrong-echo zz";
        QTest::newRow("bad switch") << "silent maybe";
    }

    void badCommandsAreRefusedAndChangeNothing()
    {
        QFETCH(QString, command);
        QVERIFY(startUnit());
        QVERIFY(!m_sim.sendCommand(command));
        QCOMPARE(ask("ba\r\n"), QByteArray("BA3012\r\n"));
    }

    void badOptionStopsTheStart()
    {
        SimUnit sim;
        QVERIFY(!sim.start({QStringLiteral("--stop-after"), QStringLiteral("-3")}));
        QVERIFY(!sim.isRunning());
    }

    void transferredImageIsUnpacked()
    {
        QByteArray image;
        QString error;
        const QList<ImageEntry> entries{{QStringLiteral("index.htm"), "<html>hello</html>"},
                                        {QStringLiteral("logo.gif"), QByteArray(300, 'G')}};
        if (!PackImage(entries, &image, &error))
            QSKIP("the image format cannot pack yet");
        QTemporaryDir folder;
        QVERIFY(startUnit({QStringLiteral("--unpack-to"), folder.path()}));
        QVERIFY(m_client.write("zp\r\n"));
        QCOMPARE(m_client.read(1), QByteArray(1, Nak));
        for (int offset = 0, number = 1; offset < image.size(); offset += 128, ++number) {
            QVERIFY(m_client.write(Block(quint8(number), image.mid(offset, 128))));
            QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        }
        QVERIFY(m_client.write(QByteArray(1, Eot)));
        QCOMPARE(m_client.read(1), QByteArray(1, Ack));
        QVERIFY(m_sim.waitForEvent(QStringLiteral("UNPACKED 2")));
        for (const ImageEntry &entry : entries) {
            QFile file(QDir(folder.path()).filePath(entry.name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), entry.data);
        }
    }
};

QTEST_GUILESS_MAIN(TolvexSimTest)
#include "tst_tolvexsim.moc"
