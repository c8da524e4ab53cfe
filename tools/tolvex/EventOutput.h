#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

// Where the run's events go. Every event is one JSON object with at least "event" and "time"
// (docs/tolvex-events.md); --json prints them as they are, the other sinks word them.
class EventSink
{
public:
    virtual ~EventSink() = default;
    virtual void Emit(const QJsonObject &event) = 0;
    // The 100 ms tick: a live display redraws here, never more often.
    virtual void Tick() {}

    // Now in UTC, ISO 8601 with milliseconds ("2024-05-02T09:14:03.127Z"), as every event and
    // record line carries it. The part up to the second is worked out once a second:
    // formatting a date would otherwise be much of an event's cost.
    QString TimeText();

private:
    qint64 m_second = -1;
    QString m_secondText; // "2024-05-02T09:14:03."
};

// One compact JSON object a line, flushed at once.
class JsonLinesSink : public EventSink
{
public:
    explicit JsonLinesSink(FILE *out) : m_out(out) {}
    void Emit(const QJsonObject &event) override;

private:
    FILE *m_out;
};

// Plain log lines, one per event worth reading, for a log file or a pipe.
class PlainLinesSink : public EventSink
{
public:
    PlainLinesSink(FILE *out, const QStringList &ports) : m_out(out), m_ports(ports) {}
    void Emit(const QJsonObject &event) override;

private:
    void Print(const QString &line);

    FILE *m_out;
    QStringList m_ports;
    QHash<QString, int> m_lastTenth;   // per port: the last tenth of a download printed
    QHash<QString, QString> m_results; // per port: its summary line, printed at the round's end
};

// A live line per port (its step, a progress bar and the time left for a download) redrawn
// in place on a terminal; mismatches, failures and the summary scroll above it.
class TerminalSink : public EventSink
{
public:
    TerminalSink(FILE *out, const QStringList &ports);
    ~TerminalSink() override;
    void Emit(const QJsonObject &event) override;
    void Tick() override;

private:
    struct Live
    {
        QString step;
        QString state;
        int percent = -1;
        double secondsLeft = -1;
    };
    // Prints a line above the live block.
    void PrintAbove(const QString &line);
    void Erase();
    void Draw();
    QString LiveText(const QString &port) const;
    int Width() const;

    FILE *m_out;
    QStringList m_ports;
    QHash<QString, Live> m_live;
    int m_drawnLines = 0;
    bool m_dirty = true;
    QHash<QString, QString> m_results;
};

// The summary lines of a round in port order, then the count line.
QStringList RoundSummary(const QStringList &ports, const QHash<QString, QString> &results,
                         const QJsonObject &roundEnd);

// The line that sums up one unit's "result" event.
QString ResultLine(const QJsonObject &result);
// A message box text on one line.
QString OneLine(const QString &text);
