#pragma once

// A port and a host stand-in for tests of the protocol code: the port records what was
// written and is fed bytes by the test; the host records log lines and message boxes and
// holds the settings as plain data.

#include "exchanges/SettingsStore.h"
#include "link/ExchangeLog.h"
#include "link/PortIo.h"
#include "webpages/ImageDownload.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>

class FakePort : public PortIo
{
public:
    OpenResult Open(const QString &device) override
    {
        openedDevices << device;
        const OpenResult result =
            openResults.isEmpty() ? OpenResult::Opened : openResults.takeFirst();
        isOpen = result == OpenResult::Opened;
        return result;
    }
    void Close() override
    {
        isOpen = false;
        ++closeCount;
    }
    bool Write(const QByteArray &bytes) override
    {
        writes << bytes;
        if (onWrite)
            onWrite(bytes);
        return writeSucceeds && isOpen;
    }
    // Bytes from the unit, as a read of the port would return them.
    void Feed(const QByteArray &bytes) { Deliver(bytes); }
    // The device vanished: released at once, reported to the engine.
    void Lose()
    {
        isOpen = false;
        ReportLost();
    }

    QStringList openedDevices;
    QList<OpenResult> openResults; // consumed one per Open; Opened when empty
    QList<QByteArray> writes;
    std::function<void(const QByteArray &)> onWrite;
    bool writeSucceeds = true;
    bool isOpen = false;
    int closeCount = 0;
};

// Everything the exchanges ask of a host, as plain data: log lines, boxes (in order), the
// chosen port, the settings and the download's progress.
class FakeHost : public ExchangeLog,
                 public PortChoice,
                 public SnapshotSettingsStore,
                 public DownloadView
{
public:
    struct Box
    {
        MessageKind kind;
        QString text;
    };

    void AppendLog(const QString &line) override
    {
        log << line;
        events << QStringLiteral("log:") + line;
    }
    void ShowMessage(MessageKind kind, const QString &text) override
    {
        boxes.append({kind, text});
        events << QStringLiteral("box:") + text;
        if (whileBoxOpen)
            whileBoxOpen();
    }
    void ShowPortError(const QString &text) override
    {
        portErrors << text;
        events << QStringLiteral("port:") + text;
    }
    QString DateTimeText() override { return QStringLiteral("<now>"); }
    int PortNumber() override { return portNumber; }
    QString PortDevice(int number) override { return QStringLiteral("/dev/fake%1").arg(number); }
    void ApplySettingsUpdate(const SettingsUpdate &update) override
    {
        updates << update;
        SnapshotSettingsStore::ApplySettingsUpdate(update);
    }
    void SetProgressVisible(bool visible) override { progressVisible = visible; }
    void SetProgress(int percent, qint64 bytesSent, qint64 total) override
    {
        progress << percent;
        bytesShown = bytesSent;
        totalShown = total;
    }
    void DownloadEnded() override { ++downloadEndedCount; }

    QStringList log;
    QList<Box> boxes;
    QStringList portErrors;
    QStringList events; // log lines, boxes and port boxes in the order they happened
    std::function<void()> whileBoxOpen; // runs while a "modal" box is shown
    int portNumber = 1;
    QList<SettingsUpdate> updates;
    bool progressVisible = false;
    QList<int> progress;
    qint64 bytesShown = 0;
    qint64 totalShown = 0;
    int downloadEndedCount = 0;
};
