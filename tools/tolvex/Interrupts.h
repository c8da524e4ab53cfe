#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// The exit status for a run ended by `name` ("SIGINT", "SIGTERM", "SIGHUP"), as shells and
// supervisors read it: 128 plus the signal's number (130, 143, 129).
int SignalExitStatus(const QString &name);

// Ctrl-C and SIGTERM (and SIGHUP, a closed terminal) as a queued Qt signal, so the run ends
// through the event loop: every exchange is cancelled cleanly and every port closed. The
// handler itself only writes one byte to a socket pair.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    explicit Interrupts(QObject *parent = nullptr);
    // On Windows a console close, logoff or shutdown waits in its handler until this runs (the
    // system ends the process as soon as the handler returns): destroy it once the ports are
    // closed. Elsewhere the signals are ignored from then on, as the process is ending with
    // the status it reported.
    ~Interrupts() override;

signals:
    // `name`: "SIGINT", "SIGTERM", "SIGHUP".
    void Received(const QString &name);

private:
    QSocketNotifier *m_notifier = nullptr;
};

// Lines from standard input, read on the event loop; Finished at its end.
class StdinLines : public QObject
{
    Q_OBJECT
public:
    explicit StdinLines(QObject *parent = nullptr);
    // On Windows the reader thread is told to stop and posts nothing more once this returns.
    ~StdinLines() override;

signals:
    void LineRead(const QString &line);
    void Finished();

private:
    void OnReadable();

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    // Windows: what the reader thread shares with this object, kept alive by the thread.
    struct Reader;
    std::shared_ptr<Reader> m_reader;
};
