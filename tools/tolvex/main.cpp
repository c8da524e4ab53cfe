// tolvex: the production line tool. Drives the same exchange, settings, image and download
// classes as the window, on any number of ports at once, from a station script.

#include "CliOptions.h"
#include "EventOutput.h"
#include "Gang.h"
#include "Interrupts.h"
#include "JobPlan.h"
#include "PoolCommand.h"
#include "ProductionRecord.h"
#include "TolvexVersion.h"
#include "UnitPorts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <memory>

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

// A failure before anything was sent: on standard error, and as an event for --json readers.
int Refuse(int status, const QString &message, bool json)
{
    PrintError(message);
    if (json) {
        JsonLinesSink sink(stdout);
        sink.Emit(QJsonObject{{"event", "error"},
                              {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                              {"exitStatus", status},
                              {"message", message}});
        sink.Emit(QJsonObject{{"event", "end"},
                              {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                              {"exitStatus", status}});
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
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
    CliOptions options;
    QString error;
    if (!ParseCliOptions(arguments, &options, &error)) {
        const bool json = arguments.contains(QStringLiteral("--json"));
        Refuse(ExitStatus::kUsage, error + QStringLiteral("\nTry 'tolvex --help'."), json);
        return ExitStatus::kUsage;
    }
    switch (options.action) {
    case CliOptions::Action::Help:
        std::fputs(HelpText(options.helpTopic).toLocal8Bit().constData(), stdout);
        return ExitStatus::kOk;
    case CliOptions::Action::Version:
        std::printf("tolvex %s\n", TOLVEX_VERSION);
        return ExitStatus::kOk;
    case CliOptions::Action::Ports:
        return RunPortsCommand(options.json, QCoreApplication::applicationDirPath());
    case CliOptions::Action::Run:
        break;
    }

    JobPlan plan;
    int status = 0;
    if (!PrepareJob(options, QCoreApplication::applicationDirPath(), &plan, &status, &error))
        return Refuse(status, error, options.json);

    ProductionRecord record;
    if (!options.recordPath.isEmpty() && !record.Open(options.recordPath, &error))
        return Refuse(ExitStatus::kFileUnusable, error, options.json);

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

    Gang gang(plan, *sink, record.IsOpen() ? &record : nullptr);
    Interrupts interrupts;
    QObject::connect(&interrupts, &Interrupts::Received, &gang, &Gang::Cancel);
    QObject::connect(&gang, &Gang::Done, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    gang.Start();
    app.exec();
    return gang.ExitStatus();
}
