#include "ReportCommand.h"

#include "CliOptions.h"
#include "pool/RecordReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTimeZone>

#include <cstdio>

namespace {

struct ReportArguments
{
    QString record;
    QString since;
    QString until;
    QString station;
    QString html;
    bool csv = false;
    bool json = false;
};

void Print(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
}

int Fail(int status, const QString &message)
{
    Print(stderr, QStringLiteral("tolvex: %1\n").arg(message));
    std::fflush(stderr);
    return status;
}

bool Parse(const QStringList &arguments, ReportArguments *a, QString *error)
{
    for (int i = 0; i < arguments.size(); ++i) {
        const QString name = arguments[i];
        auto value = [&](QString *to) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            *to = arguments[++i];
            return true;
        };
        bool ok = true;
        if (name == QLatin1String("--record"))
            ok = value(&a->record);
        else if (name == QLatin1String("--since"))
            ok = value(&a->since);
        else if (name == QLatin1String("--until"))
            ok = value(&a->until);
        else if (name == QLatin1String("--station"))
            ok = value(&a->station);
        else if (name == QLatin1String("--html"))
            ok = value(&a->html);
        else if (name == QLatin1String("--csv"))
            a->csv = true;
        else if (name == QLatin1String("--json"))
            a->json = true;
        else {
            *error = QStringLiteral("report does not know \"%1\"").arg(name);
            return false;
        }
        if (!ok)
            return false;
    }
    if (a->record.isEmpty()) {
        *error = QStringLiteral("report needs --record URL (a file, sqlite:PATH or "
                                "postgresql://...)");
        return false;
    }
    if (int(a->csv) + int(a->json) + int(!a->html.isEmpty()) > 1) {
        *error = QStringLiteral("report takes one of --csv, --json and --html FILE");
        return false;
    }
    return true;
}

// An ISO 8601 date (its midnight) or date-time; UTC unless it names an offset.
bool ParseBound(const QString &text, qint64 *ms)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid() && text.size() == 10) {
        *ms = QDateTime(date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        return true;
    }
    QString spelled = text;
    if (spelled.size() > 10 && spelled[10] == QLatin1Char(' '))
        spelled[10] = QLatin1Char('T'); // "2024-05-02 09:00", as people type it
    return ParseRecordTime(spelled, ms);
}

QString TimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

QString WindowText(const ReportWindow &w)
{
    const bool from = w.sinceMs != std::numeric_limits<qint64>::min();
    const bool to = w.untilMs != std::numeric_limits<qint64>::max();
    QString text =
        from && to
            ? QStringLiteral("from %1 until %2").arg(TimeText(w.sinceMs), TimeText(w.untilMs))
        : from ? QStringLiteral("from %1").arg(TimeText(w.sinceMs))
        : to   ? QStringLiteral("until %1").arg(TimeText(w.untilMs))
               : QStringLiteral("the whole record");
    text += w.station.isEmpty() ? QStringLiteral(", every station")
                                : QStringLiteral(", station %1").arg(w.station);
    return text;
}

QString Percent(double value)
{
    return QString::number(value, 'f', 1) + QStringLiteral(" %");
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString OneLine(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1String(" / "));
}

QString LeftText(const RecordReport &r)
{
    return r.numbersLeft < 0 ? QStringLiteral("unknown (only a pool's database knows; this "
                                              "record is not one)")
                             : QString::number(r.numbersLeft);
}

