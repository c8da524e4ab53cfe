#include "UnitRecord.h"

#include "EventOutput.h"
#include "ProductionRecord.h"
#include "TolvexVersion.h"

#include <QMetaObject>

UnitRecord::UnitRecord(const JobPlan &plan, const UnitPort &port, EventSink &clock,
                       ProductionRecord *record)
    : m_plan(plan), m_port(port), m_clock(clock), m_record(record),
      m_recordName(record ? record->Name() : QString())
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
        {"record", m_recordName},
        {"port", m_port.name},
        {"device", m_port.device},
        {"round", round},
    };
}

void UnitRecord::Append(const QJsonObject &line, QObject *context, Done done)
{
    if (m_record) {
        m_record->Append(line, context, std::move(done));
        return;
    }
    QMetaObject::invokeMethod(
        context, [done = std::move(done)] { done(QString()); }, Qt::QueuedConnection);
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

void UnitRecord::Start(int round, QObject *context, Done done)
{
    if (!m_record) {
        Append({}, context, std::move(done));
        return;
    }
    QJsonObject line = Line("start", round);
    QJsonArray steps;
    for (const StepPlan &step : m_plan.steps)
        steps.append(PlannedStep(step));
    line["steps"] = steps;
    Append(line, context, std::move(done));
}

void UnitRecord::Step(int round, const QJsonObject &fields, QObject *context, Done done)
{
    if (!m_record) {
        Append({}, context, std::move(done));
        return;
    }
    QJsonObject line = Line("step", round);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        line[it.key()] = it.value();
    Append(line, context, std::move(done));
}

void UnitRecord::Unit(int round, const QJsonObject &fields, QObject *context, Done done)
{
    if (!m_record) {
        Append({}, context, std::move(done));
        return;
    }
    QJsonObject line = Line("unit", round);
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        line[it.key()] = it.value();
    Append(line, context, std::move(done));
}
