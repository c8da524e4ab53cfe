#pragma once

#include <QList>
#include <QString>

#include <limits>
#include <map>

class QJsonObject;
struct PoolUrl;

// Which lines a report covers: those whose `time` lies in [sinceMs, untilMs) (ms since 1970,
// UTC), of one station or of all.
struct ReportWindow
{
    qint64 sinceMs = std::numeric_limits<qint64>::min();
    qint64 untilMs = std::numeric_limits<qint64>::max();
    QString station; // empty: every station

    bool Holds(qint64 timeMs, const QString &lineStation) const
    {
        return timeMs >= sinceMs && timeMs < untilMs &&
               (station.isEmpty() || station == lineStation);
    }
};

// Unit rounds of one station that ended within one hour.
struct ReportHour
{
    QString station;
    qint64 hourMs = 0; // the hour's start
    qint64 units = 0;
    qint64 passed = 0; // result ok; every other result failed
};

struct ReportStation
{
    QString station;
    qint64 units = 0;
    qint64 passed = 0;
    qint64 interrupted = 0; // rounds that started and never ended: a killed station
};

struct ReportFailure
{
    QString step; // the unit line's failedStep; empty when it names none
    QString message;
    qint64 count = 0;
};

struct ReportSlowStep
{
    QString step;
    QString port;
    QString station;
    qint64 durationMs = 0;
    qint64 timeMs = 0;
};

// The report's order of slow steps: longest first, then earliest, port, station and step.
bool SlowerThan(const ReportSlowStep &a, const ReportSlowStep &b);

// Nearest-rank percentiles of one step's durations.
struct ReportStepTimes
{
    QString step;
    qint64 count = 0;
    qint64 medianMs = 0;
    qint64 p95Ms = 0;
    qint64 maxMs = 0;
};

// Every figure of a report, whatever kind of record it was made from. The lists are in one
// order (Finish), so two records that hold the same lines give equal reports.
struct RecordReport
{
    QString source;                   // the record as messages may show it: never a password
    qint64 skippedLines = 0;          // a file's lines that are no record line (not JSON, no time)
    QList<ReportHour> hours;          // by station, then hour
    QList<ReportStation> stations;    // by name; every station with units or interrupted rounds
    QList<ReportFailure> failures;    // most frequent first
    qint64 numbersUsed = 0;           // step lines with macSent
    qint64 numbersLeft = -1;          // free in the pool; -1 when the record is not a pool's
    QList<ReportSlowStep> slowest;    // the slowest step lines, slowest first
    QList<ReportStepTimes> stepTimes; // by step name

    qint64 Units() const;
    qint64 Passed() const;
    qint64 Interrupted() const;
    // Sorts every list into the report's order and cuts `slowest` to kSlowestSteps.
    void Finish();
};

constexpr int kSlowestSteps = 10;

// Passed out of all as a percentage (0 when there were none), rounded to two decimals.
double YieldPercent(qint64 passed, qint64 units);

// How many steps took each duration (ms): percentiles without keeping every line.
using ReportDurations = std::map<qint64, qint64>;

// A step's count, nearest-rank median and 95th percentile, and longest, from its durations.
ReportStepTimes StepTimes(const QString &step, const ReportDurations &durations);

// One pass over record lines, one at a time, in any order.
class RecordReportBuilder
{
public:
    explicit RecordReportBuilder(const ReportWindow &window);
    ~RecordReportBuilder();
    RecordReportBuilder(const RecordReportBuilder &) = delete;
    RecordReportBuilder &operator=(const RecordReportBuilder &) = delete;

    // One line of a JSON Lines record as the file holds it; a line that is not a JSON object
    // with a time is counted as skipped.
    void AddText(const QByteArray &line);
    void Add(const QJsonObject &line, qint64 timeMs);
    // Takes in what `other` gathered (lines of the same record, read apart) and empties it.
    void Merge(RecordReportBuilder &other);
    RecordReport Take();

private:
    struct State;
    State *m_state;
};

// Reads a report from a record: a JSON Lines file (a path or file:PATH), or a pool's database
// (sqlite:PATH, postgresql://...), where the database groups and counts. False with *error (a
// sentence naming the record) when the record cannot be read or holds no record; *badUrl tells a
// URL no record can have (a mistake on the command line) from a record that failed.
bool ReadRecordReport(const QString &url, const ReportWindow &window, RecordReport *report,
                      QString *error, bool *badUrl = nullptr);

// Milliseconds since 1970 of a record line's `time` ("2024-05-02T09:14:03.127Z", or any ISO
// 8601 date-time; no offset means UTC); false when it is none.
bool ParseRecordTime(const QString &text, qint64 *ms);
