#pragma once

#include "PortIo.h"

#include <QByteArray>
#include <QDate>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The traffic trace: what went over the line, byte for byte, for a technician to see when a
// unit misbehaves. TracingPortIo records; TraceFormatter turns the records into text lines;
// TraceRecorder keeps them for a view and for "Save"; TraceFileSink writes them as they come.

struct TraceEvent
{
    enum class Kind
    {
        Open, // device and openResult
        Close,
        Sent,        // bytes the device took
        WriteFailed, // bytes the device refused or took only in part
        Received,    // bytes as the device delivered them (a line may come in pieces)
    };

    Kind kind = Kind::Close;
    qint64 msecsSinceEpoch = 0;
    QByteArray bytes;
    QString device;
    PortIo::OpenResult openResult = PortIo::OpenResult::Opened;
};

class TraceListener
{
public:
    virtual ~TraceListener() = default;
    virtual void OnTraceEvent(const TraceEvent &event) = 0;
};

// Wraps the real port: forwards every call and every received byte unchanged and, while anyone
// listens, tells the listeners about each. With no listener the only cost is one test of an
// empty list: no clock read, no copy, no formatting.
class TracingPortIo : public PortIo
{
public:
    explicit TracingPortIo(std::unique_ptr<PortIo> inner);

    // A listener must be removed before it is destroyed. Adding one twice has no effect.
    void AddListener(TraceListener *listener);
    void RemoveListener(TraceListener *listener);
    bool HasListeners() const { return !m_listeners.empty(); }

    PortIo &Inner() { return *m_inner; }

    OpenResult Open(const QString &device) override;
    void Close() override;
    bool Write(const QByteArray &bytes) override;

private:
    void Notify(TraceEvent &&event);

    std::unique_ptr<PortIo> m_inner;
    std::vector<TraceListener *> m_listeners;
};

// Renders events as text lines such as
//   12:34:56.789  TX  "sv\r\n"
//   12:34:56.812  RX  "V1.05-UDP\r\n"
//   12:34:57.020  TX  block 1, 128 bytes, checksum right
//   12:34:57.088  RX  ACK to block 1
// Times are local, to the millisecond; a line with the date comes first and whenever the day
// changes. Received bytes are gathered into lines (up to LF, at most 64 bytes, as the unit
// sends them), dated by their last piece, and shown when the line is complete or the next
// event comes. Bytes outside printable ASCII are escaped (\r, \n, \t, \xHH). A 132-byte
// XMODEM block (SOH, number, its complement, 128 data bytes, arithmetic checksum) is
// summarised; the control bytes EOT, ACK, NAK and CAN are named, and an answer names the block
// or EOT it answers.
class TraceFormatter
{
public:
    // The lines this event completes; none while a received line waits for its end.
    QStringList Format(const TraceEvent &event);
    // A received line still waiting for its end, as a line (nothing when none waits).
    QStringList Flush();

    // Every event formatted in order, with any waiting line at the end.
    static QStringList FormatAll(const QList<TraceEvent> &events);
    // Text shown for bytes: quoted, with escapes.
    static QString QuotedText(const QByteArray &bytes);

private:
    QString Stamp(qint64 msecsSinceEpoch, QStringList *lines);
    void FormatReceived(const TraceEvent &event, QStringList *lines);
    QString DescribeSent(const QByteArray &bytes);
    void EmitPending(QStringList *lines);

    QByteArray m_pending;
    qint64 m_pendingTime = 0;
    // What the last write was, when it was something the unit answers with a control byte
    // ("block 7", "EOT"); empty otherwise.
    QString m_answerTo;
    QDate m_day;
};

// Keeps every event it hears, for a view and for "Save".
class TraceRecorder : public TraceListener
{
public:
    void OnTraceEvent(const TraceEvent &event) override { m_events.append(event); }
    const QList<TraceEvent> &Events() const { return m_events; }
    void Clear() { m_events.clear(); }

private:
    QList<TraceEvent> m_events;
};

// Writes the trace as text to a file (appending), each line as soon as it is complete, so the
// file is current even if the program is killed.
class TraceFileSink : public TraceListener
{
public:
    TraceFileSink() = default;
    ~TraceFileSink() override;

    // False, with "Cannot create file <path>" in *error, when the file cannot be opened.
    bool Open(const QString &path, QString *error);
    bool IsOpen() const { return m_file.isOpen(); }
    // True once a write failed (a full disk); later events are then dropped.
    bool Failed() const { return m_failed; }

    void OnTraceEvent(const TraceEvent &event) override;

private:
    void WriteLines(const QStringList &lines);

    QFile m_file;
    TraceFormatter m_formatter;
    bool m_failed = false;
};

// Writes the events as trace text to `path`, replacing the file whole or not at all. False,
// with "Cannot create file <path>" in *error, on failure.
bool SaveTrace(const QString &path, const QList<TraceEvent> &events, QString *error);
// The same for trace lines already formatted (what a view shows).
bool SaveTraceLines(const QString &path, const QStringList &lines, QString *error);
