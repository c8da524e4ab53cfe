#pragma once

#include "JobPlan.h"
#include "StepReport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class EventSink;
class ProductionRecord;

// One unit's lines in the production record (docs/tolvex-events.md): a `start` line when a
// round begins, so a process killed mid-round still leaves a trace; a `step` line as each step
// ends; a `unit` line with the round's verdict. Every line names the tool's version, the run,
// the station, the record itself, the port and the round, so a line read on its own says where
// it came from. Without a record every call succeeds and writes nothing.
class UnitRecord
{
public:
    UnitRecord(const JobPlan &plan, const UnitPort &port, EventSink &clock,
               ProductionRecord *record);

    // False with *error when the line could not be written whole.
    bool Start(int round, QString *error);
    // `fields` are the step-end event's own fields (step, result, details, ...).
    bool Step(int round, const QJsonObject &fields, QString *error);
    // `fields` are the round's verdict, as the `result` event carries it.
    bool Unit(int round, const QJsonObject &fields, QString *error);

    // The files a step of the plan uses for this unit, as the start and unit lines list them:
    // {step, settingsFile?, settingsSha256?, image?, output?, mac?}.
    QJsonObject PlannedStep(const StepPlan &step) const;

private:
    QJsonObject Line(const char *kind, int round) const;
    bool Append(const QJsonObject &line, QString *error);

    const JobPlan &m_plan;
    UnitPort m_port;
    EventSink &m_clock;
    ProductionRecord *m_record;
    QString m_recordPath; // absolute
};
