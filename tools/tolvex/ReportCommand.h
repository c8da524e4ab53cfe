#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct RecordReport;
struct ReportWindow;

// `tolvex report --record URL [--since T] [--until T] [--station S] [--csv|--json|--html FILE]`:
// what a line produced, from its production record. Takes the arguments after "report"; returns
// the exit status.
int RunReportCommand(const QStringList &arguments);

QString ReportHelpText();

// The report's formats; each shows every figure of one RecordReport and nothing else.
QString ReportText(const RecordReport &report, const ReportWindow &window);
QString ReportCsv(const RecordReport &report);
QJsonObject ReportJson(const RecordReport &report, const ReportWindow &window);
// One self-contained page: inline style and SVG charts, nothing loaded from elsewhere, no script.
QString ReportHtml(const RecordReport &report, const ReportWindow &window);
