#pragma once

#include "JobPlan.h"
#include "StepReport.h"
#include "UnitRecord.h"
#include "exchanges/SettingsStore.h"
#include "link/ExchangeEngine.h"
#include "link/QtSerialPortIo.h"
#include "webpages/ImageDownload.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <memory>

class EventSink;
class ProductionRecord;

// One port and the unit on it: its own port, engine and exchanges, running the plan's steps
// one after another, all on the event loop, and never waiting for anything, so one unit never
// holds up another. It keeps the step order and the exchanges; StepReport words the results
// as events, UnitRecord writes the record lines.
class UnitJob : public QObject, private ExchangeLog, private PortChoice, private DownloadView
{
    Q_OBJECT
public:
    UnitJob(const JobPlan &plan, const UnitPort &port, EventSink &events, ProductionRecord *record,
            QObject *parent = nullptr);
    ~UnitJob() override;

    // Runs every step on the unit now on the port; `round` counts from 1. The first step
    // starts from the event loop once the round's start line is answered. False, with nothing
    // changed, while a round runs.
    bool StartRound(int round);
    // A round that is cancelled before it could start (during the image build): it ends
    // from the event loop, with its "cancelled" step in the events and the record.
    bool CancelBeforeStart(int round, const QString &byWhom);
    // Ends the running exchange cleanly (a download tells the unit its transfer is over), so
    // the round ends as cancelled. Nothing happens when the round is over.
    void Cancel(const QString &byWhom);
    // The 100 ms tick: time-outs and retries.
    void Tick() { m_engine.Tick(); }

    bool Running() const { return m_running; }
    const UnitOutcome &Outcome() const { return m_outcome; }
    // The `result` event of the last round that ended; the gang emits it with the others.
    const QJsonObject &ResultEvent() const { return m_resultEvent; }
    const UnitPort &Port() const { return m_unitPort; }

signals:
    // Exactly once for every round started, when it ends and its unit line was answered; a
    // receiver starts nothing from here.
    void RoundFinished(UnitJob *job, int round);

private:
    bool BeginRound(int round);
    // Queues the step m_stepIndex of this round: steps start from the event loop only, never
    // inside the call of the exchange that ended, which is still on the stack then.
    void QueueStep();
    void StartStep();
    // Hands the engine a new exchange, and its store, in place of the last; refused while
    // the engine runs one, so an exchange is never released while its engine runs it.
    bool Launch(std::unique_ptr<SnapshotSettingsStore> store, std::unique_ptr<Exchange> exchange);
    void OnFinished(const ExchangeResult &result);
    // A step's end and the round's end each write their record line first, and go on when
    // its answer came: a line that could not be written fails the step, or an ok round.
    void EndStep(const StepOutcome &outcome);
    void StepWritten(StepOutcome outcome, const QJsonObject &fields, const QString &error);
    void EndRound();
    void UnitWritten(QJsonObject verdict, const QString &error);
    // Saves or prints what a read found; a failure to do so fails the step.
    void SaveRead(const CommandQueue &lines, StepOutcome *outcome);
    // The MAC step around its exchange: the number is taken (or a typed one claimed) and marked
    // sent before its line goes out; afterwards the source hears how it went, and a taken
    // number that never went out is given back. Each waits for the source without stalling
    // anything else; a cancel meanwhile sends nothing.
    void ReserveMacNumber(const QJsonObject &stepEvent);
    // --next from a source that keeps addresses: the unit's address is read first ("ma" only)
    // and looked up; a reworked unit whose number is confirmed for that address keeps it
    // (result "kept", nothing sent), any other takes a new one.
    void ReadMacAddress();
    void MacAddressRead(const ExchangeResult &result, const StepOutcome &outcome);
    void TakeMacNumber();
    // The step event goes out once, before the address read or else before the "ma" line.
    void EmitMacStep(const QJsonObject &stepEvent);
    void MarkMacNumberSent(int number);
    void StartMacExchange(QJsonObject stepEvent, int number);
    void MacSourceFailed(const QJsonObject &stepEvent, const QString &error);
    void FinishMac(const ExchangeResult &result, StepOutcome outcome);
    MacNumberHolder MacHolder() const;
    // Whether the answer to MAC source request `request` still matters.
    bool MacRequestCurrent(int request) const { return request == m_macRequest; }
    const StepPlan &CurrentStep() const { return m_plan.steps.at(m_stepIndex); }

    // ExchangeLog: log lines become events; boxes are carried by the result instead.
    void AppendLog(const QString &line) override;
    void ShowMessage(MessageKind kind, const QString &text) override;
    void ShowPortError(const QString &text) override;
    QString DateTimeText() override;
    // PortChoice
    int PortNumber() override { return m_unitPort.number; }
    QString PortDevice(int) override { return m_unitPort.device; }
    // DownloadView
    void SetProgressVisible(bool visible) override;
    void SetProgress(int percent, qint64 bytesSent, qint64 total) override;
    void DownloadEnded() override {}

    const JobPlan &m_plan;
    UnitPort m_unitPort;
    StepReport m_report;
    UnitRecord m_record;

    QtSerialPortIo m_port;
    ExchangeEngine m_engine;
    std::unique_ptr<SnapshotSettingsStore> m_store;
    std::unique_ptr<Exchange> m_exchange;

    int m_round = 0;
    int m_stepIndex = 0;
    bool m_running = false;
    bool m_cancelRequested = false;
    // A record line is being written: nothing of the round moves on until it is answered.
    bool m_lineWriting = false;
    QString m_cancelledBy;
    QElapsedTimer m_roundClock;
    QElapsedTimer m_stepClock;
    QJsonArray m_stepsDone;
    QString m_unitVersion;
    UnitOutcome m_outcome;
    QJsonObject m_resultEvent;
    QString m_outcomeMessage;
    QString m_failedStep;
    // The start line could not be written: the round's first step fails before anything is
    // sent, with this message.
    QString m_startError;
    // The MAC step: the number and whether it came from the counter.
    int m_macNumber = -1;
    bool m_macFromCounter = false;
    QString m_macAddress;
    QString m_macSent; // 4 hex digits, once its line went out this round
    // The MAC step's own line, the one that names the number sent, could not be written: the
    // unit line says so, as the only line with that number.
    bool m_macStepUnrecorded = false;
    QString m_macAnswered; // the unit's answer to it
    // Counts requests to the MAC source; a cancel moves it on, so late answers are dropped.
    int m_macRequest = 0;
    // Waiting for the source before the exchange: the step event not yet emitted.
    bool m_macReserving = false;
    bool m_macReading = false; // the unit's address is being read
    bool m_macStepEmitted = false;
    QJsonObject m_macStepEvent;
};
