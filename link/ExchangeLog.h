#pragma once

#include <QString>

// The kinds of message box; the caption follows the kind ("Error", "Warning", "Information",
// "Confirm").
enum class MessageKind
{
    Error,
    Warning,
    Information,
    Confirmation
};

// Where the exchanges report to the operator: the log and the message boxes. The window shows
// modal boxes; the production tool prints the same texts. Nothing here blocks for long in a
// host without a window.
class ExchangeLog
{
public:
    virtual ~ExchangeLog() = default;

    // Appends a line to the log. A CR, LF or CR LF inside the text breaks the line there.
    virtual void AppendLog(const QString &line) = 0;
    // A message box of the given kind with one OK button; returns when it was closed.
    virtual void ShowMessage(MessageKind kind, const QString &text) = 0;
    // The plain box the port operations use: caption "Error", OK only, no icon.
    virtual void ShowPortError(const QString &text) = 0;
    // The local date and time as the log's result lines carry it.
    virtual QString DateTimeText() = 0;
};

// Which device an exchange opens. The window reads its port number at every opening; the
// production tool gives each engine one fixed device.
class PortChoice
{
public:
    virtual ~PortChoice() = default;

    // The COM port number the operator chose, for messages ("Unable to open serial port 3").
    virtual int PortNumber() = 0;
    // The device that port number stands for on this platform.
    virtual QString PortDevice(int number) = 0;
};
