#include "app/CommandLine.h"

#include "TolvexVersion.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>

CommandLine ParseCommandLine(const QStringList &givenArguments)
{
    // A system may start a program with no arguments at all, not even its name.
    QStringList arguments = givenArguments;
    if (arguments.isEmpty())
        arguments << QStringLiteral("tolvex-config");
    const QString program = QFileInfo(arguments.first()).fileName();
    QCommandLineParser parser;
    // "-web-pages" is read as "--web-pages", not as the letters w, e, b...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Configures TOLVEX network I/O modules over a serial port."));
    const QCommandLineOption help(
#ifdef Q_OS_WIN
        {QStringLiteral("?"), QStringLiteral("h"), QStringLiteral("help")},
#else
        {QStringLiteral("h"), QStringLiteral("help")},
#endif
        QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the program's version and ends."));
    const QCommandLineOption webPages(QStringLiteral("web-pages"),
                                      QStringLiteral("Shows the \"Web Pages\" page."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Writes every byte sent to and received from the unit, time-stamped, "
                       "to <file> from start-up on (added to what the file holds)."),
        QStringLiteral("file"));
    const QCommandLineOption pool(
        QStringLiteral("pool"),
        QStringLiteral("Takes MAC numbers from the pool <url> a line of stations shares "
                       "(sqlite:PATH, postgresql://[user@]host[:port]/dbname, or file:PATH for "
                       "a counter file) instead of the workstation's counter file."),
        QStringLiteral("url"));
    parser.addOptions({help, version, webPages, trace, pool});

    CommandLine result;
    const QString tryHelp = QStringLiteral("Try \"%1 --help\" for the options.\n").arg(program);
    if (!parser.parse(arguments)) {
        result.action = CommandLine::Action::Fail;
        const QStringList unknown = parser.unknownOptionNames();
        result.toolkitMayKnow = !unknown.isEmpty();
        for (const QString &name : unknown) {
            const QString doubleDash = QStringLiteral("--") + name;
            for (const QString &argument : arguments) {
                if (argument == doubleDash || argument.startsWith(doubleDash + QLatin1Char('=')))
                    result.toolkitMayKnow = false;
            }
        }
        result.text =
            program + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n') + tryHelp;
        return result;
    }
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::ShowHelp;
        QStringList lines = parser.helpText().split(QLatin1Char('\n'));
        // The toolkit names the program only once an application object exists.
        lines[0] = QStringLiteral("Usage: %1 [options]").arg(program);
        result.text = lines.join(QLatin1Char('\n'));
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::ShowVersion;
        result.text =
            program + QStringLiteral(" ") + QStringLiteral(TOLVEX_VERSION) + QLatin1Char('\n');
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.action = CommandLine::Action::Fail;
        result.text = program + QStringLiteral(": unexpected argument \"") +
                      parser.positionalArguments().first() + QStringLiteral("\".\n") + tryHelp;
        return result;
    }
    result.showWebPages = parser.isSet(webPages);
    if (parser.isSet(trace)) {
        result.tracePath = parser.value(trace);
        if (result.tracePath.isEmpty()) {
            result.action = CommandLine::Action::Fail;
            result.text = program + QStringLiteral(": --trace needs a file name.\n") + tryHelp;
        }
    }
    if (result.action == CommandLine::Action::Run && parser.isSet(pool)) {
        result.poolUrl = parser.value(pool);
        if (result.poolUrl.isEmpty()) {
            result.action = CommandLine::Action::Fail;
            result.text = program + QStringLiteral(": --pool needs a URL.\n") + tryHelp;
        }
    }
    return result;
}
