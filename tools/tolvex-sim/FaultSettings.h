#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

// The misbehaviours the simulated unit can be told to show. Each can be set by a start option
// ("--error-first 2") and by a command on standard input ("error-first 2"); both go through
// ApplyFault so the two spellings cannot drift apart.
struct FaultSettings
{
    // Nothing at all is sent; lines are logged but not acted on.
    bool silent = false;
    // Lines still to be answered "Error" (and not acted on).
    int errorFirst = 0;
    // Version text answered after the two bytes "SV".
    QByteArray version = QByteArrayLiteral("1.0.5-UDP");
    // Lower-case codes whose answers carry a deliberately wrong value.
    QSet<QByteArray> wrongEcho;
    // Lower-case codes (and "ma") whose lines are answered "Error" and not acted on, as by a
    // unit whose firmware lacks the setting.
    QSet<QByteArray> refuse;
    // Lower-case codes whose lines are acted on but answered with the given text instead (an
    // "OK", another setting's line), as by a unit that answers out of turn.
    QMap<QByteArray, QByteArray> answerAs;
    // Lines still answered before the unit falls silent; -1: no limit.
    int stopAfter = -1;
    // Lines still answered before the link is cut; -1: never. One-shot.
    int closeAfter = -1;
    // Delay before a new pseudo-terminal replaces a cut one; -1: it stays cut.
    int reopenAfterMs = -1;
    // Random bytes and over-long lines before each answer.
    bool noise = false;
    // Exactly 65 bytes without CR or LF before each answer (a framer capped at 64 drops them).
    bool cleanNoise = false;
    // Both directions run at the pace of 19200 baud, 10 bits a byte.
    bool wireDelay = false;
    // Added before every answer, also before the transfer's NAK and ACK bytes.
    int answerDelayMs = 0;
    // Block (counted from 1 in each transfer) that is refused with NAK the first time; 0: none.
    int nakBlock = 0;
    // Block (counted from 1) after whose ACK the transfer gets no more answers; 0: none.
    int stopAckAfter = 0;
    // Added before every ACK or NAK that answers a block.
    int ackDelayMs = 0;
    // A USB adapter's latency timer on the program's side: bytes towards the program are held
    // until this many ms after the first of them reached the adapter; 0: passed on at once.
    int adapterLatencyMs = 0;
};

// Sets one fault by name (without "--") from its value text. Switches take "on"/"off" (an empty
// value means on); counts and delays take a decimal number, and those that can be switched off
// also take "off". Returns false with a message for an unknown name or a bad value, leaving
// `faults` unchanged.
bool ApplyFault(FaultSettings *faults, const QString &name, const QString &value, QString *error);
