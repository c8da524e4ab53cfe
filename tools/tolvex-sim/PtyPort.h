#pragma once

#include "WakeTimer.h"
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <QTimer>
#include <deque>

class QSocketNotifier;

// The simulated unit's end of the serial line: a pseudo-terminal whose slave side the program
// under test opens like a serial port. Both sides are raw 8N1 so the line discipline never echoes
// or translates. The port keeps a slave descriptor of its own open, so the master does not see a
// hang-up while the program has the port closed.
//
// With the wire delay on, bytes move at the pace of 19200 baud (10 bits a byte) both ways: each
// byte is handed on or written no sooner than one byte time after the previous one. The schedule
// is kept in absolute times and caught up when a timer fires late, so the pace holds on average.
//
// Like a real serial port, the line keeps nothing for a program that has it closed: the port
// watches who opens the slave device, discards what the program left unread when it closes it,
// and drops bytes due while nobody has it open (reported as "LOST <event>").
//
// An optional symbolic link always points at the current slave device; it is replaced atomically
// and removed when the link is cut or the port is destroyed.
class PtyPort : public QObject
{
    Q_OBJECT
public:
    // One byte on a 19200 baud line: start bit, 8 data bits, stop bit.
    static constexpr qint64 ByteTimeNs = 10LL * 1000000000LL / 19200;

    explicit PtyPort(const QString &linkPath, QObject *parent = nullptr);
    ~PtyPort() override;

    // Opens a new pseudo-terminal and points the link at it; false (nothing left open) when
    // either fails.
    bool open(QString *error);
    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_device; }

    void setWireDelay(bool on) { m_wireDelay = on; }
    // Bytes towards the program wait until `ms` after the first of a batch was due, as in a USB
    // adapter whose latency timer sends what it holds when it runs out; 0: no holding.
    void setAdapterLatencyMs(int ms) { m_latencyNs = qint64(ms) * 1000000; }

    // Queues bytes to go out no sooner than `delayMs` from now, after everything queued before.
    // sent(event) is emitted once their last byte is written.
    void send(const QByteArray &bytes, int delayMs, const QByteArray &event);

    // Cuts the link once everything queued has been written and read on the other side (a pulled
    // cable after the last answer got through); waits at most about a second for the reader.
    void closeAfterQueued();
    // Cuts the link at once; queued bytes are lost.
    void closeNow();

signals:
    // Bytes from the program, in order, already paced when the wire delay is on.
    void received(const QByteArray &bytes);
    void sent(const QByteArray &event);
    // The link was cut; the slave device is gone.
    void closed();

private:
    struct Outgoing
    {
        QByteArray bytes;
        qint64 notBeforeNs = 0;
        QByteArray event;
        bool close = false;
        int written = 0;
    };

    void readAvailable();
    void pumpInput();
    void pumpOutput();
    // Writes what is due of the head item; false when it must wait (timer or writable notifier
    // armed) or the port was closed meanwhile.
    bool writeHead(Outgoing &item, qint64 now);
    bool readerHasDrained(qint64 now);
    void watchPeer();
    // Takes in the open and close events of the slave device; on the last close the bytes the
    // program did not read are discarded.
    void updatePeerOpens();
    // True while the program has the device open (always true when that cannot be watched).
    bool peerHasPortOpen();
    void release();
    bool updateLink(QString *error);
    void removeLink();
    void armTimer(WakeTimer &timer, qint64 dueNs);
    // The steady clock in nanoseconds, the time base of the wake-up timers.
    static qint64 now();

    QString m_linkPath;
    QString m_device;
    int m_master = -1;
    int m_slave = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QSocketNotifier *m_peerNotifier = nullptr;
    int m_inotify = -1;
    int m_peerOpens = 0;
    WakeTimer m_inputTimer;
    WakeTimer m_outputTimer;
    bool m_wireDelay = false;

    std::deque<std::pair<qint64, char>> m_input; // byte and the time it may be handed on
    qint64 m_lastInputNs = 0;
    std::deque<Outgoing> m_output;
    qint64 m_lastOutputNs = 0;
    qint64 m_lastWriteNs = 0;
    qint64 m_closeDeadlineNs = -1;
    qint64 m_latencyNs = 0;
    qint64 m_batchDeadlineNs = -1; // when the adapter passes on what it holds; -1: holds nothing
};
