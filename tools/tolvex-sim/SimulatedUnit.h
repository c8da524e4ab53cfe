#pragma once

#include "EventLog.h"
#include "FaultSettings.h"
#include "LineFramer.h"
#include "LineResponder.h"
#include "NoiseMaker.h"
#include "PtyPort.h"
#include "SimOptions.h"
#include "UnitSettings.h"
#include "XmodemReceiver.h"

#include <QObject>
#include <QTimer>

// The unit itself: frames what arrives on the port into command lines, answers them as the
// unit would (with whatever faults are set), switches to receiving an image on "zp", and logs
// every step as an event.
class SimulatedUnit : public QObject
{
    Q_OBJECT
public:
    // NAK repeats while waiting for the first block, and their spacing.
    static constexpr int NakRepeats = 3;
    static constexpr int NakIntervalMs = 3000;
    // A transfer with no byte for this long is given up.
    static constexpr int TransferIdleMs = 10000;
    // A block whose bytes stop coming for this long is dropped and answered with NAK; a sender
    // writes a block in one go, so the gap is far longer than any block takes.
    static constexpr int PartialBlockMs = 500;

    SimulatedUnit(const SimOptions &options, EventLog *log, QObject *parent = nullptr);

    // Opens the first pseudo-terminal and reports "PTY <device>".
    bool start(QString *error);
    // Runs one command from standard input and confirms it with "CMD" or refuses it with
    // "BADCMD".
    void runCommand(const QByteArray &line);

signals:
    void quitRequested();

private:
    void onReceived(const QByteArray &bytes);
    void onLine(const QByteArray &line);
    void onTransferByte(char byte);
    void onClosed();
    void beginTransfer();
    void endTransfer(const QByteArray &reason);
    void completeTransfer();
    void answerBlock(char control);
    void sendControl(char control, int delayMs);
    void sendAnswer(const QByteArray &text);
    void repeatNak();
    void dropPartialBlock();
    void reopen();
    void applyFaultsNow();
    void saveImage(const QByteArray &image);
    void unpackImage(const QByteArray &image);

    SimOptions m_options;
    FaultSettings m_faults;
    EventLog *m_log;
    PtyPort m_port;
    UnitSettings m_settings;
    LineResponder m_responder{&m_settings};
    LineFramer m_framer;
    XmodemReceiver m_receiver;
    NoiseMaker m_noise;

    bool m_inTransfer = false;
    // The transfer has passed the stop-ack-after block: nothing more is answered in it.
    bool m_transferMuted = false;
    // A cut is queued behind the last answer: further input is ignored.
    bool m_cutPending = false;
    int m_naksRepeated = 0;
    QTimer m_nakTimer;
    QTimer m_idleTimer;
    QTimer m_partialTimer;
    QTimer m_reopenTimer;
};
