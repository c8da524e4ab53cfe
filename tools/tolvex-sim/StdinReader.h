#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Reads command lines from standard input without blocking the event loop. Standard input keeps
// its blocking mode (it may be shared with a terminal); it is read only when it is ready.
class StdinReader : public QObject
{
    Q_OBJECT
public:
    // Longer lines are cut here; no command comes near it.
    static constexpr int MaxLineLength = 4096;

    explicit StdinReader(QObject *parent = nullptr);

signals:
    void lineRead(const QByteArray &line);
    // Standard input ended (or was never open).
    void finished();

private:
    void readAvailable();

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_buffer;
};
