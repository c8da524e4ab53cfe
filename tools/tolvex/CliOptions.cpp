#include "CliOptions.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumber.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <functional>
#include <optional>

namespace {

const QStringList kCommands = {"ports", "read", "write", "verify", "assign-mac", "download"};

std::optional<StepKind> StepFromName(const QString &name)
{
    if (name == QLatin1String("read"))
        return StepKind::Read;
    if (name == QLatin1String("write"))
        return StepKind::Write;
    if (name == QLatin1String("verify"))
        return StepKind::Verify;
    if (name == QLatin1String("assign-mac"))
        return StepKind::AssignMac;
    if (name == QLatin1String("download"))
        return StepKind::Download;
    return std::nullopt;
}

bool IsHelp(const QString &arg)
{
    return arg == QLatin1String("-h") || arg == QLatin1String("--help");
}

// The options every step shares, wherever they stand on the line.
bool TakeSharedOption(const QString &name, const std::function<bool(QString *)> &value,
                      CliOptions *o, bool *known, QString *error)
{
    *known = true;
    QString text;
    if (name == QLatin1String("--port") || name == QLatin1String("-p")) {
        if (!value(&text))
            return false;
        o->ports << text;
    } else if (name == QLatin1String("--json")) {
        o->json = true;
    } else if (name == QLatin1String("--plain")) {
        o->plain = true;
    } else if (name == QLatin1String("--record")) {
        if (!value(&o->recordPath))
            return false;
    } else if (name == QLatin1String("--counter")) {
        if (!value(&o->counterPath))
            return false;
    } else if (name == QLatin1String("--pool")) {
        if (!value(&o->poolUrl))
            return false;
    } else if (name == QLatin1String("--station")) {
        if (!value(&o->station))
            return false;
    } else if (name == QLatin1String("--rounds")) {
        if (!value(&text))
            return false;
        bool ok = false;
        o->rounds = text.toInt(&ok);
        if (!ok || o->rounds < 1) {
            *error =
                QStringLiteral("--rounds needs a whole number of at least 1, not \"%1\"").arg(text);
            return false;
        }
    } else if (name == QLatin1String("--loop")) {
        o->loop = true;
    } else if (name == QLatin1String("--check")) {
        o->check = true;
    } else if (name == QLatin1String("--station-file")) {
        if (!value(&o->stationFile))
            return false;
    } else if (name == QLatin1String("--comports")) {
        if (!value(&o->comportsPath))
            return false;
    } else {
        *known = false;
    }
    return true;
}

bool TakeStepOption(const QString &name, const std::function<bool(QString *)> &value,
                    StepOptions *step, QString *error)
{
    const QString command = StepName(step->kind);
    auto wrongStep = [&](const char *owner) {
        *error =
            QStringLiteral("%1 belongs to %2, not to %3").arg(name, QLatin1String(owner), command);
        return false;
    };
    QString text;
    if (name == QLatin1String("-o") || name == QLatin1String("--output")) {
        if (step->kind != StepKind::Read)
            return wrongStep("read");
        return value(&step->outputPath);
    }
    if (name == QLatin1String("--all-lines")) {
        if (step->kind != StepKind::Write && step->kind != StepKind::Verify)
            return wrongStep("write and verify");
        step->allLines = true;
        return true;
    }
    if (name == QLatin1String("--mac") || name == QLatin1String("--next")) {
        if (step->kind != StepKind::AssignMac)
            return wrongStep("assign-mac");
        if (step->macSource != StepOptions::MacSource::None) {
            *error = QStringLiteral("assign-mac takes one of --mac and --next, once");
            return false;
        }
        if (name == QLatin1String("--next")) {
            step->macSource = StepOptions::MacSource::Next;
            return true;
        }
        if (!value(&text))
            return false;
        int number = -1;
        // Four hexadecimal digits, read as the window reads its two boxes.
        if (text.size() != 4 || !MacNumberFromBoxes(text.left(2), text.mid(2), &number)) {
            *error = QStringLiteral("--mac needs four hexadecimal digits (for example 12AB), "
                                    "not \"%1\"")
                         .arg(text);
            return false;
        }
        step->macSource = StepOptions::MacSource::Fixed;
        step->macNumber = number;
        return true;
    }
    if (name == QLatin1String("--new")) {
        if (step->kind != StepKind::AssignMac)
            return wrongStep("assign-mac");
        step->newMac = true;
        return true;
    }
    if (name == QLatin1String("--list") || name == QLatin1String("--image")) {
        if (step->kind != StepKind::Download)
            return wrongStep("download");
        return value(name == QLatin1String("--list") ? &step->listPath : &step->imagePath);
    }
    *error = QStringLiteral("unknown option %1").arg(name);
    return false;
}

bool AddPositional(const QString &arg, StepOptions *step, QString *error)
{
    switch (step->kind) {
    case StepKind::Write:
    case StepKind::Verify:
        if (!step->settingsPath.isEmpty()) {
            *error = QStringLiteral("%1 takes one settings file; \"%2\" is one too many")
                         .arg(StepName(step->kind), arg);
            return false;
        }
        step->settingsPath = arg;
        return true;
    case StepKind::Download:
        step->pages << arg;
        return true;
    case StepKind::Read:
    case StepKind::AssignMac:
        break;
    }
    *error =
        QStringLiteral("%1 takes no file, but \"%2\" was given").arg(StepName(step->kind), arg);
    return false;
}

bool CheckStep(const StepOptions &step, QString *error)
{
    switch (step.kind) {
    case StepKind::Write:
    case StepKind::Verify:
        if (step.settingsPath.isEmpty()) {
            *error = QStringLiteral("%1 needs a settings FILE").arg(StepName(step.kind));
            return false;
        }
        break;
    case StepKind::AssignMac:
        if (step.macSource == StepOptions::MacSource::None) {
            *error = QStringLiteral("assign-mac needs --mac HHHH or --next");
            return false;
        }
        if (step.newMac && step.macSource != StepOptions::MacSource::Next) {
            *error = QStringLiteral("--new goes with --next");
            return false;
        }
        break;
    case StepKind::Download: {
        const int sources = int(!step.listPath.isEmpty()) + int(!step.imagePath.isEmpty()) +
                            int(!step.pages.isEmpty());
        if (sources != 1) {
            *error = QStringLiteral("download takes exactly one of --list FILE, --image FILE "
                                    "and PAGE...");
            return false;
        }
        break;
    }
    case StepKind::Read:
        break;
    }
    return true;
}

bool CheckWhole(CliOptions *o, QString *error)
{
    if (o->action == CliOptions::Action::Ports)
        return true;
    if (o->steps.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    if (o->ports.isEmpty()) {
        *error = QStringLiteral("no --port given");
        return false;
    }
    if (o->loop && o->rounds != 1) {
        *error = QStringLiteral("--loop and --rounds do not go together");
        return false;
    }
    // "file:PATH" is the counter file by its long name.
    if (o->poolUrl.startsWith(QLatin1String("file:"))) {
        if (!o->counterPath.isEmpty() && o->counterPath != o->poolUrl.mid(5)) {
            *error = QStringLiteral("--pool and --counter name two different sources");
            return false;
        }
        o->counterPath = o->poolUrl.mid(5);
        o->poolUrl.clear();
    }
    if (!o->poolUrl.isEmpty() && !o->counterPath.isEmpty()) {
        *error = QStringLiteral("--pool and --counter name two different sources");
        return false;
    }
    for (const StepOptions &step : o->steps) {
        if (!CheckStep(step, error))
            return false;
        if (step.macSource == StepOptions::MacSource::Fixed &&
            (o->ports.size() > 1 || o->rounds > 1 || o->loop)) {
            *error = QStringLiteral("one fixed --mac number for more than one unit would give "
                                    "them all the same MAC address; use --next");
            return false;
        }
        if (step.kind == StepKind::Read && o->ports.size() > 1 && !o->json) {
            if (step.outputPath.isEmpty()) {
                *error = QStringLiteral("read on several ports needs -o FILE with {port} in "
                                        "its name, or --json");
                return false;
            }
        }
        if (step.kind == StepKind::Read && o->ports.size() > 1 && !step.outputPath.isEmpty() &&
            !step.outputPath.contains(QLatin1String("{port}"))) {
            *error = QStringLiteral("read on several ports needs {port} in the -o file name, so "
                                    "each unit gets its own file");
            return false;
        }
    }
    return true;
}

} // namespace

QString StepName(StepKind kind)
{
    switch (kind) {
    case StepKind::Read:
        return QStringLiteral("read");
    case StepKind::Write:
        return QStringLiteral("write");
    case StepKind::Verify:
        return QStringLiteral("verify");
    case StepKind::AssignMac:
        return QStringLiteral("assign-mac");
    case StepKind::Download:
        return QStringLiteral("download");
    }
    return QString();
}

bool ParseCliOptions(const QStringList &arguments, CliOptions *o, QString *error)
{
    *o = CliOptions();
    // Help and version win over everything else on the line, mistakes included.
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (IsHelp(arg) || (i == 0 && arg == QLatin1String("help"))) {
            o->action = CliOptions::Action::Help;
            // The topic: the command of the part of the line the help stands in.
            qsizetype start = i;
            while (start > 0 && arguments.at(start - 1) != QLatin1String("+"))
                --start;
            for (qsizetype k = start; k < arguments.size() && arguments.at(k) != "+"; ++k) {
                if (kCommands.contains(arguments.at(k))) {
                    o->helpTopic = arguments.at(k);
                    break;
                }
            }
            return true;
        }
        if (arg == QLatin1String("--version")) {
            o->action = CliOptions::Action::Version;
            return true;
        }
    }

