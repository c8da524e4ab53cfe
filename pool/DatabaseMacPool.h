#pragma once

#include "MacPoolDatabase.h"
#include "exchanges/MacNumberSource.h"

#include "link/ThreadHandOff.h"

#include <QHash>
#include <QThread>
#include <functional>
#include <memory>

// A MAC pool in a database as a MacNumberSource: Take reserves (station, port, run id and a
// lease), MarkSent commits "sent" before it answers, GiveBack frees a reservation that never
// went out, Confirm and Void end a number's life, Check and Claim handle a typed number.
// Every call runs on a worker thread of its own, with its own connection (QtSql's rule), so a
// slow or lost database never stalls the caller's event loop; calls run one after another in
// the order made. A lost connection is opened again at the next call. Every call needs a
// `context`; its answer comes on the context's thread, and never once the context is gone.
class DatabaseMacPool : public MacNumberSource
{
public:
    explicit DatabaseMacPool(const PoolUrl &url, const MacPoolTimeouts &timeouts = {});
    // Waits for the calls made so far to end (each is bounded by the time-outs).
    ~DatabaseMacPool() override;

    QString Describe() const override;
    void Take(const MacNumberHolder &holder, QObject *context, Done done) override;
    void MarkSent(int number, QObject *context, Done done) override;
    void GiveBack(int number, QObject *context, Done done) override;
    void Confirm(int number, const QString &address, QObject *context, Done done) override;
    void Void(int number, const QString &reason, QObject *context, Done done) override;
    void Check(int number, QObject *context, Done done) override;
    void Claim(int number, const MacNumberHolder &holder, QObject *context, Done done) override;

    // The pool records the address each number was confirmed with.
    bool KnowsAddresses() const override { return true; }
    void LookUp(int number, QObject *context,
                std::function<void(const MacNumberLookup &)> done) override;

private:
    // Lives on the worker thread and is touched only there.
    struct WorkerState
    {
        std::unique_ptr<MacPoolDatabase> database;
        QHash<int, QString> tokens; // number -> the token of this process's reservation
    };

    template <typename Reply>
    void Post(QObject *context, std::function<Reply(WorkerState &)> work,
              std::function<void(const Reply &)> done);
    void PostReply(QObject *context, std::function<MacNumberReply(WorkerState &)> work, Done done);

    PoolUrl m_url;
    MacPoolTimeouts m_timeouts;
    QString m_description;
    QThread m_thread;
    HandOffQueue *m_worker = nullptr; // lives on m_thread
    HandOffQueue m_relay;             // lives on the making thread; answers are posted to it
    std::unique_ptr<WorkerState> m_state;
};
