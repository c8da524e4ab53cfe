#include "DatabaseMacPool.h"

#include <QUuid>

DatabaseMacPool::DatabaseMacPool(const PoolUrl &url, const MacPoolTimeouts &timeouts)
    : m_url(url), m_timeouts(timeouts), m_state(std::make_unique<WorkerState>())
{
    m_description = QStringLiteral("MAC pool ") + PoolUrlText(url);
    m_thread.setObjectName(QStringLiteral("MAC pool"));
    m_worker = new HandOffQueue;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

DatabaseMacPool::~DatabaseMacPool()
{
    // The connection is closed on the thread that opened it, after every call made before.
    WorkerState *state = m_state.get();
    HandOffQueue *worker = m_worker;
    m_worker->Post([state, worker] {
        state->database.reset();
        // The thread's end, as wait() sees it, is a hand-off too.
        HandOffRelease(worker);
        QThread::currentThread()->quit();
    });
    m_thread.wait();
    delete m_worker;
}

QString DatabaseMacPool::Describe() const
{
    return m_description;
}

template <typename Reply>
void DatabaseMacPool::Post(QObject *context, std::function<Reply(WorkerState &)> work,
                           std::function<void(const Reply &)> done)
{
    WorkerState *state = m_state.get();
    const PoolUrl url = m_url;
    const MacPoolTimeouts timeouts = m_timeouts;
    RunThenAnswer<Reply>(
        m_worker, &m_relay, context,
        [state, work = std::move(work), url, timeouts] {
            if (!state->database)
                state->database = std::make_unique<MacPoolDatabase>(url, timeouts);
            return work(*state);
        },
        std::move(done));
}

void DatabaseMacPool::PostReply(QObject *context, std::function<MacNumberReply(WorkerState &)> work,
                                Done done)
{
    Post<MacNumberReply>(context, std::move(work), std::move(done));
}

void DatabaseMacPool::Take(const MacNumberHolder &holder, QObject *context, Done done)
{
    PostReply(
        context,
        [holder](WorkerState &s) {
            const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
            MacNumberReply reply = s.database->Take(holder, token);
            if (reply.ok)
                s.tokens.insert(reply.number, token);
            return reply;
        },
        std::move(done));
}

void DatabaseMacPool::MarkSent(int number, QObject *context, Done done)
{
    PostReply(
        context,
        [number](WorkerState &s) { return s.database->MarkSent(number, s.tokens.value(number)); },
        std::move(done));
}

void DatabaseMacPool::GiveBack(int number, QObject *context, Done done)
{
    PostReply(
        context,
        [number](WorkerState &s) {
            MacNumberReply reply = s.database->GiveBack(number, s.tokens.value(number));
            if (reply.ok)
                s.tokens.remove(number);
            return reply;
        },
        std::move(done));
}

void DatabaseMacPool::Confirm(int number, const QString &address, QObject *context, Done done)
{
    PostReply(
        context,
        [number, address](WorkerState &s) {
            MacNumberReply reply = s.database->Confirm(number, address);
            if (reply.ok)
                s.tokens.remove(number);
            return reply;
        },
        std::move(done));
}

void DatabaseMacPool::Void(int number, const QString &reason, QObject *context, Done done)
{
    PostReply(
        context,
        [number, reason](WorkerState &s) {
            MacNumberReply reply = s.database->Void(number, reason, s.tokens.value(number));
            if (reply.ok)
                s.tokens.remove(number);
            return reply;
        },
        std::move(done));
}

void DatabaseMacPool::Check(int number, QObject *context, Done done)
{
    PostReply(
        context,
        [number](WorkerState &s) { return s.database->Check(number, s.tokens.value(number)); },
        std::move(done));
}

void DatabaseMacPool::Claim(int number, const MacNumberHolder &holder, QObject *context, Done done)
{
    PostReply(
        context,
        [number, holder](WorkerState &s) {
            QString token = s.tokens.value(number);
            if (token.isEmpty())
                token = QUuid::createUuid().toString(QUuid::WithoutBraces);
            MacNumberReply reply = s.database->Claim(number, holder, token);
            if (reply.ok && !reply.givenBefore)
                s.tokens.insert(number, token);
            return reply;
        },
        std::move(done));
}

void DatabaseMacPool::LookUp(int number, QObject *context,
                             std::function<void(const MacNumberLookup &)> done)
{
    Post<MacNumberLookup>(
        context,
        [number](WorkerState &s) {
            const MacPoolLookup found = s.database->LookUp(number);
            MacNumberLookup reply;
            reply.ok = found.ok;
            reply.error = found.error;
            reply.confirmed = found.ok && found.state == MacPoolState::Confirmed;
            reply.state = found.state == MacPoolState::Missing ? QStringLiteral("not in the pool")
                                                               : MacPoolStateName(found.state);
            reply.address = found.address;
            return reply;
        },
        std::move(done));
}
