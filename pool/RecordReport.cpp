#include "RecordReport.h"

#include "settings/TextFile.h"

#include "MacPoolDatabase.h"
#include "PoolUrl.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

qint64 HourOf(qint64 ms)
{
    // Floor, so a time before 1970 still falls into the hour that holds it.
    return (ms >= 0 ? ms / kHourMs : (ms - kHourMs + 1) / kHourMs) * kHourMs;
}

// Digits at text[from, from + count), or -1.
int Digits(const QString &text, int from, int count)
{
    int value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// The form every record line's `time` has, read without QDateTime's general parser: a record of
// a long production run holds millions of them.
bool ParseRecordTimeFast(const QString &t, qint64 *ms)
{
    if (t.size() != 24 || t[4] != QLatin1Char('-') || t[7] != QLatin1Char('-') ||
        t[10] != QLatin1Char('T') || t[13] != QLatin1Char(':') || t[16] != QLatin1Char(':') ||
        t[19] != QLatin1Char('.') || t[23] != QLatin1Char('Z'))
        return false;
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
    const int milli = Digits(t, 20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59 || milli < 0)
        return false;
    const QDate date(year, month, day);
    if (!date.isValid())
        return false;
    *ms = (date.toJulianDay() - 2440588) * 86400000LL + hour * 3600000LL + minute * 60000LL +
          second * 1000LL + milli;
    return true;
}

QString UnitKey(const QString &runId, const QString &port, qint64 round)
{
    return runId + QChar(0x1F) + port + QChar(0x1F) + QString::number(round);
}

QString SqlError(const QSqlQuery &query)
{
    QString text = query.lastError().databaseText().trimmed();
    if (text.isEmpty())
        text = query.lastError().text().trimmed();
    return text.replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// The window as SQL conditions on record_lines, with the values to bind in order.
struct SqlWindow
{
    QString where;
    QVariantList values;
};

SqlWindow WindowSql(const ReportWindow &window)
{
    SqlWindow w;
    w.where = QStringLiteral("1 = 1");
    if (window.sinceMs != std::numeric_limits<qint64>::min()) {
        w.where += QStringLiteral(" AND time_ms >= ?");
        w.values << window.sinceMs;
    }
    if (window.untilMs != std::numeric_limits<qint64>::max()) {
        w.where += QStringLiteral(" AND time_ms < ?");
        w.values << window.untilMs;
    }
    if (!window.station.isEmpty()) {
        w.where += QStringLiteral(" AND station = ?");
        w.values << window.station;
    }
    return w;
}

bool Select(QSqlDatabase db, const QString &sql, const QVariantList &values, QSqlQuery *query,
            QString *error)
{
    *query = QSqlQuery(db);
    query->setForwardOnly(true);
    if (!query->prepare(sql)) {
        *error = SqlError(*query);
        return false;
    }
    for (const QVariant &v : values)
        query->addBindValue(v);
    if (!query->exec()) {
        *error = SqlError(*query);
        return false;
    }
    return true;
}

// The report's figures grouped and counted by the database in one pass over the window (a
// record's lines are wide, so every pass costs): unit lines by station, hour, verdict and cause;
// step lines by name and duration (the percentiles come from those counts); start lines by
// station and whether a unit line ended their round (through the index on run, port and round).
// A second pass picks the slowest step lines, those at or above the tenth longest duration.
bool QueryReport(QSqlDatabase db, bool postgres, const ReportWindow &window, RecordReport *r,
                 QString *error)
{
    QSqlQuery q;
    if (!Select(db, QStringLiteral("SELECT 1 FROM record_lines WHERE 1 = 0"), {}, &q, error)) {
        *error =
            QStringLiteral("it holds no production record (no table record_lines): %1").arg(*error);
        return false;
    }
    const SqlWindow w = WindowSql(window);
    const QString unit = QStringLiteral("kind = 'unit'");
    const QString step = QStringLiteral("kind = 'step'");
    const QString sql =
        QStringLiteral(
            "SELECT kind, station, CASE WHEN %2 THEN time_ms / %1 END, "
            "CASE WHEN %2 THEN (CASE WHEN result = 'ok' THEN 1 ELSE 0 END) END, "
            "CASE WHEN %2 AND COALESCE(result, '') <> 'ok' THEN COALESCE(failed_step, '') END, "
            "CASE WHEN %2 AND COALESCE(result, '') <> 'ok' THEN COALESCE(message, '') END, "
            "CASE WHEN %3 THEN COALESCE(step, '') END, CASE WHEN %3 THEN duration_ms END, "
            "CASE WHEN kind = 'start' AND NOT EXISTS (SELECT 1 FROM record_lines u WHERE "
            "u.run_id = record_lines.run_id AND u.port = record_lines.port AND u.round = "
            "record_lines.round AND u.kind = 'unit') THEN 1 ELSE 0 END, "
            "COUNT(*), SUM(CASE WHEN %3 AND mac_sent IS NOT NULL THEN 1 ELSE 0 END) "
            "FROM record_lines WHERE %4 GROUP BY 1, 2, 3, 4, 5, 6, 7, 8, 9")
            .arg(kHourMs)
            .arg(unit, step, w.where);
    if (!Select(db, sql, w.values, &q, error))
        return false;
    std::map<std::pair<QString, qint64>, ReportHour> hours;
    QMap<QPair<QString, QString>, qint64> failures;
    QMap<QString, ReportStation> stations;
    QMap<QString, ReportDurations> durations;
    bool macFailures = false; // a round failed at its MAC step
    while (q.next()) {
        const QString kind = q.value(0).toString();
        const QString station = q.value(1).toString();
        const qint64 count = q.value(9).toLongLong();
        if (kind == QLatin1String("unit")) {
            const qint64 hour = q.value(2).toLongLong() * kHourMs;
            ReportHour &h = hours[{station, hour}];
            h.station = station;
            h.hourMs = hour;
            h.units += count;
            ReportStation &st = stations[station];
            st.station = station;
            st.units += count;
            if (q.value(3).toInt() == 1) {
                h.passed += count;
                st.passed += count;
            } else {
                failures[{q.value(4).toString(), q.value(5).toString()}] += count;
                macFailures = macFailures || q.value(4).toString() == QLatin1String("assign-mac");
            }
        } else if (kind == QLatin1String("step")) {
            r->numbersUsed += q.value(10).toLongLong();
            if (!q.value(7).isNull())
                durations[q.value(6).toString()][q.value(7).toLongLong()] += count;
        } else if (kind == QLatin1String("start") && q.value(8).toInt() == 1) {
            ReportStation &st = stations[station];
            st.station = station;
            st.interrupted += count;
        }
    }
    // A number whose MAC step line is missing is counted from its unit line, which says so. The
    // flag is only in the line's text (compact JSON), read only where a round failed at that
    // step: reading every line's text would slow the pass above by a third.
    if (macFailures) {
        if (!Select(db,
                    QStringLiteral("SELECT COUNT(*) FROM record_lines WHERE %1 AND %2 AND "
                                   "failed_step = 'assign-mac' AND mac_sent IS NOT NULL AND line "
                                   "LIKE '%\"macStepUnrecorded\":true%'")
                        .arg(w.where, unit),
                    w.values, &q, error))
            return false;
        if (q.next())
            r->numbersUsed += q.value(0).toLongLong();
    }
    for (const auto &entry : hours)
        r->hours.append(entry.second);
    r->stations = stations.values();
    for (auto it = failures.cbegin(); it != failures.cend(); ++it)
        r->failures.append(ReportFailure{it.key().first, it.key().second, it.value()});
    qint64 threshold = -1;
    QList<qint64> longest;
    for (auto it = durations.cbegin(); it != durations.cend(); ++it) {
        r->stepTimes.append(StepTimes(it.key(), it.value()));
        qint64 taken = 0;
        for (auto d = it.value().crbegin(); d != it.value().crend() && taken < kSlowestSteps;
             ++d, ++taken)
            longest.append(d->first);
    }
    std::sort(longest.begin(), longest.end(), std::greater<qint64>());
    if (!longest.isEmpty())
        threshold = longest.value(kSlowestSteps - 1, longest.last());
    if (threshold >= 0) {
        QVariantList values = w.values;
        values << threshold;
        if (!Select(db,
                    QStringLiteral("SELECT COALESCE(step, ''), port, station, duration_ms, "
                                   "time_ms FROM record_lines WHERE %1 AND %2 AND duration_ms >= ? "
                                   "ORDER BY duration_ms DESC, time_ms, port, station LIMIT %3")
                        .arg(w.where, step)
                        .arg(kSlowestSteps),
                    values, &q, error))
            return false;
        while (q.next())
            r->slowest.append(ReportSlowStep{q.value(0).toString(), q.value(1).toString(),
                                             q.value(2).toString(), q.value(3).toLongLong(),
                                             q.value(4).toLongLong()});
    }

    // Numbers left: only a pool's database knows them (free, or reserved past the lease).
    const QString now =
        postgres ? QStringLiteral("CAST(EXTRACT(EPOCH FROM clock_timestamp()) * 1000 AS BIGINT)")
                 : QStringLiteral("CAST((julianday('now') - 2440587.5) * 86400000.0 AS INTEGER)");
    QString ignored;
    if (Select(db,
               QStringLiteral("SELECT COUNT(*) FROM mac_numbers WHERE state = 'free' OR (state = "
                              "'reserved' AND lease_until_ms < %1)")
                   .arg(now),
               {}, &q, &ignored) &&
        q.next())
        r->numbersLeft = q.value(0).toLongLong();
    return true;
}

// Feeds the lines of bytes [from, to) to `builder`; a last line without its end counts.
void AddLines(RecordReportBuilder &builder, const char *from, const char *to)
{
    while (from < to) {
        const char *end = static_cast<const char *>(std::memchr(from, '\n', size_t(to - from)));
        if (!end)
            end = to;
        builder.AddText(QByteArray::fromRawData(from, qsizetype(end - from)));
        from = end + 1;
    }
}

bool ReadFileReport(const QString &path, const ReportWindow &window, RecordReport *report,
                    QString *error)
{
    const QString name = QStringLiteral("the record %1").arg(path);
    QFile file;
    QString systemError;
    switch (OpenRegularFile(path, &file, &systemError)) {
    case RegularFileOpen::Opened:
        break;
    case RegularFileOpen::CannotOpen:
        *error = QStringLiteral("cannot open %1: %2").arg(name, systemError);
        return false;
    case RegularFileOpen::NotRegular:
        *error = QStringLiteral("cannot open %1: not a regular file").arg(name);
        return false;
    }
    const qint64 size = file.size();
    RecordReportBuilder builder(window);
    if (size > 0) {
        // Mapped, not copied; parsed in pieces that end at a line's end, one thread each, since
        // the lines are independent and parsing them is nearly all the work.
        const uchar *mapped = file.map(0, size);
        if (!mapped) {
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
            return false;
        }
        const char *data = reinterpret_cast<const char *>(mapped);
        const int pieces = size < (8 << 20) ? 1 : std::clamp(QThread::idealThreadCount(), 1, 16);
        std::vector<const char *> bounds{data};
        for (int i = 1; i < pieces; ++i) {
            const char *at = data + size * i / pieces;
            at = std::max(at, bounds.back());
            const void *nl = std::memchr(at, '\n', size_t(data + size - at));
            bounds.push_back(nl ? static_cast<const char *>(nl) + 1 : data + size);
        }
        bounds.push_back(data + size);
        std::vector<std::unique_ptr<RecordReportBuilder>> others;
        std::vector<std::thread> threads;
        for (int i = 1; i < pieces; ++i) {
            others.push_back(std::make_unique<RecordReportBuilder>(window));
            threads.emplace_back(AddLines, std::ref(*others.back()), bounds[i], bounds[i + 1]);
        }
        AddLines(builder, bounds[0], bounds[1]);
        for (std::thread &t : threads)
            t.join();
        for (auto &other : others)
            builder.Merge(*other);
        file.unmap(const_cast<uchar *>(mapped));
    }
    *report = builder.Take();
    report->source = QFileInfo(path).absoluteFilePath();
    return true;
}

} // namespace

bool SlowerThan(const ReportSlowStep &a, const ReportSlowStep &b)
{
    if (a.durationMs != b.durationMs)
        return a.durationMs > b.durationMs;
    if (a.timeMs != b.timeMs)
        return a.timeMs < b.timeMs;
    if (a.port != b.port)
        return a.port < b.port;
    if (a.station != b.station)
        return a.station < b.station;
    return a.step < b.step;
}

qint64 RecordReport::Units() const
{
    qint64 n = 0;
    for (const ReportStation &s : stations)
        n += s.units;
    return n;
}

qint64 RecordReport::Passed() const
{
    qint64 n = 0;
    for (const ReportStation &s : stations)
        n += s.passed;
    return n;
}

qint64 RecordReport::Interrupted() const
{
    qint64 n = 0;
    for (const ReportStation &s : stations)
        n += s.interrupted;
    return n;
}

void RecordReport::Finish()
{
    std::sort(hours.begin(), hours.end(), [](const ReportHour &a, const ReportHour &b) {
        return std::tie(a.station, a.hourMs) < std::tie(b.station, b.hourMs);
    });
    std::sort(stations.begin(), stations.end(),
              [](const ReportStation &a, const ReportStation &b) { return a.station < b.station; });
    std::sort(failures.begin(), failures.end(), [](const ReportFailure &a, const ReportFailure &b) {
        return std::make_tuple(-a.count, a.step, a.message) <
               std::make_tuple(-b.count, b.step, b.message);
    });
    std::sort(slowest.begin(), slowest.end(), SlowerThan);
    if (slowest.size() > kSlowestSteps)
        slowest.resize(kSlowestSteps);
    std::sort(stepTimes.begin(), stepTimes.end(),
              [](const ReportStepTimes &a, const ReportStepTimes &b) { return a.step < b.step; });
}

double YieldPercent(qint64 passed, qint64 units)
{
    if (units <= 0)
        return 0;
    return std::round(10000.0 * double(passed) / double(units)) / 100.0;
}

ReportStepTimes StepTimes(const QString &step, const ReportDurations &durations)
{
    ReportStepTimes t;
    t.step = step;
    for (const auto &d : durations)
        t.count += d.second;
    if (t.count == 0)
        return t;
    // Nearest rank: the duration at position ceil(p * n / 100), counted from the shortest.
    const qint64 medianRank = (t.count * 50 + 99) / 100, p95Rank = (t.count * 95 + 99) / 100;
    qint64 seen = 0;
    for (const auto &d : durations) {
        const qint64 before = seen;
        seen += d.second;
        if (before < medianRank && medianRank <= seen)
            t.medianMs = d.first;
        if (before < p95Rank && p95Rank <= seen)
            t.p95Ms = d.first;
    }
    t.maxMs = durations.rbegin()->first;
    return t;
}

bool ParseRecordTime(const QString &text, qint64 *ms)
{
    if (ParseRecordTimeFast(text, ms))
        return true;
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        return false;
    if (t.timeSpec() == Qt::LocalTime)
        t.setTimeSpec(Qt::UTC);
    *ms = t.toMSecsSinceEpoch();
    return true;
}

struct RecordReportBuilder::State
{
    ReportWindow window;
    qint64 skipped = 0;
    std::map<std::pair<QString, qint64>, ReportHour> hours;
    QHash<QPair<QString, QString>, qint64> failures;
    QHash<QString, QString> starts; // unit key -> station, of starts in the window
    QSet<QString> ended;            // unit keys of every unit line, in the window or not
    qint64 numbersUsed = 0;
    QHash<QString, ReportDurations> durations;
    QList<ReportSlowStep> slowest; // kept short: cut back to the slowest when it grows
    qint64 slowestFloor = 0;       // the tenth slowest duration at the last cut
};

RecordReportBuilder::RecordReportBuilder(const ReportWindow &window) : m_state(new State)
{
    m_state->window = window;
}

RecordReportBuilder::~RecordReportBuilder()
{
    delete m_state;
}

void RecordReportBuilder::AddText(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    qint64 ms = 0;
    if (parseError.error != QJsonParseError::NoError || !doc.isObject() ||
        !ParseRecordTime(doc.object().value(QLatin1String("time")).toString(), &ms)) {
        ++m_state->skipped;
        return;
    }
    Add(doc.object(), ms);
}

void RecordReportBuilder::Add(const QJsonObject &line, qint64 timeMs)
{
    State &s = *m_state;
    // Step lines written before lines had a kind have none.
    const QString kind = line.value(QLatin1String("kind")).toString(QStringLiteral("step"));
    const QString station = line.value(QLatin1String("station")).toString();
    const bool inWindow = s.window.Holds(timeMs, station);
    if (kind == QLatin1String("unit")) {
        const QString key = UnitKey(line.value(QLatin1String("runId")).toString(),
                                    line.value(QLatin1String("port")).toString(),
                                    line.value(QLatin1String("round")).toInteger());
        s.ended.insert(key);
        if (!inWindow)
            return;
        const QString hourKey = station;
        ReportHour &h = s.hours[{station, HourOf(timeMs)}];
        h.station = hourKey;
        h.hourMs = HourOf(timeMs);
        ++h.units;
        // The only line that names the number sent when the MAC step's own line is missing.
        if (line.value(QLatin1String("macStepUnrecorded")).toBool() &&
            line.contains(QLatin1String("macSent")))
            ++s.numbersUsed;
        if (line.value(QLatin1String("result")).toString() == QLatin1String("ok")) {
            ++h.passed;
        } else {
            ++s.failures[{line.value(QLatin1String("failedStep")).toString(),
                          line.value(QLatin1String("message")).toString()}];
        }
    } else if (kind == QLatin1String("start")) {
        if (inWindow)
            s.starts.insert(UnitKey(line.value(QLatin1String("runId")).toString(),
                                    line.value(QLatin1String("port")).toString(),
                                    line.value(QLatin1String("round")).toInteger()),
                            station);
    } else if (kind == QLatin1String("step") && inWindow) {
        if (line.contains(QLatin1String("macSent")))
            ++s.numbersUsed;
        const QJsonValue duration = line.value(QLatin1String("durationMs"));
        if (!duration.isDouble())
            return;
        const QString step = line.value(QLatin1String("step")).toString();
        ++s.durations[step][duration.toInteger()];
        // Only a step as slow as the tenth slowest so far can be among the slowest.
        if (s.slowest.size() >= kSlowestSteps && duration.toInteger() < s.slowestFloor)
            return;
        s.slowest.append(ReportSlowStep{step, line.value(QLatin1String("port")).toString(), station,
                                        duration.toInteger(), timeMs});
        if (s.slowest.size() >= 8 * kSlowestSteps) {
            std::sort(s.slowest.begin(), s.slowest.end(), SlowerThan);
            s.slowest.resize(kSlowestSteps);
            s.slowestFloor = s.slowest.last().durationMs;
        }
    }
}

void RecordReportBuilder::Merge(RecordReportBuilder &other)
{
    State &s = *m_state;
    State &o = *other.m_state;
    s.skipped += o.skipped;
    for (const auto &entry : o.hours) {
        ReportHour &h = s.hours[entry.first];
        h.station = entry.second.station;
        h.hourMs = entry.second.hourMs;
        h.units += entry.second.units;
        h.passed += entry.second.passed;
    }
    for (auto it = o.failures.cbegin(); it != o.failures.cend(); ++it)
        s.failures[it.key()] += it.value();
    s.starts.insert(o.starts);
    s.ended.unite(o.ended);
    s.numbersUsed += o.numbersUsed;
    for (auto it = o.durations.cbegin(); it != o.durations.cend(); ++it) {
        ReportDurations &d = s.durations[it.key()];
        for (const auto &entry : it.value())
            d[entry.first] += entry.second;
    }
    s.slowest += o.slowest;
    *other.m_state = State();
}

RecordReport RecordReportBuilder::Take()
{
    State &s = *m_state;
    RecordReport r;
    r.skippedLines = s.skipped;
    QMap<QString, ReportStation> stations;
    for (const auto &entry : s.hours) {
        const ReportHour &h = entry.second;
        r.hours.append(h);
        ReportStation &st = stations[h.station];
        st.station = h.station;
        st.units += h.units;
        st.passed += h.passed;
    }
    for (auto it = s.starts.cbegin(); it != s.starts.cend(); ++it) {
        if (s.ended.contains(it.key()))
            continue;
        ReportStation &st = stations[it.value()];
        st.station = it.value();
        ++st.interrupted;
    }
    r.stations = stations.values();
    for (auto it = s.failures.cbegin(); it != s.failures.cend(); ++it)
        r.failures.append(ReportFailure{it.key().first, it.key().second, it.value()});
    r.numbersUsed = s.numbersUsed;
    for (auto it = s.durations.cbegin(); it != s.durations.cend(); ++it)
        r.stepTimes.append(StepTimes(it.key(), it.value()));
    r.slowest = s.slowest;
    r.Finish();
    *m_state = State();
    return r;
}

bool ReadRecordReport(const QString &url, const ReportWindow &window, RecordReport *report,
                      QString *error, bool *badUrl)
{
    if (badUrl)
        *badUrl = false;
    const bool database = url.startsWith(QLatin1String("sqlite:")) ||
                          url.startsWith(QLatin1String("postgresql:")) ||
                          url.startsWith(QLatin1String("postgres:"));
    if (!database) {
        const QString path =
            url.startsWith(QLatin1String("file:")) ? url.mid(5) : url; // file:PATH or a path
        if (path.isEmpty()) {
            if (badUrl)
                *badUrl = true;
            *error = QStringLiteral("--record needs a file, sqlite:PATH or postgresql://...");
            return false;
        }
        return ReadFileReport(path, window, report, error);
    }
    PoolUrl pool;
    if (!ParsePoolUrl(url, &pool, error)) {
        if (badUrl)
            *badUrl = true;
        return false;
    }
    if (pool.kind == PoolUrl::Kind::Sqlite && !QFileInfo(pool.path).isFile()) {
        *error = QStringLiteral("the record %1: there is no such database file").arg(url);
        return false;
    }
    // A report reads a whole record: its statements may run far longer than a station's.
    MacPoolTimeouts timeouts;
    timeouts.statementMs = 10 * 60 * 1000;
    MacPoolDatabase db(pool, timeouts);
    RecordReport r;
    r.source = PoolUrlText(pool);
    QString failure;
    if (!db.Read(
            [&](QSqlDatabase connection, QString *why) {
                return QueryReport(connection, pool.kind == PoolUrl::Kind::Postgres, window, &r,
                                   why);
            },
            &failure)) {
        *error = QStringLiteral("the record %1: %2").arg(r.source, failure);
        return false;
    }
    r.Finish();
    *report = r;
    return true;
}
