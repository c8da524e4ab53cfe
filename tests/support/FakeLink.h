#pragma once

// A port and a window stand-in for tests of the protocol code: the port records what was
// written and is fed bytes by the test; the host records log lines and message boxes and
// holds the settings as plain data.

#include "link/ExchangeHost.h"
#include "link/PortIo.h"

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

    QStringList openedDevices;
    QList<OpenResult> openResults; // consumed one per Open; Opened when empty
    QList<QByteArray> writes;
    std::function<void(const QByteArray &)> onWrite;
    bool writeSucceeds = true;
    bool isOpen = false;
    int closeCount = 0;
};

class FakeHost : public ExchangeHost
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
    SettingsSnapshot ReadSettings() override { return settings; }
    void ApplySettingsUpdate(const SettingsUpdate &update) override { updates << update; }
    bool MacAssignmentMode() override { return macMode; }
    void SetProgressVisible(bool visible) override { progressVisible = visible; }
    void SetProgressPosition(int percent) override { progress << percent; }
    void DeleteBuildFiles() override { ++deleteBuildFilesCount; }
    QString ImageFilePath() override { return imagePath; }
    int ImageFileSize() override { return imageFileSize; }

    QStringList log;
    QList<Box> boxes;
    QStringList portErrors;
    QStringList events; // log lines, boxes and port boxes in the order they happened
    std::function<void()> whileBoxOpen; // runs while a "modal" box is shown
    int portNumber = 1;
    SettingsSnapshot settings;
    QList<SettingsUpdate> updates;
    bool macMode = false;
    bool progressVisible = false;
    QList<int> progress;
    int deleteBuildFilesCount = 0;
    QString imagePath;
    int imageFileSize = 0;
};
