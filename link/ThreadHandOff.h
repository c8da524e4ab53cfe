#pragma once

// ThreadSanitizer cannot see the locks inside Qt's own libraries, which are not built for it: a
// call queued on one thread and run on another, or the end of a QThread that wait() saw, looks
// to it like unsynchronised access. These mark such a hand-off for it: HandOffRelease on the
// side that hands over, just before it does, and HandOffAcquire first thing on the side that
// takes over, both naming the same address. In any other build they are nothing.

#if defined(__SANITIZE_THREAD__)
#define TOLVEX_TSAN_HANDOFF 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOLVEX_TSAN_HANDOFF 1
#endif
#endif

#ifdef TOLVEX_TSAN_HANDOFF
extern "C" void __tsan_acquire(void *address);
extern "C" void __tsan_release(void *address);
inline void HandOffRelease(const void *token)
{
    __tsan_release(const_cast<void *>(token));
}
inline void HandOffAcquire(const void *token)
{
    __tsan_acquire(const_cast<void *>(token));
}
#else
inline void HandOffRelease(const void *) {}
inline void HandOffAcquire(const void *) {}
#endif

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <functional>

// Runs jobs handed over from any thread on the thread it lives on, one after another in the
// order posted. A job is handed over whole in an event made by the poster, so ThreadSanitizer
// is told of every hand-off (a queued lambda is built inside Qt, after any mark could be set).
// Jobs still queued when it is destroyed are dropped unrun.
class HandOffQueue : public QObject
{
public:
    using QObject::QObject;
    ~HandOffQueue() override;

    // Safe from any thread.
    void Post(std::function<void()> job);

protected:
    bool event(QEvent *event) override;
};

// Runs `work` on `worker`'s thread, then `done` with its answer on `relay`'s thread, the thread
// that made `context`, and only while `context` still exists. `done` moves on with the answer,
// so it is only ever copied, run and destroyed on that thread.
template <typename Answer>
void RunThenAnswer(HandOffQueue *worker, HandOffQueue *relay, QObject *context,
                   std::function<Answer()> work, std::function<void(const Answer &)> done)
{
    QPointer<QObject> alive(context);
    worker->Post([relay, alive, work = std::move(work), done = std::move(done)]() mutable {
        const Answer answer = work();
        relay->Post([alive, done = std::move(done), answer] {
            if (alive)
                done(answer);
        });
    });
}
