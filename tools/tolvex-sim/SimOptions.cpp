#include "SimOptions.h"

#include <QCommandLineParser>
#include <cstdio>

namespace {

const char Description[] =
    "Simulated unit on a pseudo-terminal: prints \"PTY <device>\", answers command lines on the\n"
    "device as a unit would, and receives images sent with XMODEM (checksum variant).\n"
    "\n"
    "Commands on standard input, one a line (same names as the options, without \"--\"):\n"
    "  silent on|off, error-first N, version TEXT, wrong-echo CODE[,CODE..]|off, refuse "
    "CODE[,CODE..]|off,\n"
    "  answer-as CODE=TEXT[,CODE=TEXT..]|off,\n"
    "  stop-after N|off, close-after N|off (0 cuts at once), reopen-after-ms M|off,\n"
    "  noise on|off, clean-noise on|off, wire-delay on|off, answer-delay-ms N,\n"
    "  nak-block K|off, stop-ack-after K|off, ack-delay-ms N, adapter-latency-ms N,\n"
    "  reset (all faults off, version back to 1.0.5-UDP), reopen (new pseudo-terminal now),\n"
    "  quit. Each is confirmed by \"CMD <command>\" or refused by \"BADCMD <reason>\".\n"
    "\n"
    "Events on standard output, one a line: PTY <device>, GOT <line>, SENT <answer>,\n"
    "NOISE <bytes>, DROPPED <bytes>, XMODEM START, NAK, ACK, BLOCK <n> OK|REPEAT|BAD|REFUSED,\n"
    "EOT, IMAGE <bytes>, XMODEM END <reason>, UNPACKED <files>, UNPACK FAILED <reason>,\n"
    "UNPACK SKIPPED <name>, ERROR <reason>, CLOSED, CMD <command>, BADCMD <reason>.\n"
    "Bytes in events are escaped: \\\\ \\r \\n \\t \\xHH.";

struct FaultOption
{
    const char *name;
    const char *valueName; // nullptr for a switch
    const char *help;
};

const FaultOption FaultOptions[] = {
    {"silent", nullptr, "Answer nothing."},
    {"error-first", "N", "Answer \"Error\" to the first N lines."},
    {"version", "TEXT", "Version text after \"SV\" (default 1.0.5-UDP)."},
    {"wrong-echo", "CODE",
     "Answer a wrong value for CODE (ax1..ax4, ba, bb, bh, bj, bt, eo, ma, "
     "nc, ng, ni, ns); repeatable or comma-separated."},
    {"refuse", "CODE",
     "Answer \"Error\" to every line with CODE (as wrong-echo), as firmware without it would; "
     "repeatable or comma-separated."},
    {"answer-as", "CODE=TEXT",
     "Act on every line with CODE but answer it with TEXT (\"OK\", another setting's line, "
     "an address with its commas); "
     "repeatable or comma-separated."},
    {"stop-after", "N", "Stop answering after N more lines (until reset)."},
    {"close-after", "N", "Cut the link after answering N more lines."},
    {"reopen-after-ms", "M", "After a cut, open a new pseudo-terminal after M ms."},
    {"noise", nullptr, "Random bytes and over-long lines before each answer."},
    {"clean-noise", nullptr, "65 bytes without CR or LF before each answer."},
    {"wire-delay", nullptr, "Move bytes at the pace of 19200 baud, both ways."},
    {"answer-delay-ms", "N", "Wait N ms before each answer, NAK and ACK."},
    {"nak-block", "K", "Refuse block K of a transfer with NAK once."},
    {"stop-ack-after", "K", "Answer nothing in a transfer after block K."},
    {"ack-delay-ms", "N", "Wait N ms more before answering a block."},
    {"adapter-latency-ms", "N",
     "Hold bytes towards the program until N ms after the first of them, as a USB adapter's "
     "latency timer does (0 to 255)."},
};

} // namespace

OptionsResult ParseSimOptions(const QStringList &arguments, SimOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Keep a symbolic link at PATH pointing at the "
                                                 "device (replaced atomically, removed at exit)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption imageOut(QStringLiteral("image-out"),
                                      QStringLiteral("Write each received image to FILE."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption unpackTo(QStringLiteral("unpack-to"),
                                      QStringLiteral("Unpack each received image into DIR."),
                                      QStringLiteral("DIR"));
    const QCommandLineOption exitOnEof(QStringLiteral("exit-on-stdin-eof"),
                                       QStringLiteral("Exit when standard input closes."));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the noise (default 1)."),
                                  QStringLiteral("N"));
    parser.addOptions({help, link, imageOut, unpackTo, exitOnEof, seed});
    for (const FaultOption &f : FaultOptions) {
        if (f.valueName)
            parser.addOption(QCommandLineOption(QString::fromLatin1(f.name),
                                                QString::fromLatin1(f.help),
                                                QString::fromLatin1(f.valueName)));
        else
            parser.addOption(
                QCommandLineOption(QString::fromLatin1(f.name), QString::fromLatin1(f.help)));
    }

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return OptionsResult::Error;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return OptionsResult::HelpShown;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments()[0]);
        return OptionsResult::Error;
    }

    options->linkPath = parser.value(link);
    options->imageOut = parser.value(imageOut);
    options->unpackTo = parser.value(unpackTo);
    options->exitOnStdinEof = parser.isSet(exitOnEof);
    if (parser.isSet(seed)) {
        bool ok = false;
        options->seed = parser.value(seed).toUInt(&ok);
        if (!ok) {
            *error = QStringLiteral("bad value \"%1\" for seed").arg(parser.value(seed));
            return OptionsResult::Error;
        }
    }
    for (const FaultOption &f : FaultOptions) {
        const QString name = QString::fromLatin1(f.name);
        if (!parser.isSet(name))
            continue;
        const QString value =
            f.valueName ? parser.values(name).join(QLatin1Char(',')) : QStringLiteral("on");
        if (f.valueName && name != QLatin1String("wrong-echo") && name != QLatin1String("refuse") &&
            name != QLatin1String("answer-as") && parser.values(name).size() > 1) {
            *error = QStringLiteral("--%1 given more than once").arg(name);
            return OptionsResult::Error;
        }
        if (!ApplyFault(&options->faults, name, value, error))
            return OptionsResult::Error;
    }
    return OptionsResult::Run;
}
