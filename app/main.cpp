#include "CommandLine.h"
#include "MainUnit.h"
#include "QtDialogs.h"
#include "link/QtSerialPortIo.h"
#include "link/TrafficTrace.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

namespace {

QStringList RawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Prints the help, the version or the error; the status the program ends with.
int Answer(const CommandLine &line)
{
    const bool failed = line.action == CommandLine::Action::Fail;
    std::fputs(line.text.toLocal8Bit().constData(), failed ? stderr : stdout);
    return failed ? CommandLine::kUsageExitStatus : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Help, the version and plain mistakes are answered before the toolkit starts, so they need
    // no display. An option with one dash may be one of the toolkit's own (-platform, -style):
    // the arguments are judged again once the toolkit has taken those out.
    const CommandLine early = ParseCommandLine(RawArguments(argc, argv));
    if (early.action != CommandLine::Action::Run && !early.toolkitMayKnow)
        return Answer(early);

    QApplication application(argc, argv);
    const CommandLine line = ParseCommandLine(QCoreApplication::arguments());
    if (line.action != CommandLine::Action::Run)
        return Answer(line);
    try {
        StartOptions options;
        // The program's own path as it was given, links not resolved: a link placed in another
        // folder makes that folder the program's folder.
        options.programPath = QString::fromLocal8Bit(argv[0]);
        options.showWebPages = line.showWebPages;
        options.macPoolUrl = line.poolUrl;

        // Every byte to and from the unit passes the tracing wrapper, which costs nothing while
        // no one listens. The file outlives the window, whose port may still report a close.
        auto port = std::make_unique<TracingPortIo>(std::make_unique<QtSerialPortIo>());
        TraceFileSink traceFile;
        if (!line.tracePath.isEmpty()) {
            QString error;
            if (traceFile.Open(line.tracePath, &error)) {
                port->AddListener(&traceFile);
            } else {
                const QString text = error + QStringLiteral("\nThe program runs without a "
                                                            "traffic trace.");
                std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
                QMessageBox::warning(nullptr, QStringLiteral("Warning"), text);
            }
        }

        QtDialogs dialogs;
        TMainForm mainForm(options, dialogs, std::move(port));
        dialogs.SetParent(&mainForm);
        mainForm.show();
        return application.exec();
    } catch (const std::exception &error) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"),
                              QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), QStringLiteral("Unexpected error"));
    }
    return 1;
}
