#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The command line of the production tool: one or more steps joined by a lone "+", run one
// after another on every port, and options that apply to the whole run.

enum class StepKind
{
    Read,
    Write,
    Verify,
    AssignMac,
    Download,
};

// The command name of a step: "read", "write", "verify", "assign-mac", "download".
QString StepName(StepKind kind);

struct StepOptions
{
    StepKind kind = StepKind::Read;
    QString settingsPath;  // write, verify: the settings file
    QString outputPath;    // read: -o FILE; "{port}" stands for the port's name
    bool allLines = false; // write, verify: every settings line, whatever the check boxes say
    enum class MacSource
    {
        None,
        Fixed, // --mac HHHH
        Next,  // --next: taken from the counter file
    };
    MacSource macSource = MacSource::None;
    int macNumber = -1;
    // --new (with --next): a new number even for a unit whose number the pool shows as
    // confirmed for its address; without it such a reworked unit keeps its number.
    bool newMac = false;
    QString listPath;  // download --list
    QString imagePath; // download --image
    QStringList pages; // download PAGE...
};

struct CliOptions
{
    enum class Action
    {
        Run,
        Ports,
        Help,
        Version,
    };
    Action action = Action::Run;
    QString helpTopic; // a command name, or empty for the program's help
    QList<StepOptions> steps;
    QStringList ports;
    bool json = false;
    bool plain = false;
    QString recordPath;
    QString counterPath; // empty: the default path
    QString poolUrl;     // --pool: a MAC pool (sqlite:, postgresql://); empty: the counter file
    QString station;     // empty: the host name
    int rounds = 1;
    bool loop = false;
    bool check = false;   // --check: every check before a shift, nothing opened or sent
    QString stationFile;  // --station-file: the station's defaults, the command line overrides
    QString comportsPath; // --comports: the COM name map; empty: ComPorts.txt where it is kept
};

// Reads the arguments after the program's name. False with *error (one line) for a usage
// error; files and ports are not looked at here.
bool ParseCliOptions(const QStringList &arguments, CliOptions *options, QString *error);

// Fills in what the command line left out from the station file named by
// `options->stationFile` (a no-op without one), then checks the whole as ParseCliOptions does.
// The file holds "key = value" lines: name, port (one a line, or several separated by blanks),
// steps (a command line's steps), counter, record, comports; "#" starts a comment. Relative
// paths in it are taken from the file's folder. The command line's ports, steps and options
// win over the file's. False with *error and *exitStatus (3 for a file that cannot be read or
// holds a bad line, 64 for a usage error in the result).
bool ApplyStationFile(CliOptions *options, QString *error, int *exitStatus);

// The help for `topic` (a command name), or for the program when empty.
QString HelpText(const QString &topic);

// Exit statuses; the unit's own error numbers where one applies.
namespace ExitStatus {
constexpr int kOk = 0;
constexpr int kNotFound = 2;        // errors 1, 2 and 4: no unit, or an unsupported version
constexpr int kFileUnusable = 3;    // a file could not be read or used
constexpr int kMismatch = 6;        // a difference, or a line the unit refused
constexpr int kNoCommunication = 7; // silence, a port that does not open, a lost device
constexpr int kUsage = 64;
constexpr int kCancelled = 130; // 128 + SIGINT; SIGTERM gives 143 and SIGHUP 129
} // namespace ExitStatus
