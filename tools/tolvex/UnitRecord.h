#pragma once

#include "JobPlan.h"
#include "ProductionRecord.h"
#include "StepReport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class EventSink;

// One unit's lines in the production record (docs/tolvex-events.md): a `start` line when a
// round begins, so a process killed mid-round still leaves a trace; a `step` line as each step
// ends; a `unit` line with the round's verdict. Every line names the tool's version, the run,
// the station, the record itself, the port and the round, so a line read on its own says where
// it came from. Each call answers once through `done` on `context`, from the event loop, with
// an empty error once the line is written; without a record it answers so at once.
class UnitRecord
{
public:
    UnitRecord(const JobPlan &plan, const UnitPort &port, EventSink &clock,
               ProductionRecord *record);

    using Done = ProductionRecord::Done;
    void Start(int round, QObject *context, Done done);
    // `fields` are the step-end event's own fields (step, result, details, ...).
    void Step(int round, const QJsonObject &fields, QObject *context, Done done);
    // `fields` are the round's verdict, as the `result` event carries it.
    void Unit(int round, const QJsonObject &fields, QObject *context, Done done);

    // The files a step of the plan uses for this unit, as the start and unit lines list them:
    // {step, settingsFile?, settingsSha256?, image?, output?, mac?}.
    QJsonObject PlannedStep(const StepPlan &step) const;

private:
    QJsonObject Line(const char *kind, int round) const;
    void Append(const QJsonObject &line, QObject *context, Done done);

    const JobPlan &m_plan;
    UnitPort m_port;
    EventSink &m_clock;
    ProductionRecord *m_record;
    QString m_recordName;
};
