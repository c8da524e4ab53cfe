#include "MacFlow.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumber.h"

MacFlow::MacFlow(std::unique_ptr<MacNumberSource> source, Dialogs &dialogs, ExchangeLog &log,
                 SettingsStore &settings, std::function<bool(Exchange &)> start, QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_dialogs(dialogs), m_log(log),
      m_start(std::move(start)), m_assignment(settings)
{
}

void MacFlow::LoadBoxes(std::function<void(const QString &, const QString &)> fill)
{
    m_source->Check(-1, this, [this, fill](const MacNumberReply &reply) {
        if (!reply.ok) {
            m_dialogs.Message(MessageKind::Error, reply.error);
            return;
        }
        QString box1;
        QString box2;
        MacNumberToBoxes(reply.next, &box1, &box2);
        fill(box1, box2);
    });
}

void MacFlow::SetWaiting(bool waiting)
{
    if (m_waiting == waiting)
        return;
    m_waiting = waiting;
    emit WaitingChanged(waiting);
}

void MacFlow::Send(const QString &box1, const QString &box2)
{
    if (m_waiting)
        return;
    int number = 0;
    if (!MacNumberFromBoxes(box1, box2, &number)) {
        m_log.ShowMessage(MessageKind::Warning, QStringLiteral("MAC Error"));
        return;
    }
    m_number = number;
    m_asked = false;
    const int request = ++m_request;
    SetWaiting(true);
    m_source->Check(number, this,
                    [this, request](const MacNumberReply &reply) { OnChecked(request, reply); });
}

void MacFlow::Cancel()
{
    if (!m_waiting)
        return;
    ++m_request;
    SetWaiting(false);
    m_log.AppendLog(QStringLiteral("MAC number %1 not sent: cancelled").arg(MacNumberText(m_number)));
}

void MacFlow::Fail(const QString &error)
{
    SetWaiting(false);
    m_dialogs.Message(MessageKind::Error, error);
}

bool MacFlow::AskToSendAgain(int next)
{
    m_asked = true;
    return m_dialogs.AskYesNo(
               QStringLiteral("MAC number %1 was given out already; the counter is at %2. "
                              "Send it again?")
                   .arg(MacNumberText(m_number), MacNumberText(next))) == Dialogs::Answer::Yes;
}

void MacFlow::OnChecked(int request, const MacNumberReply &reply)
{
    if (!Current(request))
        return;
    if (!reply.ok) {
        Fail(reply.error);
        return;
    }
    if (reply.givenBefore) {
        const bool yes = AskToSendAgain(reply.next);
        // Cancel (or Esc) while the question was open ends the flow as well.
        if (!Current(request))
            return;
        if (!yes) {
            SetWaiting(false);
            return;
        }
    }
    m_source->Claim(
        m_number, MacNumberHolder{}, this,
        [this, request](const MacNumberReply &claimed) { OnClaimed(request, claimed); });
}

void MacFlow::OnClaimed(int request, const MacNumberReply &reply)
{
    const bool moved = reply.ok && !reply.givenBefore;
    if (!Current(request)) {
        // Cancelled while the claim waited: the number never went out.
        if (moved)
            GiveBackLate(reply.number);
        return;
    }
    if (!reply.ok) {
        Fail(reply.error);
        return;
    }
    // Given out by another program between the check and the claim: the claim left the source
    // where it was, so the operator can still say no.
    if (reply.givenBefore && !m_asked) {
        const bool yes = AskToSendAgain(reply.next);
        if (!Current(request))
            return;
        if (!yes) {
            SetWaiting(false);
            return;
        }
    }
    m_source->MarkSent(m_number, this, [this, request, moved](const MacNumberReply &marked) {
        if (!Current(request) && moved)
            GiveBackLate(marked.number);
        OnMarked(request, marked);
    });
}

void MacFlow::OnMarked(int request, const MacNumberReply &reply)
{
    if (!Current(request))
        return;
    if (!reply.ok) {
        Fail(reply.error);
        return;
    }
    SetWaiting(false);
    m_assignment.SetNumber(m_number);
    m_start(m_assignment);
}

void MacFlow::GiveBackLate(int number)
{
    m_source->GiveBack(number, this, [](const MacNumberReply &) {});
}

void MacFlow::ExchangeFinished(const ExchangeResult &result)
{
    if (!m_assignment.NumberSent())
        return;
    const int number = m_assignment.Number();
    auto ignore = [](const MacNumberReply &) {};
    if (m_assignment.NumberTaken() && result.Succeeded()) {
        m_source->Confirm(number, m_assignment.AnsweredAddress(), this, ignore);
    } else {
        const QString reason = result.boxText.isEmpty() ? result.logLine : result.boxText;
        m_source->Void(number, reason, this, ignore);
    }
}
