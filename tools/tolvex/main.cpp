// tolvex: the production line tool. Drives the same exchange, settings, image and download
// classes as the window, on any number of ports at once, from a station script.

#include "CliOptions.h"
#include "DatabaseRecord.h"
#include "EventOutput.h"
#include "Gang.h"
#include "Interrupts.h"
#include "JobPlan.h"
#include "PoolCommand.h"
#include "ProductionRecord.h"
#include "ReportCommand.h"
#include "TolvexVersion.h"
#include "UnitPorts.h"

#include "link/AdapterLatency.h"
#include "link/EpollEventDispatcher.h"
#include "settings/FileLocations.h"
#include <QCoreApplication>

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

void PrintError(const QString &message)
{
    std::fprintf(stderr, "tolvex: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString Now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// A failure before anything was sent: on standard error, and as an event for --json readers.
int Refuse(int status, const QString &message, bool json)
{
    PrintError(message);
    if (json) {
        JsonLinesSink sink(stdout);
        sink.Emit(QJsonObject{
            {"event", "error"}, {"time", Now()}, {"exitStatus", status}, {"message", message}});
        sink.Emit(QJsonObject{{"event", "end"}, {"time", Now()}, {"exitStatus", status}});
    }
    return status;
}

// Output that did not reach standard output (a full disk, a reader that went away) makes a run
// that otherwise succeeded a failure: a script must never take a cut listing or a missing
// settings file for a whole one.
int CheckedStdout(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    PrintError(QStringLiteral("standard output could not be written (a full disk, or its reader "
                              "went away): what was printed is incomplete"));
    return status == ExitStatus::kOk ? ExitStatus::kFileUnusable : status;
}

// The plan --check prints: what the run would do, with what it checked.
QJsonObject PlanEvent(const JobPlan &plan)
{
    QJsonArray ports;
    for (const UnitPort &port : plan.ports) {
        QJsonObject entry{{"port", port.name}, {"device", port.device}};
        const AdapterLatency latency = ReadAdapterLatency(port.device);
        if (latency.timerMs >= 0)
            entry["latencyTimerMs"] = latency.timerMs;
        ports.append(entry);
    }
    QJsonArray steps;
    for (const StepPlan &step : plan.steps) {
        QJsonObject entry{{"step", StepName(step.options.kind)}};
        const StepOptions &o = step.options;
        if (!o.settingsPath.isEmpty())
            entry["file"] = QFileInfo(o.settingsPath).absoluteFilePath();
        if (!o.outputPath.isEmpty())
            entry["output"] = o.outputPath;
        if (o.kind == StepKind::AssignMac)
            entry["mac"] = o.macSource == StepOptions::MacSource::Next
                               ? QStringLiteral("next")
                               : QStringLiteral("%1").arg(o.macNumber, 4, 16, QLatin1Char('0'));
        if (o.kind == StepKind::Download) {
            if (!step.image.source.isEmpty())
                entry["source"] = QFileInfo(step.image.source).absoluteFilePath();
            entry["pages"] = step.image.pages.Count();
            entry["size"] = step.image.bytes.size();
            entry["sha256"] = step.image.sha256;
        }
        steps.append(entry);
    }
    QJsonObject event{{"event", "plan"},
                      {"time", Now()},
                      {"station", plan.station},
                      {"ports", ports},
                      {"steps", steps}};
    if (plan.counterNext >= 0)
        event["counter"] = QJsonObject{
            {"path", QFileInfo(plan.counterPath).absoluteFilePath()},
            {"next", QStringLiteral("%1").arg(plan.counterNext, 4, 16, QLatin1Char('0')).toUpper()},
            {"needed", plan.numbersNeeded}};
    if (!plan.recordName.isEmpty())
        event["record"] = plan.recordName;
    if (!plan.portMapPath.isEmpty())
        event["comports"] = QFileInfo(plan.portMapPath).absoluteFilePath();
    if (plan.loop)
        event["loop"] = true;
    else
        event["rounds"] = plan.rounds;
    return event;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher rather than GLib's, which wakes the loop once more whenever a
    // port's notifier is switched on or off: a third of the system calls of a download.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
#ifdef Q_OS_LINUX
    // One wake-up costs the same whatever the gang's size (see EpollEventDispatcher).
    auto dispatcher = std::make_unique<EpollEventDispatcher>();
    if (dispatcher->isValid())
        QCoreApplication::setEventDispatcher(dispatcher.release());
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVEX_VERSION));
#ifndef Q_OS_WIN
    // A reader that went away must not kill the run halfway through a unit.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    const QStringList arguments = app.arguments().mid(1);
    // The pool's administration commands have their own arguments and run no unit.
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("pool"))
        return RunPoolCommand(arguments.mid(1));
    // The report reads a record and runs no unit either.
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("report"))
        return RunReportCommand(arguments.mid(1));
    CliOptions options;
    QString error;
    int status = 0;
    const bool json = arguments.contains(QStringLiteral("--json"));
    if (!ParseCliOptions(arguments, &options, &error))
        return Refuse(ExitStatus::kUsage, error + QStringLiteral("\nTry 'tolvex --help'."), json);
    switch (options.action) {
    case CliOptions::Action::Help:
        std::fputs(HelpText(options.helpTopic).toLocal8Bit().constData(), stdout);
        return CheckedStdout(ExitStatus::kOk);
    case CliOptions::Action::Version:
        std::printf("tolvex %s\n", TOLVEX_VERSION);
        return CheckedStdout(ExitStatus::kOk);
    case CliOptions::Action::Ports: {
        const QString map =
            !options.comportsPath.isEmpty()
                ? options.comportsPath
                : FindDefaultFile(SystemFileFolders(QCoreApplication::applicationDirPath()),
                                  kPortMapFileName);
        return CheckedStdout(RunPortsCommand(options.json, map));
    }
    case CliOptions::Action::Run:
        break;
    }
    if (!ApplyStationFile(&options, &error, &status))
        return Refuse(
            status,
            status == ExitStatus::kUsage ? error + QStringLiteral("\nTry 'tolvex --help'.") : error,
            options.json);

    JobPlan plan;
    if (!PrepareJob(options, QCoreApplication::applicationDirPath(), &plan, &status, &error))
        return CheckedStdout(Refuse(status, error, options.json));
    plan.runId = NewRunId();

    std::unique_ptr<ProductionRecord> record;
    if (!plan.checkOnly && !options.recordPath.isEmpty()) {
        record = OpenProductionRecord(options.recordPath, &error);
        if (!record)
            return CheckedStdout(Refuse(ExitStatus::kFileUnusable, error, options.json));
    }

    // A read that prints its settings keeps standard output to itself.
    FILE *human = plan.readToStdout ? stderr : stdout;
    QStringList portNames;
    for (const UnitPort &port : plan.ports)
        portNames << port.name;
    std::unique_ptr<EventSink> sink;
    if (options.json)
        sink = std::make_unique<JsonLinesSink>(stdout);
    else if (!options.plain && isatty(fileno(human)))
        sink = std::make_unique<TerminalSink>(human, portNames);
    else
        sink = std::make_unique<PlainLinesSink>(human, portNames);

    // Outlives the gang: on Windows a console close waits until the ports are closed.
    Interrupts interrupts;
    std::optional<Gang> gang;
    gang.emplace(plan, *sink, record.get());
    int firstSignalStatus = 0;
    bool abandoned = false;
    bool gangDone = false;
    QObject::connect(&*gang, &Gang::Done, &app, [&] { gangDone = true; });
    QObject::connect(&interrupts, &Interrupts::Received, &app, [&](const QString &name) {
        if (gangDone || abandoned)
            return;
        if (firstSignalStatus == 0) {
            firstSignalStatus = SignalExitStatus(name);
            gang->Cancel(name);
            return;
        }
        // A second signal: the operator will not wait for the exchanges to end cleanly.
        abandoned = true;
        app.quit();
    });
    QObject::connect(&*gang, &Gang::ImagesReady, &app, [&] { sink->Emit(PlanEvent(plan)); });
    QObject::connect(&*gang, &Gang::Done, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    gang->Start();
    app.exec();
    status = gang->ExitStatus();
    if (abandoned) {
        // Every port is closed as the gang goes; only then is the run reported over.
        gang.reset();
        status = firstSignalStatus;
        sink->Emit(QJsonObject{
            {"event", "end"}, {"time", Now()}, {"exitStatus", status}, {"abandoned", true}});
        PrintError(QStringLiteral("stopped at once by a second signal; the units that were "
                                  "running are in no known state"));
    }
    gang.reset();
    sink.reset();
    return CheckedStdout(status);
}
