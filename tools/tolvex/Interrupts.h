#pragma once

#include <QObject>

class QSocketNotifier;

// Ctrl-C and SIGTERM (and SIGHUP, a closed terminal) as a queued Qt signal, so the run ends
// through the event loop: every exchange is cancelled cleanly and every port closed. The
// handler itself only writes one byte to a socket pair.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    explicit Interrupts(QObject *parent = nullptr);
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

signals:
    void LineRead(const QString &line);
    void Finished();

private:
    void OnReadable();

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};