    QList<QStringList> segments{QStringList()};
    for (const QString &arg : arguments) {
        if (arg == QLatin1String("+"))
            segments.append(QStringList());
        else
            segments.last().append(arg);
    }

    for (qsizetype s = 0; s < segments.size(); ++s) {
        const QStringList &segment = segments.at(s);
        std::optional<StepOptions> step;
        bool ports = false;
        bool optionsEnded = false;
        for (qsizetype i = 0; i < segment.size(); ++i) {
            QString arg = segment.at(i);
            if (!optionsEnded && arg == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
                QString name = arg;
                std::optional<QString> inlineValue;
                const qsizetype equals = arg.indexOf(QLatin1Char('='));
                if (arg.startsWith(QLatin1String("--")) && equals > 0) {
                    name = arg.left(equals);
                    inlineValue = arg.mid(equals + 1);
                }
                auto value = [&](QString *out) {
                    if (inlineValue) {
                        *out = *inlineValue;
                        return true;
                    }
                    if (i + 1 >= segment.size()) {
                        *error = QStringLiteral("%1 needs a value").arg(name);
                        return false;
                    }
                    *out = segment.at(++i);
                    return true;
                };
                bool known = false;
                if (!TakeSharedOption(name, value, o, &known, error))
                    return false;
                if (known)
                    continue;
                if (!step) {
                    static const QStringList kStepOptions = {"-o",     "--output", "--all-lines",
                                                             "--mac",  "--next",   "--new",
                                                             "--list", "--image"};
                    *error = !ports && kStepOptions.contains(name)
                                 ? QStringLiteral("%1 must come after its command").arg(name)
                                 : QStringLiteral("unknown option %1").arg(name);
                    return false;
                }
                if (!TakeStepOption(name, value, &*step, error))
                    return false;
                continue;
            }
            if (!step && !ports) {
                if (arg == QLatin1String("ports")) {
                    if (segments.size() > 1) {
                        *error = QStringLiteral("ports cannot be joined with other steps");
                        return false;
                    }
                    ports = true;
                    o->action = CliOptions::Action::Ports;
                    continue;
                }
                const std::optional<StepKind> kind = StepFromName(arg);
                if (!kind) {
                    *error = QStringLiteral("unknown command \"%1\"").arg(arg);
                    return false;
                }
                step = StepOptions();
                step->kind = *kind;
                continue;
            }
            if (ports) {
                *error = QStringLiteral("ports takes no arguments, but \"%1\" was given").arg(arg);
                return false;
            }
            if (!AddPositional(arg, &*step, error))
                return false;
        }
        if (step) {
            o->steps.append(*step);
        } else if (!ports && !(segments.size() == 1 && !o->stationFile.isEmpty())) {
            *error = segments.size() > 1 ? QStringLiteral("a \"+\" must stand between two steps")
                                         : QStringLiteral("no command given");
            return false;
        }
    }
    // The station file may still bring the ports and the steps.
    if (!o->stationFile.isEmpty())
        return true;
    return CheckWhole(o, error);
}

