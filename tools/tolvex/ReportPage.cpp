// The report as one HTML page a supervisor opens in any browser: everything inline (style and
// SVG charts), nothing loaded from elsewhere and no script, so it works from a mail attachment
// or a share without a network. Every text from the record is escaped.

#include "ReportCommand.h"

#include "pool/RecordReport.h"

#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QTimeZone>

#include <cmath>

#include <algorithm>

namespace {

const char *const kPalette[] = {"#3366cc", "#dc7633", "#2e9d5b", "#a93f9c",
                                "#c0392b", "#17a2b8", "#8d6e63", "#7f8c8d"};

QString Esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString Colour(int index)
{
    return QString::fromLatin1(kPalette[index % int(std::size(kPalette))]);
}

QString HourText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("MM-dd HH:00"));
}

QString Num(double v)
{
    return QString::number(v, 'f', 1);
}

// Units per hour, one bar per hour, stacked by station.
QString HoursChart(const RecordReport &r)
{
    QMap<qint64, QMap<QString, qint64>> byHour;
    for (const ReportHour &h : r.hours)
        byHour[h.hourMs][h.station] += h.units;
    if (byHour.isEmpty())
        return QStringLiteral("<p>No units in the window.</p>\n");
    QStringList stations;
    for (const ReportStation &s : r.stations)
        stations << s.station;
    qint64 top = 1;
    for (const auto &counts : byHour) {
        qint64 sum = 0;
        for (qint64 n : counts)
            sum += n;
        top = std::max(top, sum);
    }
    const int left = 50, bottom = 60, height = 260, plot = 900;
    const double slot = double(plot) / double(byHour.size());
    const double bar = std::clamp(slot * 0.8, 1.0, 60.0);
    // At most five steps on the axis, each 1, 2 or 5 times a power of ten units.
    qint64 tick = 1;
    for (qint64 magnitude = 1; tick * 5 < top; magnitude *= 10) {
        for (qint64 m : {1, 2, 5, 10}) {
            tick = m * magnitude;
            if (tick * 5 >= top)
                break;
        }
    }
    const qint64 steps = (top + tick - 1) / tick;
    top = tick * steps;
    const int labelEvery = std::max(1, int(std::ceil(60.0 / slot)));
    QString svg = QStringLiteral("<svg class=\"chart\" id=\"units-per-hour\" role=\"img\" "
                                 "viewBox=\"0 0 %1 %2\" xmlns=\"http://www.w3.org/2000/svg\">"
                                 "<title>Units per hour per station</title>\n")
                      .arg(left + plot + 10)
                      .arg(height + bottom + 10);
    svg += QStringLiteral("<line x1=\"%1\" y1=\"10\" x2=\"%1\" y2=\"%2\" class=\"axis\"/>"
                          "<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" class=\"axis\"/>\n")
               .arg(left)
               .arg(height + 10)
               .arg(left + plot);
    for (qint64 k = 0; k <= steps; ++k) {
        const double y = 10 + height - double(height) * double(k) / double(steps);
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"tick\" text-anchor=\"end\">%3"
                              "</text>\n")
                   .arg(left - 6)
                   .arg(Num(y + 4))
                   .arg(tick * k);
    }
    int i = 0;
    for (auto it = byHour.cbegin(); it != byHour.cend(); ++it, ++i) {
        const double x = left + slot * i + (slot - bar) / 2;
        double y = 10 + height;
        for (int s = 0; s < stations.size(); ++s) {
            const qint64 n = it.value().value(stations[s]);
            if (n == 0)
                continue;
            const double h = double(height) * double(n) / double(top);
            y -= h;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                                  "fill=\"%5\"><title>%6 %7 UTC: %8 units</title></rect>\n")
                       .arg(Num(x), Num(y), Num(bar), Num(h), Colour(s), Esc(stations[s]),
                            Esc(HourText(it.key())))
                       .arg(n);
        }
        if (i % labelEvery == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"tick\" text-anchor=\"end\" "
                                  "transform=\"rotate(-40 %1 %2)\">%3</text>\n")
                       .arg(Num(x + bar / 2))
                       .arg(height + 26)
                       .arg(Esc(HourText(it.key())));
    }
    svg += QStringLiteral("</svg>\n<p class=\"legend\">");
    for (int s = 0; s < stations.size(); ++s)
        svg += QStringLiteral("<span><span class=\"swatch\" style=\"background:%1\"></span>%2"
                              "</span> ")
                   .arg(Colour(s), Esc(stations[s]));
    return svg + QStringLiteral("</p>\n");
}

