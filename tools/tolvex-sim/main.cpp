#include "EventLog.h"
#include "SimOptions.h"
#include "SimulatedUnit.h"
#include "StdinReader.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A reader that closed our standard output must not kill us mid-cleanup.
    std::signal(SIGPIPE, SIG_IGN);

    SimOptions options;
    QString error;
    switch (ParseSimOptions(app.arguments(), &options, &error)) {
    case OptionsResult::HelpShown:
        return 0;
    case OptionsResult::Error:
        std::fprintf(stderr, "tolvex-sim: %s\nTry --help.\n", qPrintable(error));
        return 2;
    case OptionsResult::Run:
        break;
    }

    EventLog log;
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &app, &QCoreApplication::quit);

    SimulatedUnit unit(options, &log);
    QObject::connect(&unit, &SimulatedUnit::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!unit.start(&error)) {
        std::fprintf(stderr, "tolvex-sim: %s\n", qPrintable(error));
        return 1;
    }

    StdinReader commands;
    QObject::connect(&commands, &StdinReader::lineRead, &unit, &SimulatedUnit::runCommand);
    if (options.exitOnStdinEof)
        QObject::connect(&commands, &StdinReader::finished, &app, &QCoreApplication::quit);

    return app.exec();
}
