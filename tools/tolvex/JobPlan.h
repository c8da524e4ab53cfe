#pragma once

#include "CliOptions.h"
#include "UnitPorts.h"
#include "exchanges/MacNumberSource.h"
#include "settings/SettingsTypes.h"
#include "webpages/PageFileList.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// The web page image a download step sends: ready, or built once before the units start.
struct ImageInput
{
    QString source;     // the --image or --list file; empty for pages given on the line
    PageFileList pages; // what the build packs; empty for a ready image
    QByteArray bytes;   // the image, once ready
    QString sha256;     // of `bytes`, lower-case hex
    bool NeedsBuild() const { return bytes.isEmpty(); }
};

// One step with everything it needs read and checked in advance.
struct StepPlan
{
    StepOptions options;
    SettingsSnapshot settings; // write, verify: the file's settings over the initial ones
    QString settingsFile;      // write, verify: the settings file, absolute
    QString settingsSha256;    // write, verify: of the bytes read, checked and sent
    QStringList codes;         // verify: the codes of the lines the file holds and a write sends
    ImageInput image;          // download
};

// The whole run, checked before anything is sent to any unit.
struct JobPlan
{
    QList<StepPlan> steps;
    QList<UnitPort> ports;
    QString programFolder;
    QString counterPath;
    // Where the MAC steps get and report their numbers: made from `counterPath` for --next, and
    // for a typed number when the workstation keeps a counter; null otherwise.
    std::shared_ptr<MacNumberSource> macSource;
    int counterNext = -1;  // the number the counter held at the check; -1 without --next
    int numbersNeeded = 0; // MAC numbers the run takes at most (per round for a loop)
    QString recordPath;
    // How record lines and the plan name the record: the absolute file, or the database URL
    // without a password.
    QString recordName;
    QString portMapPath; // the COM name map used, empty for none
    QString station;
    // One run of this process: in the `run` event, every record line and every MAC number's
    // holder, so a record line leads back to the run and the numbers it took.
    QString runId;
    bool checkOnly = false; // --check: every check and the image build, nothing opened or sent
    int rounds = 1;
    bool loop = false;
    bool json = false;
    // A read prints the settings on standard output, so everything else goes to standard error.
    bool readToStdout = false;
};

// Resolves the ports and reads and checks every file the steps need: the settings files
// (validated exactly as the window does before a write), the MAC counter, the image or the
// page list and the image builder. False, with a message naming the file or port and the exit
// status to use, at the first problem; nothing has been sent then.
bool PrepareJob(const CliOptions &options, const QString &programFolder, JobPlan *plan,
                int *exitStatus, QString *error);

// The counter --next takes from: it holds a number, has `needed` numbers left, can be written
// and, with `lockToo` (--check; a run waits for the lock at each take instead), its lock
// taken. False with a message naming the file; *next is the number it holds.
bool CheckMacCounterUsable(const QString &path, int needed, bool lockToo, int *next,
                           QString *error);

// No port is known to be held by another program (a lock file) or closed to this user.
bool CheckPortsAccessible(const QList<UnitPort> &ports, QString *error);

// The record can be appended to (an existing writable file, or a folder that takes a new one);
// nothing is created.
bool CheckRecordWritable(const QString &path, QString *error);

// The image as events and record lines describe it: {source (absolute, or "" for pages given on
// the command line), size, sha256}.
QJsonObject ImageJson(const ImageInput &image);

// The file a read step with -o saves for the unit on `port` ("{port}" in the name replaced by
// the port's name as part of a file name), absolute; empty without -o.
QString ReadOutputPath(const StepOptions &options, const UnitPort &port);

// A fresh run id: 32 lower-case hex digits, random.
QString NewRunId();

// Hex SHA-256 of the bytes.
QString Sha256Hex(const QByteArray &bytes);
