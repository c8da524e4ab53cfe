#pragma once

#include "MacCounter.h"
#include "MacNumberSource.h"

#include "link/ThreadHandOff.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>

// MAC numbers from the workstation's counter file (MacCounter.h). The file steps run in order
// on a worker thread of the source's own, so a lock held elsewhere never stalls the caller's
// event loop; each answer goes back through the thread that made the source. Take moves the
// counter past the number at once, so MarkSent, Confirm and Void have nothing left to do;
// GiveBack restores the counter only while nobody took one since. Contexts must live on the
// thread that made the source.
class FileMacNumberSource : public MacNumberSource
{
public:
    // `lockTimeoutMs`: how long a change waits for another program's lock before it answers
    // with an error naming the lock file.
    explicit FileMacNumberSource(const QString &counterPath, int lockTimeoutMs = 5000);
    // Waits for the step running on the worker (a lock wait ends at once); answers not yet
    // delivered are dropped.
    ~FileMacNumberSource() override;

    QString Describe() const override;
    const QString &Path() const { return m_path; }

    void Take(const MacNumberHolder &holder, QObject *context, Done done) override;
    void MarkSent(int number, QObject *context, Done done) override;
    void GiveBack(int number, QObject *context, Done done) override;
    void Confirm(int number, const QString &address, QObject *context, Done done) override;
    void Void(int number, const QString &reason, QObject *context, Done done) override;
    void Check(int number, QObject *context, Done done) override;
    void Claim(int number, const MacNumberHolder &holder, QObject *context, Done done) override;

private:
    // Runs `step` on the worker, then `done` with its reply on this thread while `context`
    // lives.
    void Post(QObject *context, Done done, std::function<MacNumberReply()> step);
    MacCounterWait Wait() const { return MacCounterWait{m_lockTimeoutMs, &m_stopping}; }

    QString m_path;
    int m_lockTimeoutMs;
    std::atomic_bool m_stopping{false};
    QThread m_thread;
    HandOffQueue *m_worker = nullptr; // lives on m_thread
    HandOffQueue m_relay;             // lives on the making thread; answers are posted to it
};
