#include "UnitRecord.h"

#include "EventOutput.h"
#include "ProductionRecord.h"
#include "TolvexVersion.h"

#include <QFileInfo>

UnitRecord::UnitRecord(const JobPlan &plan, const UnitPort &port, EventSink &clock,
                       ProductionRecord *record)
    : m_plan(plan), m_port(port), m_clock(clock), m_record(record),
      m_recordPath(plan.recordPath.isEmpty() ? QString()
                                             : QFileInfo(plan.recordPath).absoluteFilePath())
{
}

QJsonObject UnitRecord::Line(const char *kind, int round) const
{
    return QJsonObject{
        {"kind", QLatin1String(kind)},
        {"time", m_clock.TimeText()},
        {"version", QStringLiteral(TOLVEX_VERSION)},
        {"runId", m_plan.runId},
        {"station", m_plan.station},
        {"record", m_recordPath},
        {"port", m_port.name},
        {"device", m_port.device},
        {"round", round},
    };
}

bool UnitRecord::Append(const QJsonObject &line, QString *error)
{
    return !m_record || m_record->Append(line, error);
}

QJsonObject UnitRecord::PlannedStep(const StepPlan &step) const
{
    const StepOptions &options = step.options;
    QJsonObject entry{{"step", StepName(options.kind)}};
    switch (options.kind) {
    case StepKind::Write:
    case StepKind::Verify:
        entry["settingsFile"] = step.settingsFile;
        entry["settingsSha256"] = step.settingsSha256;
        break;
    case StepKind::Read:
        if (!options.outputPath.isEmpty())
            entry["output"] = ReadOutputPath(options, m_port);
        break;
    case StepKind::AssignMac:
        entry["mac"] = options.macSource == StepOptions::MacSource::Next
                           ? QStringLiteral("next")
                           : MacHex(options.macNumber);
        break;
    case StepKind::Download:
        entry["image"] = ImageJson(step.image);
        break;
    }
    return entry;
}

bool UnitRecord::Start(int round, QString *error)
{
    if (!m_record)
        return true;
    QJsonObject line = Line("start", round);
    QJsonArray steps;
    for (const StepPlan &step : m_plan.steps)
        steps.append(PlannedStep(step));
    line["steps"] = steps;
    return Append(line, error);
}

bool UnitRecord::Step(int round, const QJsonObject &fields, QString *error)
{
    if (!m_record)
        return true;
    QJsonObject line = Line("step", round);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        line[it.key()] = it.value();
    return Append(line, error);
}

bool UnitRecord::Unit(int round, const QJsonObject &fields, QString *error)
{
    if (!m_record)
        return true;
    QJsonObject line = Line("unit", round);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        line[it.key()] = it.value();
    return Append(line, error);
}
