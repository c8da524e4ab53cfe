#pragma once

#include "Dialogs.h"
#include "exchanges/MacAssignment.h"
#include "exchanges/MacNumberSource.h"

#include <QObject>
#include <functional>
#include <memory>

// "Send New MAC" over a MAC number source: the window wires its two boxes and its button to
// it. The boxes are sent as the operator typed them, but never a number the source shows as
// given out already without asking first; a number at or above the source's next one moves the
// source past it before its line goes out. While the source is asked the window stays live and
// Cancel ends the wait: then nothing is sent, and late answers are dropped.
class MacFlow : public QObject
{
    Q_OBJECT
public:
    // `start` starts the assignment on the window's engine.
    MacFlow(std::unique_ptr<MacNumberSource> source, Dialogs &dialogs, ExchangeLog &log,
            SettingsStore &settings, std::function<bool(Exchange &)> start,
            QObject *parent = nullptr);

    // Asks the source for the next number at start; `fill` gets its two box texts when the
    // answer comes. A source that cannot answer is reported and left as it is.
    void LoadBoxes(std::function<void(const QString &, const QString &)> fill);
    // The button.
    void Send(const QString &box1, const QString &box2);
    // Between the button and the exchange's start (or the end of the flow).
    bool Waiting() const { return m_waiting; }
    // Ends a wait for the source: nothing is sent.
    void Cancel();
    // The exchange started by this flow ended: the source hears whether the unit took it.
    void ExchangeFinished(const ExchangeResult &result);

    MacAssignment &Assignment() { return m_assignment; }
    MacNumberSource &Source() { return *m_source; }

signals:
    void WaitingChanged(bool waiting);

private:
    void SetWaiting(bool waiting);
    // `request` is still the flow's current one (not cancelled, not superseded).
    bool Current(int request) const { return m_waiting && request == m_request; }
    void OnChecked(int request, const MacNumberReply &reply);
    void OnClaimed(int request, const MacNumberReply &reply);
    void OnMarked(int request, const MacNumberReply &reply);
    // The operator agrees to send a number given out before, the source's next being `next`.
    bool AskToSendAgain(int next);
    void Fail(const QString &error);
    // A claim that moved the source arrived after a cancel: back where nobody took one since.
    void GiveBackLate(int number);

    std::unique_ptr<MacNumberSource> m_source;
    Dialogs &m_dialogs;
    ExchangeLog &m_log;
    std::function<bool(Exchange &)> m_start;
    MacAssignment m_assignment;
    bool m_waiting = false;
    int m_request = 0;
    int m_number = -1;
    bool m_asked = false;
};