bool ApplyStationFile(CliOptions *o, QString *error, int *exitStatus)
{
    *exitStatus = ExitStatus::kUsage;
    if (o->stationFile.isEmpty())
        return CheckWhole(o, error);
    const QString path = o->stationFile;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *exitStatus = ExitStatus::kFileUnusable;
        *error = QStringLiteral("Cannot open file %1").arg(path);
        return false;
    }
    const QDir folder = QFileInfo(path).absoluteDir();
    auto resolved = [&folder](const QString &name) {
        return name.isEmpty() ? name : QDir::cleanPath(folder.absoluteFilePath(name));
    };
    // A file or SQLite URL's path is taken from the file's folder; a server's URL as it is.
    auto resolvedUrl = [&resolved](const QString &value) {
        if (!value.startsWith(QLatin1String("sqlite:")) &&
            !value.startsWith(QLatin1String("file:")))
            return value;
        const qsizetype colon = value.indexOf(QLatin1Char(':'));
        return value.left(colon + 1) + resolved(value.mid(colon + 1));
    };
    auto bad = [&](int number, const QString &what) {
        *exitStatus = ExitStatus::kFileUnusable;
        *error = QStringLiteral("%1, line %2: %3").arg(path).arg(number).arg(what);
        return false;
    };
    QStringList ports;
    QString steps;
    QString name;
    QString counter;
    QString pool;
    QString record;
    QString comports;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return bad(number, QStringLiteral("\"%1\" is not a \"key = value\" line").arg(line));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (value.isEmpty())
            return bad(number, QStringLiteral("%1 has no value").arg(key));
        if (key == QLatin1String("port")) {
            for (const QString &port : value.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                // A device path is taken from the file's folder; a COM or device name as it is.
                ports << (port.contains(QLatin1Char('/')) ? resolved(port) : port);
            }
        } else if (key == QLatin1String("steps")) {
            steps = value;
        } else if (key == QLatin1String("name")) {
            name = value;
        } else if (key == QLatin1String("counter")) {
            counter = resolved(value);
        } else if (key == QLatin1String("pool")) {
            pool = resolvedUrl(value);
        } else if (key == QLatin1String("record")) {
            // A bare path is a record file's.
            const bool server = value.startsWith(QLatin1String("postgresql://")) ||
                                value.startsWith(QLatin1String("postgres://"));
            const bool url = server || value.startsWith(QLatin1String("sqlite:")) ||
                             value.startsWith(QLatin1String("file:"));
            record = url ? resolvedUrl(value) : resolved(value);
        } else if (key == QLatin1String("comports")) {
            comports = resolved(value);
        } else {
            return bad(number, QStringLiteral("unknown key \"%1\" (name, port, steps, counter, "
                                              "pool, record and comports are known)")
                                   .arg(key));
        }
    }
    if (o->ports.isEmpty())
        o->ports = ports;
    if (o->steps.isEmpty() && !steps.isEmpty()) {
        CliOptions fromFile;
        QString stepError;
        if (!ParseCliOptions(QProcess::splitCommand(steps)
                                 << QStringLiteral("--port") << QStringLiteral("-"),
                             &fromFile, &stepError) ||
            fromFile.action != CliOptions::Action::Run || fromFile.ports.size() != 1 ||
            fromFile.json || fromFile.plain || fromFile.check || fromFile.loop ||
            fromFile.rounds != 1 || !fromFile.recordPath.isEmpty() ||
            !fromFile.counterPath.isEmpty() || !fromFile.station.isEmpty() ||
            !fromFile.stationFile.isEmpty() || !fromFile.comportsPath.isEmpty()) {
            *exitStatus = ExitStatus::kFileUnusable;
            *error =
                QStringLiteral("%1: the steps line holds no steps, or options other than "
                               "the steps' own%2")
                    .arg(path, stepError.isEmpty() ? QString() : QStringLiteral(": ") + stepError);
            return false;
        }
        for (StepOptions step : fromFile.steps) {
            step.settingsPath = resolved(step.settingsPath);
            if (!step.outputPath.isEmpty())
                step.outputPath = resolved(step.outputPath);
            step.listPath = resolved(step.listPath);
            step.imagePath = resolved(step.imagePath);
            for (QString &page : step.pages)
                page = resolved(page);
            o->steps << step;
        }
    }
    if (o->station.isEmpty())
        o->station = name;
    if (o->counterPath.isEmpty() && o->poolUrl.isEmpty() && pool.isEmpty())
        o->counterPath = counter;
    if (o->poolUrl.isEmpty() && o->counterPath.isEmpty())
        o->poolUrl = pool;
    if (o->recordPath.isEmpty())
        o->recordPath = record;
    if (o->comportsPath.isEmpty())
        o->comportsPath = comports;
    return CheckWhole(o, error);
}