bool WritePage(const QString &path, const QString &page, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write the page %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(page.toUtf8());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write the page %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString ReportText(const RecordReport &r, const ReportWindow &window)
{
    QString t =
        QStringLiteral("Production record %1\nWindow: %2\n").arg(r.source, WindowText(window));
    t += QStringLiteral("Units %1, passed %2, failed %3, yield %4\n")
             .arg(r.Units())
             .arg(r.Passed())
             .arg(r.Units() - r.Passed())
             .arg(Percent(YieldPercent(r.Passed(), r.Units())));
    t += QStringLiteral("Interrupted rounds (started, never ended) %1\n").arg(r.Interrupted());
    t += QStringLiteral("MAC numbers used %1, left %2\n").arg(r.numbersUsed).arg(LeftText(r));
    if (r.skippedLines > 0)
        t += QStringLiteral("Lines skipped (not a record line) %1\n").arg(r.skippedLines);

    t += QStringLiteral("\nStations\n  %1 %2 %3 %4 %5 %6\n")
             .arg(QStringLiteral("station"), -20)
             .arg(QStringLiteral("units"), 8)
             .arg(QStringLiteral("passed"), 8)
             .arg(QStringLiteral("failed"), 8)
             .arg(QStringLiteral("yield"), 8)
             .arg(QStringLiteral("interrupted"), 12);
    for (const ReportStation &s : r.stations)
        t += QStringLiteral("  %1 %2 %3 %4 %5 %6\n")
                 .arg(s.station, -20)
                 .arg(s.units, 8)
                 .arg(s.passed, 8)
                 .arg(s.units - s.passed, 8)
                 .arg(Percent(YieldPercent(s.passed, s.units)), 8)
                 .arg(s.interrupted, 12);

    t += QStringLiteral("\nUnits per hour\n  %1 %2 %3 %4 %5 %6\n")
             .arg(QStringLiteral("station"), -20)
             .arg(QStringLiteral("hour (UTC)"), -20)
             .arg(QStringLiteral("units"), 8)
             .arg(QStringLiteral("passed"), 8)
             .arg(QStringLiteral("failed"), 8)
             .arg(QStringLiteral("yield"), 8);
    for (const ReportHour &h : r.hours)
        t += QStringLiteral("  %1 %2 %3 %4 %5 %6\n")
                 .arg(h.station, -20)
                 .arg(TimeText(h.hourMs), -20)
                 .arg(h.units, 8)
                 .arg(h.passed, 8)
                 .arg(h.units - h.passed, 8)
                 .arg(Percent(YieldPercent(h.passed, h.units)), 8);

    t += QStringLiteral("\nFailures by step and cause\n");
    if (r.failures.isEmpty())
        t += QStringLiteral("  none\n");
    for (const ReportFailure &f : r.failures)
        t += QStringLiteral("  %1  %2  %3\n")
                 .arg(f.count, 6)
                 .arg(f.step.isEmpty() ? QStringLiteral("-") : f.step, -10)
                 .arg(OneLine(f.message));

    t += QStringLiteral("\nSlowest steps\n");
    for (const ReportSlowStep &s : r.slowest)
        t += QStringLiteral("  %1 ms  %2 %3 %4 %5\n")
                 .arg(s.durationMs, 8)
                 .arg(s.step, -10)
                 .arg(s.port, -14)
                 .arg(s.station, -20)
                 .arg(TimeText(s.timeMs));
    t += QStringLiteral("\nStep times (ms)\n  %1 %2 %3 %4 %5\n")
             .arg(QStringLiteral("step"), -12)
             .arg(QStringLiteral("steps"), 8)
             .arg(QStringLiteral("median"), 8)
             .arg(QStringLiteral("95%"), 8)
             .arg(QStringLiteral("max"), 8);
    for (const ReportStepTimes &s : r.stepTimes)
        t += QStringLiteral("  %1 %2 %3 %4 %5\n")
                 .arg(s.step, -12)
                 .arg(s.count, 8)
                 .arg(s.medianMs, 8)
                 .arg(s.p95Ms, 8)
                 .arg(s.maxMs, 8);
    return t;
}

QString ReportCsv(const RecordReport &r)
{
    QString t = QStringLiteral("station,hour,units,passed,failed,yield\n");
    for (const ReportHour &h : r.hours)
        t += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                 .arg(CsvField(h.station), TimeText(h.hourMs))
                 .arg(h.units)
                 .arg(h.passed)
                 .arg(h.units - h.passed)
                 .arg(YieldPercent(h.passed, h.units));
    return t;
}

QJsonObject ReportJson(const RecordReport &r, const ReportWindow &window)
{
    QJsonArray hours;
    for (const ReportHour &h : r.hours)
        hours.append(QJsonObject{{"station", h.station},
                                 {"hour", TimeText(h.hourMs)},
                                 {"units", h.units},
                                 {"passed", h.passed},
                                 {"failed", h.units - h.passed},
                                 {"yield", YieldPercent(h.passed, h.units)}});
    QJsonArray stations;
    for (const ReportStation &s : r.stations)
        stations.append(QJsonObject{{"station", s.station},
                                    {"units", s.units},
                                    {"passed", s.passed},
                                    {"failed", s.units - s.passed},
                                    {"yield", YieldPercent(s.passed, s.units)},
                                    {"interrupted", s.interrupted}});
    QJsonArray failures;
    for (const ReportFailure &f : r.failures)
        failures.append(QJsonObject{{"step", f.step}, {"message", f.message}, {"count", f.count}});
    QJsonArray slowest;
    for (const ReportSlowStep &s : r.slowest)
        slowest.append(QJsonObject{{"step", s.step},
                                   {"port", s.port},
                                   {"station", s.station},
                                   {"durationMs", s.durationMs},
                                   {"time", TimeText(s.timeMs)}});
    QJsonArray stepTimes;
    for (const ReportStepTimes &s : r.stepTimes)
        stepTimes.append(QJsonObject{{"step", s.step},
                                     {"count", s.count},
                                     {"medianMs", s.medianMs},
                                     {"p95Ms", s.p95Ms},
                                     {"maxMs", s.maxMs}});
    QJsonObject o{{"record", r.source},
                  {"units", r.Units()},
                  {"passed", r.Passed()},
                  {"failed", r.Units() - r.Passed()},
                  {"yield", YieldPercent(r.Passed(), r.Units())},
                  {"interrupted", r.Interrupted()},
                  {"numbersUsed", r.numbersUsed},
                  {"numbersLeft", r.numbersLeft < 0 ? QJsonValue() : QJsonValue(r.numbersLeft)},
                  {"skippedLines", r.skippedLines},
                  {"hours", hours},
                  {"stations", stations},
                  {"failures", failures},
                  {"slowestSteps", slowest},
                  {"stepTimes", stepTimes}};
    if (window.sinceMs != std::numeric_limits<qint64>::min())
        o.insert(QStringLiteral("since"), TimeText(window.sinceMs));
    if (window.untilMs != std::numeric_limits<qint64>::max())
        o.insert(QStringLiteral("until"), TimeText(window.untilMs));
    if (!window.station.isEmpty())
        o.insert(QStringLiteral("station"), window.station);
    return o;
}

QString ReportHelpText()
{
    return QStringLiteral(
        "Usage: tolvex report --record URL [--since T] [--until T] [--station NAME]\n"
        "                     [--csv | --json | --html FILE]\n"
        "\n"
        "What the production record says over the unit rounds that ended in the window:\n"
        "units per hour per station, passed, failed and yield; failures by step and cause;\n"
        "rounds that started and never ended (interrupted: a station killed mid-round);\n"
        "MAC numbers used (and left, when the record is a pool's database); the slowest\n"
        "steps with each step's median and 95th percentile.\n"
        "\n"
        "  --record URL   a JSON Lines record (PATH or file:PATH), sqlite:PATH or\n"
        "                 postgresql://[user@]host[:port]/dbname[?sslmode=...]\n"
        "  --since T      from T on (ISO 8601 date or date-time, UTC unless it says;\n"
        "                 a date alone is its midnight)\n"
        "  --until T      before T\n"
        "  --station NAME this station only\n"
        "  --csv          one row per station and hour: station,hour,units,passed,failed,yield\n"
        "  --json         one JSON object with every figure\n"
        "  --html FILE    one page with its charts inline, for any browser\n"
        "\n"
        "Exit status: 0 done, 3 the record cannot be read or the page cannot be written,\n"
        "64 usage error. Lines of a file that are not record lines are skipped and counted.\n");
}

int RunReportCommand(const QStringList &arguments)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        Print(stdout, ReportHelpText());
        return ExitStatus::kOk;
    }
    ReportArguments a;
    QString error;
    if (!Parse(arguments, &a, &error))
        return Fail(ExitStatus::kUsage, error + QStringLiteral("\nTry 'tolvex report --help'."));
    ReportWindow window;
    window.station = a.station;
    if (!a.since.isEmpty() && !ParseBound(a.since, &window.sinceMs))
        return Fail(ExitStatus::kUsage,
                    QStringLiteral("--since needs a date or date-time (2024-05-02, "
                                   "2024-05-02T09:00), not \"%1\"")
                        .arg(a.since));
    if (!a.until.isEmpty() && !ParseBound(a.until, &window.untilMs))
        return Fail(ExitStatus::kUsage,
                    QStringLiteral("--until needs a date or date-time (2024-05-02, "
                                   "2024-05-02T09:00), not \"%1\"")
                        .arg(a.until));
    RecordReport report;
    bool badUrl = false;
    if (!ReadRecordReport(a.record, window, &report, &error, &badUrl))
        return Fail(badUrl ? ExitStatus::kUsage : ExitStatus::kFileUnusable, error);
    if (report.skippedLines > 0)
        Print(stderr, QStringLiteral("tolvex: warning: lines skipped (not a record line) %1, in "
                                     "%2\n")
                          .arg(report.skippedLines)
                          .arg(report.source));
    if (!a.html.isEmpty()) {
        if (!WritePage(a.html, ReportHtml(report, window), &error))
            return Fail(ExitStatus::kFileUnusable, error);
    } else if (a.json) {
        Print(stdout,
              QString::fromUtf8(
                  QJsonDocument(ReportJson(report, window)).toJson(QJsonDocument::Compact)) +
                  QLatin1Char('\n'));
    } else if (a.csv) {
        Print(stdout, ReportCsv(report));
    } else {
        Print(stdout, ReportText(report, window));
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(ExitStatus::kFileUnusable,
                    QStringLiteral("standard output could not be written: the report is "
                                   "incomplete"));
    return ExitStatus::kOk;
}
