#pragma once

#include "settings/SettingsTypes.h"

#include <QString>

// The kinds of the toolkit's message dialog; the caption follows the kind ("Error",
// "Warning", "Information", "Confirm").
enum class MessageKind
{
    Error,
    Warning,
    Information,
    Confirmation
};

// What the exchanges need of the window: its log, its message boxes and the controls' values.
// The window implements it; tests implement it with plain data, so no exchange needs a widget.
class ExchangeHost
{
public:
    virtual ~ExchangeHost() = default;

    // Appends a line to the log. A CR, LF or CR LF inside the text breaks the line there.
    virtual void AppendLog(const QString &line) = 0;
    // A modal message dialog of the given kind with one OK button; returns when it was closed.
    virtual void ShowMessage(MessageKind kind, const QString &text) = 0;
    // The plain box the port operations use: caption "Error", OK only, no icon.
    virtual void ShowPortError(const QString &text) = 0;
    // The local date and time as the log's result lines carry it.
    virtual QString DateTimeText() = 0;

    // The COM port number chosen in the window, read at every opening.
    virtual int PortNumber() = 0;
    // The device that port number resolves to on this platform.
    virtual QString PortDevice(int number) = 0;

    // The settings as the controls hold them at this moment.
    virtual SettingsSnapshot ReadSettings() = 0;
    // Applies one parsed settings line to the controls, their click handlers included.
    virtual void ApplySettingsUpdate(const SettingsUpdate &update) = 0;
    // The workstation gives MAC addresses: the write then sends every settings line.
    virtual bool MacAssignmentMode() = 0;

    // The download's progress display.
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetProgressPosition(int percent) = 0;
    // Deletes the page copies and the image made for a download.
    virtual void DeleteBuildFiles() = 0;
    // The image file the download sends and its size as the build measured it.
    virtual QString ImageFilePath() = 0;
    virtual int ImageFileSize() = 0;
};