QString HelpText(const QString &topic)
{
    if (topic == QLatin1String("ports"))
        return QStringLiteral(
            "Usage: tolvex ports [--json] [--comports FILE]\n"
            "\n"
            "Lists the serial ports present, one a line: device, description, manufacturer,\n"
            "serial number, USB vendor:product, who holds it and a USB adapter's latency\n"
            "timer, separated by tabs (empty fields as \"-\"). Then the COM names that\n"
            "ComPorts.txt beside the program (or --comports FILE) maps to devices.\n"
            "With --json, one JSON object a line instead.\n");
    if (topic == QLatin1String("read"))
        return QStringLiteral(
            "Usage: tolvex read --port PORT [-o FILE]\n"
            "\n"
            "Reads every setting from the unit. With -o the settings are saved to FILE in the\n"
            "format \"Save File\" of the window writes; without it they are printed on standard\n"
            "output (and the progress goes to standard error). With --json the step's end event\n"
            "carries them as a JSON object. A query the unit refuses is left out of the file\n"
            "and the step fails with status 6.\n"
            "\n"
            "  -o, --output FILE   where to save; {port} in the name stands for the port, and\n"
            "                      must be there when several ports are read\n");
    if (topic == QLatin1String("write"))
        return QStringLiteral(
            "Usage: tolvex write --port PORT [--all-lines] FILE\n"
            "\n"
            "Checks FILE strictly (only the lines \"Save File\" writes, every value in its\n"
            "range; a bad line is named with its number, status 3) and its settings exactly as\n"
            "the window does before a write (same messages), then writes them and compares\n"
            "every answer. A difference or a line the unit\n"
            "refuses makes the step fail with status 6, and each such line is named.\n"
            "Settings files hold the lines \"Save File\" writes; settings a file leaves out\n"
            "keep the window's initial values.\n"
            "\n"
            "  --all-lines   send every settings line, as a MAC assignment workstation does;\n"
            "                otherwise the address and timed-interval lines that the file's\n"
            "                check boxes make meaningless are left out, as in the window\n");
    if (topic == QLatin1String("verify"))
        return QStringLiteral(
            "Usage: tolvex verify --port PORT [--all-lines] FILE\n"
            "\n"
            "Reads the unit (only queries are sent) and compares it with FILE: every settings\n"
            "line FILE holds that \"write FILE\" would send, naming each one that differs (the\n"
            "line FILE makes and the line the unit's settings make). Any difference fails the\n"
            "step with status 6.\n"
            "\n"
            "  --all-lines   compare every line FILE holds, as \"write --all-lines\" sends them\n");
    if (topic == QLatin1String("assign-mac"))
        return QStringLiteral(
                   R"(Usage: tolvex assign-mac --port PORT (--mac HHHH | --next [--new])
                           [--counter FILE | --pool URL]

Sends a MAC number (the last two bytes of the unit's MAC address) as "Send New MAC"
does, then "zc"; the unit answers with its new address.

  --mac HHHH      this number, four hexadecimal digits; for one port and one round only.
                  A counter file holding this number or less is moved past it.
  --next          the number the MAC counter file holds; the file moves on to the next
                  number in the same locked step, so no two units, ports or processes get
                  the same one. At FFFF nothing is sent. A number counts as given once its
                  "ma" line was written; one taken but never sent goes back to the counter
                  when no other was taken since.
                  With --pool, the unit's address is read first: a unit that holds a
                  number the pool shows as confirmed for that same address (rework) keeps
                  it; the step's result is "kept" and no "ma" line is sent.
  --new           with --next and --pool: a new number even for a unit that keeps one
  --counter FILE  the counter file (default %1): two lines of two
                  hexadecimal digits each making the next number, or empty for 0000
  --pool URL      numbers from a pool a line shares (sqlite:PATH, postgresql://...)
                  instead of the counter file; the pool never gives a number twice
)")
            .arg(QDir::toNativeSeparators(DefaultMacCounterPath()));
    if (topic == QLatin1String("download"))
        return QStringLiteral(
            "Usage: tolvex download --port PORT (--list FILE | --image FILE | PAGE...)\n"
            "\n"
            "Downloads the web page image. With --list or PAGE... the image is built once, by\n"
            "MPFS.EXE (beside the program, else in the package's private folder), before\n"
            "any unit is spoken to; with --image a ready image is sent. An image over 32700\n"
            "bytes is refused before anything is sent.\n"
            "\n"
            "  --list FILE    a page list file as the window saves it; relative paths in it\n"
            "                 are taken from the list file's folder\n"
            "  --image FILE   a built image\n");
    return QStringLiteral(
               "Usage: tolvex [OPTIONS] COMMAND [ARGS] [+ COMMAND [ARGS]]...\n"
               "\n"
               "Configures TOLVEX units over serial ports, many at once, for production lines.\n"
               "\n"
               "Commands:\n"
               "  ports                                 list the serial ports\n"
               "  read                                  read the settings\n"
               "  write FILE                            check, write and compare FILE's settings\n"
               "  verify FILE                           compare the unit with FILE\n"
               "  assign-mac (--mac HHHH | --next [--new])   give the unit a MAC number\n"
               "  download (--list FILE | --image FILE | PAGE...)   send the web page image\n"
               "  pool (init | status | import-counter)   set up and watch a shared MAC pool\n"
               "  report --record URL [--csv | --json | --html FILE]   what the line produced\n"
               "\n"
               "Steps: join commands with a lone \"+\"; each unit runs them in order and skips\n"
               "the rest once one fails. Every --port runs at the same time, in one process:\n"
               "  tolvex --port COM3 --port COM4 --record line1.jsonl \\\n"
               "         write cfg.txt + assign-mac --next + download --list pages.txt\n"
               "\n"
               "Options (anywhere on the line):\n"
               "  -p, --port PORT    a COM name (COM3, mapped by ComPorts.txt beside the\n"
               "                     program) or a device (/dev/ttyUSB0); repeat for more units\n"
               "      --json         JSON Lines events on standard output, nothing else there\n"
               "      --plain        plain log lines even on a terminal\n"
               "      --record FILE  append one JSON line per unit and step to FILE\n"
               "      --counter FILE the MAC counter file (default %1)\n"
               "      --pool URL     MAC numbers from a pool a line shares: sqlite:PATH or\n"
               "                     postgresql://[user@]host[:port]/dbname[?sslmode=...]\n"
               "                     (file:PATH is the counter file)\n"
               "      --station NAME the workstation's name in the record (default: host name)\n"
               "      --rounds N     run the steps N times on every port, back to back\n"
               "      --loop         after each round, wait for a line on standard input (the\n"
               "                     operator changes the units and presses Enter); end of\n"
               "                     input ends the run\n"
               "      --check        check everything (files, image build, ports, counter,\n"
               "                     record), print the plan, open and send nothing\n"
               "      --station-file FILE  ports, steps, name, counter, record and comports of\n"
               "                     a station (\"key = value\" lines); the command line wins\n"
               "      --comports FILE  the COM name map (default: ComPorts.txt)\n"
               "  -h, --help         this help; tolvex COMMAND --help for a command's\n"
               "      --version      the version\n"
               "\n"
               "Exit status:\n"
               "  0    every unit did every step\n"
               "  2    a unit was not found or runs an unsupported version (errors 1, 2, 4)\n"
               "  3    a file could not be read or used: settings file, page list, image,\n"
               "       image builder, MAC counter, record, station file, read's output file;\n"
               "       or standard output could not be written\n"
               "  6    a write or verify found a difference, or a unit refused a line\n"
               "  7    no communication: silence, a port that does not open, a lost device\n"
               "  64   usage error: bad arguments, an unknown port, one --mac for several units\n"
               "  130  cancelled by Ctrl-C (143 SIGTERM, 129 SIGHUP): every exchange is ended\n"
               "       cleanly; a second signal ends the program at once, ports closed\n"
               "With several units the status is that of the first failing one in --port order.\n")
        .arg(QDir::toNativeSeparators(DefaultMacCounterPath()));
}