// Horizontal bars, one a row: a label, the bar and its value's text.
struct BarRow
{
    QString label;
    double value = 0;
    QString text;
    QString colour;
};

QString BarChart(const QString &id, const QString &title, const QList<BarRow> &rows, double top)
{
    if (rows.isEmpty())
        return QStringLiteral("<p>None.</p>\n");
    const int label = 220, plot = 600, row = 26;
    QString svg = QStringLiteral("<svg class=\"chart bars\" id=\"%1\" role=\"img\" viewBox=\"0 0 "
                                 "%2 %3\" xmlns=\"http://www.w3.org/2000/svg\"><title>%4</title>\n")
                      .arg(id)
                      .arg(label + plot + 120)
                      .arg(rows.size() * row + 10)
                      .arg(Esc(title));
    for (int i = 0; i < rows.size(); ++i) {
        const BarRow &b = rows[i];
        const double w = top > 0 ? plot * b.value / top : 0;
        const int y = 5 + i * row;
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"label\" text-anchor=\"end\">%3"
                              "</text><rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" "
                              "fill=\"%8\"/><text x=\"%9\" y=\"%2\" class=\"label\">%10</text>\n")
                   .arg(label - 8)
                   .arg(y + 17)
                   .arg(Esc(b.label))
                   .arg(label)
                   .arg(y + 3)
                   .arg(Num(std::max(w, 1.0)))
                   .arg(row - 8)
                   .arg(b.colour)
                   .arg(Num(label + std::max(w, 1.0) + 6))
                   .arg(Esc(b.text));
    }
    return svg + QStringLiteral("</svg>\n");
}

QString Table(const QStringList &heads, const QList<QStringList> &rows)
{
    QString t = QStringLiteral("<table><tr>");
    for (const QString &h : heads)
        t += QStringLiteral("<th>%1</th>").arg(Esc(h));
    t += QStringLiteral("</tr>\n");
    for (const QStringList &row : rows) {
        t += QStringLiteral("<tr>");
        for (const QString &cell : row)
            t += QStringLiteral("<td>%1</td>")
                     .arg(Esc(cell).replace(QLatin1Char('\n'), QLatin1String("<br>")));
        t += QStringLiteral("</tr>\n");
    }
    return t + QStringLiteral("</table>\n");
}

} // namespace

