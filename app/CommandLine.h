#pragma once

#include <QString>
#include <QStringList>

// What the program was asked on its command line. The entry parses it before anything else, so
// --help and --version answer without a display.
struct CommandLine
{
    enum class Action
    {
        Run,         // start the window
        ShowHelp,    // print `text` to standard output, end with status 0
        ShowVersion, // print `text` to standard output, end with status 0
        Fail,        // print `text` to standard error, end with kUsageExitStatus
    };

    static constexpr int kUsageExitStatus = 2;

    Action action = Action::Run;
    // Shows the "Web Pages" tab, which the window otherwise keeps hidden.
    bool showWebPages = false;
    // Writes the traffic trace to this file from start-up on (appending); empty for none.
    QString tracePath;
    // Where "Send New MAC" takes its numbers from: a pool URL (sqlite:, postgresql://, file:);
    // empty for the workstation's counter file.
    QString poolUrl;
    // The help, the version line or the error, ending with a line break.
    QString text;
    // Fail only: every option refused was written with one dash, as the toolkit's own options
    // are (-platform, -style, ...), so it may yet be one of those.
    bool toolkitMayKnow = false;
};

// Parses the arguments as the system gave them (the first one is the program).
CommandLine ParseCommandLine(const QStringList &arguments);
