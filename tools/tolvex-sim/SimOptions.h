#pragma once

#include "FaultSettings.h"

#include <QString>
#include <QStringList>

// Everything the simulated unit is told at start.
struct SimOptions
{
    QString linkPath; // symbolic link kept pointing at the current slave device
    QString imageOut; // file that receives each transferred image, padding included
    QString unpackTo; // folder that receives the files of each transferred image
    bool exitOnStdinEof = false;
    quint32 seed = 1; // noise generator seed, so a noisy run can be repeated
    FaultSettings faults;
};

enum class OptionsResult
{
    Run,
    HelpShown,
    Error
};

// Reads the command line. Prints the help for --help; on a bad option returns Error with a
// message and leaves printing to the caller.
OptionsResult ParseSimOptions(const QStringList &arguments, SimOptions *options, QString *error);