QString ReportHtml(const RecordReport &r, const ReportWindow &window)
{
    const QJsonObject figures = ReportJson(r, window);
    auto timeOf = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
    };
    QString period = ReportText(r, window).section(QLatin1Char('\n'), 1, 1);

    QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Production report</title>\n<style>\n"
        "body{font-family:sans-serif;margin:2em;color:#222;background:#fff;max-width:1100px}\n"
        "h1{font-size:1.6em;margin-bottom:.2em}h2{font-size:1.2em;margin-top:1.6em;"
        "border-bottom:1px solid #ccc}\n"
        ".summary{display:flex;flex-wrap:wrap;gap:1em;margin:1em 0}\n"
        ".figure{border:1px solid #ccc;border-radius:6px;padding:.6em 1em;min-width:8em}\n"
        ".figure b{display:block;font-size:1.6em}\n"
        ".chart{width:100%;height:auto;max-width:1000px}\n"
        ".axis{stroke:#555;stroke-width:1}.tick,.label{font-size:12px;fill:#333}\n"
        ".legend span{margin-right:1em}.swatch{display:inline-block;width:.9em;height:.9em;"
        "margin-right:.3em;vertical-align:middle}\n"
        "table{border-collapse:collapse;margin:.5em 0}td,th{border:1px solid #ccc;"
        "padding:.2em .6em;text-align:left;vertical-align:top}th{background:#f0f0f0}\n"
        ".warn{color:#a33}\n</style></head><body>\n");
    page += QStringLiteral("<h1>Production report</h1>\n<p>%1<br>%2</p>\n")
                .arg(Esc(r.source), Esc(period));
    const qint64 units = r.Units(), passed = r.Passed();
    page +=
        QStringLiteral("<div class=\"summary\">"
                       "<div class=\"figure\" id=\"units\">Units<b>%1</b></div>"
                       "<div class=\"figure\">Passed<b>%2</b></div>"
                       "<div class=\"figure\">Failed<b>%3</b></div>"
                       "<div class=\"figure\">Yield<b>%4 %</b></div>"
                       "<div class=\"figure\">Interrupted<b>%5</b></div>"
                       "<div class=\"figure\">MAC numbers used<b>%6</b></div>"
                       "<div class=\"figure\">MAC numbers left<b>%7</b></div></div>\n")
            .arg(units)
            .arg(passed)
            .arg(units - passed)
            .arg(Num(figures.value(QLatin1String("yield")).toDouble()))
            .arg(r.Interrupted())
            .arg(r.numbersUsed)
            .arg(r.numbersLeft < 0 ? QStringLiteral("unknown") : QString::number(r.numbersLeft));
    if (r.numbersLeft < 0)
        page += QStringLiteral("<p>MAC numbers left are unknown: only a pool's database knows "
                               "them, and this record is not one.</p>\n");
    if (r.skippedLines > 0)
        page += QStringLiteral("<p class=\"warn\">Lines skipped (not a record line): %1.</p>\n")
                    .arg(r.skippedLines);

    page += QStringLiteral("<h2>Units per hour per station (UTC)</h2>\n") + HoursChart(r);

    page += QStringLiteral("<h2>Yield per station</h2>\n");
    QList<BarRow> yields;
    QList<QStringList> stationRows;
    for (int i = 0; i < r.stations.size(); ++i) {
        const ReportStation &s = r.stations[i];
        const double y = YieldPercent(s.passed, s.units);
        yields.append(
            BarRow{s.station, y, QStringLiteral("%1 % of %2").arg(Num(y)).arg(s.units), Colour(i)});
        stationRows.append({s.station, QString::number(s.units), QString::number(s.passed),
                            QString::number(s.units - s.passed), Num(y) + QStringLiteral(" %"),
                            QString::number(s.interrupted)});
    }
    page += BarChart(QStringLiteral("yield-per-station"), QStringLiteral("Yield per station"),
                     yields, 100);
    page += Table({"Station", "Units", "Passed", "Failed", "Yield", "Interrupted"}, stationRows);

    page += QStringLiteral("<h2>Failures by step</h2>\n");
    QMap<QString, qint64> byStep;
    for (const ReportFailure &f : r.failures)
        byStep[f.step.isEmpty() ? QStringLiteral("(no step)") : f.step] += f.count;
    QList<BarRow> stepBars;
    qint64 most = 0;
    for (auto it = byStep.cbegin(); it != byStep.cend(); ++it) {
        stepBars.append(BarRow{it.key(), double(it.value()), QString::number(it.value()),
                               QStringLiteral("#c0392b")});
        most = std::max(most, it.value());
    }
    std::stable_sort(stepBars.begin(), stepBars.end(),
                     [](const BarRow &a, const BarRow &b) { return a.value > b.value; });
    page += BarChart(QStringLiteral("failures-by-step"), QStringLiteral("Failures by step"),
                     stepBars, double(most));
    QList<QStringList> failureRows;
    for (const ReportFailure &f : r.failures)
        failureRows.append({QString::number(f.count), f.step, f.message});
    if (!failureRows.isEmpty())
        page += Table({"Units", "Step", "Cause"}, failureRows);

    page += QStringLiteral("<h2>Slowest steps</h2>\n");
    QList<QStringList> slowRows;
    for (const ReportSlowStep &s : r.slowest)
        slowRows.append(
            {QString::number(s.durationMs), s.step, s.port, s.station, timeOf(s.timeMs)});
    page += Table({"ms", "Step", "Port", "Station", "Ended (UTC)"}, slowRows);
    QList<QStringList> timeRows;
    for (const ReportStepTimes &s : r.stepTimes)
        timeRows.append({s.step, QString::number(s.count), QString::number(s.medianMs),
                         QString::number(s.p95Ms), QString::number(s.maxMs)});
    page += Table({"Step", "Steps", "Median ms", "95th percentile ms", "Longest ms"}, timeRows);

    page += QStringLiteral("<h2>Units per hour</h2>\n");
    QList<QStringList> hourRows;
    for (const ReportHour &h : r.hours)
        hourRows.append({h.station, timeOf(h.hourMs), QString::number(h.units),
                         QString::number(h.passed), QString::number(h.units - h.passed),
                         Num(YieldPercent(h.passed, h.units)) + QStringLiteral(" %")});
    page += Table({"Station", "Hour (UTC)", "Units", "Passed", "Failed", "Yield"}, hourRows);
    return page + QStringLiteral("</body></html>\n");
}
