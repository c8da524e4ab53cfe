// Reading the command line: the options, their values and every way of getting them wrong.

#include "app/CommandLine.h"

#include "TolvexVersion.h"

#include <QTest>

using Action = CommandLine::Action;
Q_DECLARE_METATYPE(CommandLine::Action)

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void help_namesTheProgramAndEveryOption();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("showWebPages");
    QTest::addColumn<QString>("tracePath");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("toolkitMayKnow");

    const QString program = QStringLiteral("/opt/tolvex/tolvex-config");
    const QString version = QStringLiteral("tolvex-config " TOLVEX_VERSION "\n");
    const QString tryHelp = QStringLiteral("Try \"tolvex-config --help\" for the options.\n");

    QTest::newRow("nothing") << QStringList{program} << Action::Run << false << ""
                             << "" << false;
    QTest::newRow("web pages") << QStringList{program, "--web-pages"} << Action::Run << true << ""
                               << "" << false;
    QTest::newRow("web pages, one dash")
        << QStringList{program, "-web-pages"} << Action::Run << true << ""
        << "" << false;
    QTest::newRow("trace") << QStringList{program, "--trace", "/tmp/trace.txt"} << Action::Run
                           << false << "/tmp/trace.txt"
                           << "" << false;
    QTest::newRow("trace with =") << QStringList{program, "--trace=bench 3.txt", "--web-pages"}
                                  << Action::Run << true << "bench 3.txt"
                                  << "" << false;
    QTest::newRow("version") << QStringList{program, "--version"} << Action::ShowVersion << false
                             << "" << version << false;
    QTest::newRow("version, short")
        << QStringList{program, "-v"} << Action::ShowVersion << false << "" << version << false;
    QTest::newRow("version wins over the rest")
        << QStringList{program, "--web-pages", "--version"} << Action::ShowVersion << false << ""
        << version << false;
    QTest::newRow("trace without a file")
        << QStringList{program, "--trace"} << Action::Fail << false << ""
        << "tolvex-config: Missing value after '--trace'.\n" + tryHelp << false;
    QTest::newRow("trace with an empty file name")
        << QStringList{program, "--trace="} << Action::Fail << false << ""
        << "tolvex-config: --trace needs a file name.\n" + tryHelp << false;
    QTest::newRow("unknown option")
        << QStringList{program, "--bogus"} << Action::Fail << false << ""
        << "tolvex-config: Unknown option 'bogus'.\n" + tryHelp << false;
    QTest::newRow("unknown with a value")
        << QStringList{program, "--bogus=1"} << Action::Fail << false << ""
        << "tolvex-config: Unknown option 'bogus'.\n" + tryHelp << false;
    // One dash: maybe the toolkit's own, judged again once the toolkit has taken its own.
    QTest::newRow("toolkit's option")
        << QStringList{program, "-platform", "offscreen"} << Action::Fail << false << ""
        << "tolvex-config: Unknown option 'platform'.\n" + tryHelp << true;
    QTest::newRow("stray argument")
        << QStringList{program, "settings.txt"} << Action::Fail << false << ""
        << "tolvex-config: unexpected argument \"settings.txt\".\n" + tryHelp << false;
    QTest::newRow("no program name") << QStringList{} << Action::Run << false << ""
                                     << "" << false;
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(bool, showWebPages);
    QFETCH(QString, tracePath);
    QFETCH(QString, text);
    QFETCH(bool, toolkitMayKnow);

    const CommandLine line = ParseCommandLine(arguments);
    QCOMPARE(line.action, action);
    QCOMPARE(line.showWebPages, showWebPages);
    QCOMPARE(line.tracePath, tracePath);
    QCOMPARE(line.text, text);
    QCOMPARE(line.toolkitMayKnow, toolkitMayKnow);
}

void TestCommandLine::help_namesTheProgramAndEveryOption()
{
    for (const char *option : {"--help", "-h"}) {
        const CommandLine line = ParseCommandLine({"./tolvex-config", option});
        QCOMPARE(line.action, Action::ShowHelp);
        QVERIFY2(line.text.startsWith(QLatin1String("Usage: tolvex-config [options]\n")),
                 qPrintable(line.text));
        for (const char *name : {"--help", "--version", "--web-pages", "--trace <file>"})
            QVERIFY2(line.text.contains(QLatin1String(name)), name);
        QVERIFY(line.text.endsWith(QLatin1Char('\n')));
        // The toolkit's own options are not offered.
        QVERIFY(!line.text.contains(QLatin1String("--help-all")));
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
