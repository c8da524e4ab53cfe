#pragma once

// Runs the built production tool (`tolvex`) for a test or a benchmark and keeps what it said:
// its exit status, both output streams and, for --json runs, its events. The event loop runs
// while it waits, so simulated units started by the same test keep reporting.

#include "EventWait.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TolvexRun
{
public:
    static QString Program() { return QStringLiteral(TOLVEX_BIN_DIR "/tolvex"); }

    // Starts `program` (the built tool unless given) with `arguments`; Wait() follows.
    void Start(const QStringList &arguments, const QString &program = Program())
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProgram(program);
        m_process->setArguments(arguments);
        m_process->setWorkingDirectory(m_workingDirectory);
        m_process->start();
    }
    QProcess &Process() { return *m_process; }
    // Where the next Start runs (relative paths resolve there); the test's own by default.
    void SetWorkingDirectory(const QString &folder) { m_workingDirectory = folder; }

    // Waits for the end; false when it did not end in time (it is then killed).
    bool Wait(int timeoutMs = 60000)
    {
        const bool ended = WaitFor(
            [this] {
                m_out += m_process->readAllStandardOutput();
                m_err += m_process->readAllStandardError();
                return m_process->state() == QProcess::NotRunning;
            },
            timeoutMs);
        if (!ended) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
        m_out += m_process->readAllStandardOutput();
        m_err += m_process->readAllStandardError();
        m_exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
        return ended;
    }

    // Waits, while it runs, for an event that `match` accepts.
    bool WaitForEvent(const std::function<bool(const QJsonObject &)> &match, int timeoutMs)
    {
        return WaitFor(
            [&] {
                m_out += m_process->readAllStandardOutput();
                m_err += m_process->readAllStandardError();
                for (const QJsonObject &event : Events()) {
                    if (match(event))
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

    // Waits, while it runs, until its standard output so far satisfies `match`.
    bool WaitForOutput(const std::function<bool(const QByteArray &)> &match, int timeoutMs)
    {
        return WaitFor(
            [&] {
                m_out += m_process->readAllStandardOutput();
                m_err += m_process->readAllStandardError();
                return match(m_out);
            },
            timeoutMs);
    }

    // Runs to the end in one call.
    bool Run(const QStringList &arguments, int timeoutMs = 60000)
    {
        Start(arguments);
        return Wait(timeoutMs);
    }

    int ExitCode() const { return m_exitCode; }
    QByteArray Out() const { return m_out; }
    QString Err() const { return QString::fromLocal8Bit(m_err); }

    // Every line of standard output as a JSON object; a line that is none gives an empty one.
    QList<QJsonObject> Events() const { return ParseLines(m_out); }
    QList<QJsonObject> Events(const QString &type, const QString &port = QString()) const
    {
        QList<QJsonObject> matching;
        for (const QJsonObject &event : Events()) {
            if (event.value("event").toString() == type &&
                (port.isEmpty() || event.value("port").toString() == port))
                matching << event;
        }
        return matching;
    }

    static QList<QJsonObject> ParseLines(const QByteArray &bytes)
    {
        QList<QJsonObject> objects;
        for (const QByteArray &line : bytes.split('\n')) {
            if (!line.isEmpty())
                objects << QJsonDocument::fromJson(line).object();
        }
        return objects;
    }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_workingDirectory;
    QByteArray m_out;
    QByteArray m_err;
    int m_exitCode = -1;
};
