// The program's command line, run as the operator would run it.

#include "TolvexVersion.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kProgram = QStringLiteral(TOLVEX_BIN_DIR "/tolvex-config");

struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program where no display can be reached: whatever answers must do without one.
Run RunProgram(const QStringList &arguments, bool withDisplay = false)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                       withDisplay ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
    process.setProcessEnvironment(environment);
    process.start(kProgram, arguments);
    Run run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestProgramOptions : public QObject
{
    Q_OBJECT
private slots:
    void version_withoutDisplay();
    void help_withoutDisplay();
    void mistakes_withoutDisplay_data();
    void mistakes_withoutDisplay();
    void toolkitOptionsStillTaken();
    void trace_fileStartedAtStartUp();
};

void TestProgramOptions::version_withoutDisplay()
{
    const Run run = RunProgram({QStringLiteral("--version")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QByteArray("tolvex-config " TOLVEX_VERSION "\n"));
    QCOMPARE(run.err, QByteArray());
}

void TestProgramOptions::help_withoutDisplay()
{
    const Run run = RunProgram({QStringLiteral("-h")});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith("Usage: tolvex-config [options]\n"), run.out.constData());
    QVERIFY(run.out.contains("--trace <file>"));
    QCOMPARE(run.err, QByteArray());
}

void TestProgramOptions::mistakes_withoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("unknown") << QStringList{"--bogus"}
                             << QByteArray("tolvex-config: Unknown option 'bogus'.\n");
    QTest::newRow("trace without file")
        << QStringList{"--web-pages", "--trace"}
        << QByteArray("tolvex-config: Missing value after '--trace'.\n");
    QTest::newRow("stray argument")
        << QStringList{"DefaultConfig.txt"}
        << QByteArray("tolvex-config: unexpected argument \"DefaultConfig.txt\".\n");
}

void TestProgramOptions::mistakes_withoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, error);
    const Run run = RunProgram(arguments);
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, error + "Try \"tolvex-config --help\" for the options.\n");
}

void TestProgramOptions::toolkitOptionsStillTaken()
{
    // The toolkit's own options are its business; ours are read around them.
    Run run = RunProgram({"-platform", "offscreen", "--version"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QByteArray("tolvex-config " TOLVEX_VERSION "\n"));
    run = RunProgram({"-platform", "offscreen", "-bogus"});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("tolvex-config: Unknown option 'bogus'.\n"), run.err.constData());
}

void TestProgramOptions::trace_fileStartedAtStartUp()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trace.txt"));
    QVERIFY(WriteTestFile(path, "kept from before\n"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(kProgram, {QStringLiteral("--trace"), path});
    QVERIFY(process.waitForStarted());
    // The window is up, the trace file open for appending, the old content kept.
    QVERIFY(!process.waitForFinished(1500));
    QCOMPARE(ReadTestFile(path), QByteArray("kept from before\n"));
    process.terminate();
    QVERIFY(process.waitForFinished(10000));

    // A trace that cannot be written is said, and the program runs on without it.
    const QString missing = dir.filePath(QStringLiteral("no/such/trace.txt"));
    process.setProcessEnvironment(environment);
    process.start(kProgram, {QStringLiteral("--trace"), missing});
    QVERIFY(process.waitForStarted());
    const QByteArray said =
        ("Cannot create file " + missing + "\nThe program runs without a traffic trace.\n")
            .toLocal8Bit();
    QByteArray err;
    QVERIFY(QTest::qWaitFor(
        [&] {
            err += process.readAllStandardError();
            return err.contains(said);
        },
        10000));
    QCOMPARE(process.state(), QProcess::Running);
    process.kill();
    process.waitForFinished();
}

QTEST_GUILESS_MAIN(TestProgramOptions)
#include "tst_programoptions.moc"
