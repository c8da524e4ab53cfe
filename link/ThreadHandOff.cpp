#include "ThreadHandOff.h"

#include <QCoreApplication>

namespace {

class JobEvent : public QEvent
{
public:
    static QEvent::Type Kind()
    {
        static const QEvent::Type kind = QEvent::Type(QEvent::registerEventType());
        return kind;
    }
    explicit JobEvent(std::function<void()> job) : QEvent(Kind()), m_job(std::move(job)) {}
    void Run() { m_job(); }

private:
    std::function<void()> m_job;
};

} // namespace

HandOffQueue::~HandOffQueue()
{
    // Queued jobs are deleted with this object, here, whoever posted them.
    HandOffAcquire(this);
}

void HandOffQueue::Post(std::function<void()> job)
{
    auto *event = new JobEvent(std::move(job));
    HandOffRelease(this);
    QCoreApplication::postEvent(this, event);
}

bool HandOffQueue::event(QEvent *event)
{
    HandOffAcquire(this); // before the event is read at all
    if (event->type() != JobEvent::Kind())
        return QObject::event(event);
    static_cast<JobEvent *>(event)->Run();
    return true;
}
