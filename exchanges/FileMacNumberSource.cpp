#include "FileMacNumberSource.h"

FileMacNumberSource::FileMacNumberSource(const QString &counterPath, int lockTimeoutMs)
    : m_path(counterPath), m_lockTimeoutMs(lockTimeoutMs)
{
    m_thread.setObjectName(QStringLiteral("MAC counter"));
    m_worker = new HandOffQueue;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

FileMacNumberSource::~FileMacNumberSource()
{
    m_stopping = true;
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

QString FileMacNumberSource::Describe() const
{
    return QStringLiteral("MAC counter file %1").arg(m_path);
}

void FileMacNumberSource::Post(QObject *context, Done done, std::function<MacNumberReply()> step)
{
    RunThenAnswer<MacNumberReply>(m_worker, &m_relay, context, std::move(step), std::move(done));
}

void FileMacNumberSource::Take(const MacNumberHolder &, QObject *context, Done done)
{
    Post(context, std::move(done),
         [path = m_path, wait = Wait()] { return TakeMacNumber(path, wait); });
}

void FileMacNumberSource::MarkSent(int number, QObject *context, Done done)
{
    // Taking or claiming moved the counter past it already.
    Post(context, std::move(done), [number] {
        MacNumberReply reply;
        reply.ok = true;
        reply.number = number;
        return reply;
    });
}

void FileMacNumberSource::GiveBack(int number, QObject *context, Done done)
{
    Post(context, std::move(done),
         [path = m_path, number, wait = Wait()] { return ReturnMacNumber(path, number, wait); });
}

void FileMacNumberSource::Confirm(int number, const QString &, QObject *context, Done done)
{
    MarkSent(number, context, std::move(done));
}

void FileMacNumberSource::Void(int number, const QString &, QObject *context, Done done)
{
    MarkSent(number, context, std::move(done));
}

void FileMacNumberSource::Check(int number, QObject *context, Done done)
{
    Post(context, std::move(done),
         [path = m_path, number] { return CheckMacNumber(path, number); });
}

void FileMacNumberSource::Claim(int number, const MacNumberHolder &, QObject *context, Done done)
{
    Post(context, std::move(done),
         [path = m_path, number, wait = Wait()] { return ClaimMacNumber(path, number, wait); });
}
