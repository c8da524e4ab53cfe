// The production tool as a station runs it unattended: output that fails is a failure, a run
// that stops early says why, signals give the shell's exit statuses, settings files and ports
// are checked strictly before anything is sent, and a shift is prepared with --check and a
// station file.

#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "support/TolvexRun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

namespace {

const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";

QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) & 0xFF);
    return bytes;
}

} // namespace

class TestTolvexStation : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::vector<std::unique_ptr<SimUnit>> sims;

    QString path(const QString &name) const { return dir->filePath(name); }
    QString file(const QString &name, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path(name)).absolutePath());
        WriteTestFile(path(name), bytes);
        return path(name);
    }
    QString sim(const QStringList &arguments = {})
    {
        sims.push_back(std::make_unique<SimUnit>());
        const QString link = path(QStringLiteral("unit%1").arg(sims.size()));
        if (!sims.back()->start(QStringList{"--link", link} + arguments))
            qWarning("%s", qPrintable(sims.back()->errorString()));
        return link;
    }
    // The tool copied into a folder of its own, with `builder` as its image builder when given.
    QString toolCopy(const QString &folder, const QByteArray &builder = QByteArray())
    {
        QDir().mkpath(path(folder));
        const QString copy = path(folder + "/tolvex");
        QFile::copy(TolvexRun::Program(), copy);
        if (!builder.isEmpty()) {
            file(folder + "/MPFS.EXE", builder);
            QFile::setPermissions(path(folder + "/MPFS.EXE"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        return copy;
    }
    int received() const
    {
        int lines = 0;
        for (const auto &unit : sims)
            lines += int(unit->receivedLines().size());
        return lines;
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup()
    {
        sims.clear();
        dir.reset();
    }

    // A full disk under standard output: the settings, the events or the listing are lost, so
    // the run has failed, whatever the units did.
    void standardOutputFails_exit3_data()
    {
        QTest::addColumn<QStringList>("arguments"); // {unit} and {dir} are filled in
        QTest::addColumn<QString>("message");
        QTest::newRow("read printing the settings")
            << QStringList{"-p", "{unit}", "read"}
            << "Cannot write the settings to standard output: No space left on device";
        QTest::newRow("json events")
            << QStringList{"--json", "-p", "{unit}", "read", "-o", "{dir}/cfg.txt"}
            << "standard output could not be written";
        QTest::newRow("ports") << QStringList{"ports", "--comports", "{dir}/map.txt"}
                               << "standard output could not be written";
        QTest::newRow("help") << QStringList{"--help"} << "standard output could not be written";
    }
    void standardOutputFails_exit3()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString unit = sim();
        file("map.txt", ("COM3 = " + unit + "\n").toLocal8Bit());
        for (QString &argument : arguments)
            argument.replace("{unit}", unit).replace("{dir}", dir->path());
        QProcess tool;
        tool.setStandardOutputFile("/dev/full");
        tool.start(TolvexRun::Program(), arguments);
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 3);
        const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    // A build that fails is named in plain output too, not only in --json events.
    void buildFails_plainOutputSaysWhy()
    {
        const QString unit = sim();
        const QString tool =
            toolCopy("station", "#!/bin/sh\necho 'page table full at index.htm' >&2\nexit 1\n");
        file("pages/index.htm", "<html></html>");
        TolvexRun run;
        run.Start({"--plain", "-p", unit, "download", path("pages/index.htm")}, tool);
        QVERIFY(run.Wait());
        QCOMPARE(run.ExitCode(), 3);
        const QString out = QString::fromLocal8Bit(run.Out());
        QVERIFY2(out.contains("stopped: ") && out.contains("page table full at index.htm"),
                 qPrintable(out));
        QCOMPARE(received(), 0);
    }

    // The shell's convention: 128 + the signal's number, in the exit status and in "end".
    void signal_exitStatus128PlusNumber_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
        QTest::newRow("SIGINT twice") << -int(SIGINT) << 130;
    }
    void signal_exitStatus128PlusNumber()
    {
        QFETCH(int, signal);
        QFETCH(int, status);
        const QString unit = sim({"--wire-delay"});
        TolvexRun run;
        run.Start({"--json", "-p", unit, "download", "--image", file("image.bin", Pattern(32700))});
        QVERIFY(run.WaitForEvent(
            [](const QJsonObject &e) { return e.value("event").toString() == "progress"; }, 20000));
        ::kill(pid_t(run.Process().processId()), std::abs(signal));
        if (signal < 0)
            ::kill(pid_t(run.Process().processId()), std::abs(signal));
        QVERIFY(run.Wait(10000));
        QCOMPARE(run.ExitCode(), status);
        const QList<QJsonObject> events = run.Events();
        QCOMPARE(run.Events("end").size(), 1);
        QCOMPARE(events.last().value("event").toString(), QString("end"));
        QCOMPARE(events.last().value("exitStatus").toInt(), status);
    }

    // Settings the unit would take otherwise than the file says never go out.
    void settingsFile_checkedStrictly_beforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("message");
        QTest::newRow("octet over 255")
            << "write" << QByteArray("ni10.0.0.50") << QByteArray("ni300.1.1.1")
            << "line 13: IP Address \"300.1.1.1\" is not four numbers from 0 to 255";
        QTest::newRow("port out of range")
            << "write" << QByteArray("ba3020") << QByteArray("ba99999")
            << "line 5: Client Port 99999 is outside its range, 1 to 65535";
        QTest::newRow("unknown line, verify")
            << "verify" << QByteArray("bj30") << QByteArray("bj30\r\nxq7")
            << "line 9: \"xq7\" is not a settings line";
    }
    void settingsFile_checkedStrictly_beforeAnythingIsSent()
    {
        QFETCH(QString, step);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, message);
        const QString unit = sim();
        const QString settings = file("cfg.txt", QByteArray(kSettings).replace(from, to));
        TolvexRun run;
        QVERIFY(run.Run({"-p", unit, "read", "+", step, settings}));
        QCOMPARE(run.ExitCode(), 3);
        QVERIFY2(run.Err().contains(settings + ", " + message), qPrintable(run.Err()));
        QTest::qWait(100);
        QCOMPARE(received(), 0);
    }

    void port_mustBeACharacterDevice_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "an empty --port names no device";
        QTest::newRow("folder") << "{dir}"
                                << "unknown port {dir}: {dir} is not a character device";
        QTest::newRow("plain file")
            << "{dir}/cfg.txt"
            << "unknown port {dir}/cfg.txt: {dir}/cfg.txt is not a character";
    }
    void port_mustBeACharacterDevice()
    {
        QFETCH(QString, port);
        QFETCH(QString, message);
        file("cfg.txt", kSettings);
        port.replace("{dir}", dir->path());
        message.replace("{dir}", dir->path());
        TolvexRun run;
        QVERIFY(run.Run({"--port=" + port, "read"}));
        QCOMPARE(run.ExitCode(), 64);
        QVERIFY2(run.Err().contains(message), qPrintable(run.Err()));
    }

    // Everything a shift needs is checked and the plan printed; no unit hears a byte and no
    // number is taken.
    void check_everyCheck_planPrinted_nothingSent()
    {
        const QString first = sim();
        const QString second = sim();
        const QString tool = toolCopy("station");
        QFile::copy(TOLVEX_BIN_DIR "/MPFS.EXE", path("station/MPFS.EXE"));
        // Page list paths are taken from the list's folder, not from where the tool runs.
        file("line/web/index.htm", "<html>TOLVEX</html>");
        file("line/web/inputs.cgi", Pattern(2000));
        const QString list = file("line/pages.txt", "web/index.htm\r\nweb/inputs.cgi\r\n");
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        const QString settings = file("cfg.txt", kSettings);
        TolvexRun run;
        run.Start(
            {"--check",  "--json", "-p",        first,        "-p",       second,
             "--rounds", "3",      "--counter", counter,      "--record", path("record.jsonl"),
             "write",    settings, "+",         "assign-mac", "--next",   "+",
             "download", "--list", list},
            tool);
        QVERIFY(run.Wait());
        QCOMPARE(run.ExitCode(), 0);
        const QList<QJsonObject> plans = run.Events("plan");
        QCOMPARE(plans.size(), 1);
        const QJsonObject plan = plans[0];
        QCOMPARE(plan.value("ports").toArray().size(), 2);
        QCOMPARE(plan.value("rounds").toInt(), 3);
        QCOMPARE(plan.value("counter").toObject().value("next").toString(), QString("0010"));
        QCOMPARE(plan.value("counter").toObject().value("needed").toInt(), 6);
        const QJsonObject download = plan.value("steps").toArray().at(2).toObject();
        QCOMPARE(download.value("pages").toInt(), 2);
        QVERIFY(download.value("size").toInt() > 2000);
        QCOMPARE(download.value("sha256").toString().size(), 64);
        QCOMPARE(run.Events().last().value("event").toString(), QString("end"));
        QTest::qWait(100);
        QCOMPARE(received(), 0);
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n10\r\n"));
        QVERIFY(!QFile::exists(path("record.jsonl")));
    }

    void check_refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("too few numbers")
            << QStringList{"--rounds", "16", "assign-mac", "--next", "--counter", "{dir}/fff0.txt"}
            << 3 << "{dir}/fff0.txt has 15 numbers left (FFF0 to FFFE), but the run needs 16";
        QTest::newRow("counter in a folder that cannot be written")
            << QStringList{"assign-mac", "--next", "--counter", "{dir}/ro/counter.txt"} << 3
            << "{dir}/ro/counter.txt can be read but not written";
        QTest::newRow("counter lock cannot be taken")
            << QStringList{"assign-mac", "--next", "--counter", "{dir}/locked/counter.txt"} << 3
            << "Cannot lock file {dir}/locked/counter.txt.lock";
        QTest::newRow("record in a missing folder")
            << QStringList{"--record", "{dir}/none/r.jsonl", "read"} << 3
            << "Cannot open record file {dir}/none/r.jsonl";
        QTest::newRow("usage") << QStringList{"assign-mac"} << 64 << "assign-mac needs";
    }
    void check_refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        file("fff0.txt", "FF\r\nF0\r\n");
        file("ro/counter.txt", "00\r\n10\r\n");
        file("locked/counter.txt", "00\r\n10\r\n");
        QDir().mkpath(path("locked/counter.txt.lock")); // a folder where the lock file goes
        const bool readOnlyWorks =
            QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner) &&
            !QFile(path("ro/probe")).open(QIODevice::WriteOnly);
        if (QTest::currentDataTag() ==
            QLatin1String("counter in a folder that cannot be written")) {
            QFile::setPermissions(path("ro/counter.txt"), QFile::ReadOwner);
            if (!readOnlyWorks) {
                QFile::setPermissions(path("ro"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QSKIP("running as a user whom file permissions do not stop");
            }
        }
        const QString unit = sim();
        for (QString &argument : arguments)
            argument.replace("{dir}", dir->path());
        message.replace("{dir}", dir->path());
        TolvexRun run;
        QVERIFY(run.Run(QStringList{"--check", "-p", unit} + arguments));
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(run.ExitCode(), status);
        QVERIFY2(run.Err().contains(message), qPrintable(run.Err()));
        QCOMPARE(received(), 0);
    }

    // A station's set-up in one file; what the command line says wins.
    void stationFile_portsStepsAndFiles_commandLineOverrides()
    {
        const QString first = sim();
        const QString second = sim();
        file("line/cfg.txt", kSettings);
        file("line/counter.txt", "00\r\n20\r\n");
        const QString station =
            file("line/station.txt", ("# line 3\nname = line-3\nport = " + first + " " + second +
                                      "\nsteps = write cfg.txt + assign-mac --next\n"
                                      "counter = counter.txt\nrecord = record.jsonl\n")
                                         .toLocal8Bit());
        TolvexRun run;
        QVERIFY(run.Run({"--json", "--station-file", station}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(run.Events("result").size(), 2);
        QCOMPARE(ReadTestFile(path("line/counter.txt")), QByteArray("00\r\n22\r\n"));
        const QList<QJsonObject> record =
            TolvexRun::ParseLines(ReadTestFile(path("line/record.jsonl")));
        // A start, two steps and a unit line per unit; files named absolutely, as found from
        // the station file's folder.
        QCOMPARE(record.size(), 8);
        for (const QJsonObject &line : record) {
            QCOMPARE(line.value("station").toString(), QString("line-3"));
            QCOMPARE(line.value("record").toString(), path("line/record.jsonl"));
            if (line.value("step").toString() == "write")
                QCOMPARE(line.value("settingsFile").toString(), path("line/cfg.txt"));
        }

        // The command line's port and steps replace the file's.
        TolvexRun one;
        QVERIFY(one.Run({"--json", "--station-file", station, "-p", first, "--station", "bench",
                         "read", "-o", path("got.txt")}));
        QCOMPARE(one.ExitCode(), 0);
        QCOMPARE(one.Events("result").size(), 1);
        QCOMPARE(one.Events("run").value(0).value("station").toString(), QString("bench"));
        QVERIFY(QFile::exists(path("got.txt")));

        // A record and a pool in SQLite files are found from the station file's folder too.
        TolvexRun init;
        QVERIFY(init.Run(
            {"pool", "init", "--pool", "sqlite:" + path("line/pool.db"), "--range", "0100-0101"}));
        QCOMPARE(init.ExitCode(), 0);
        const QString inDatabase =
            file("line/db.txt", ("port = " + first +
                                 "\nsteps = assign-mac --next\nrecord = sqlite:line.db\n"
                                 "pool = sqlite:pool.db\n")
                                    .toLocal8Bit());
        TolvexRun database;
        QVERIFY(database.Run({"--json", "--station-file", inDatabase}));
        QCOMPARE(database.ExitCode(), 0);
        QVERIFY(QFile::exists(path("line/line.db")));
        QCOMPARE(database.Events("step-end").value(0).value("mac").toString(), QString("0100"));
    }

    void stationFile_badLine_namedWithItsNumber()
    {
        const QString station = file("station.txt", "name = a\nports = /dev/ttyUSB0\n");
        TolvexRun run;
        QVERIFY(run.Run({"--station-file", station}));
        QCOMPARE(run.ExitCode(), 3);
        QVERIFY2(run.Err().contains(station + ", line 2: unknown key \"ports\""),
                 qPrintable(run.Err()));
    }

    // The simulated adapter holds its answers as a USB adapter's latency timer does.
    void simulatedAdapterLatency_holdsAnswers()
    {
        const QString slow = sim({"--adapter-latency-ms", "40"});
        const QString fast = sim();
        QElapsedTimer clock;
        qint64 elapsed[2];
        for (int i = 0; i < 2; ++i) {
            TolvexRun run;
            clock.start();
            QVERIFY(run.Run({"-p", i == 0 ? slow : fast, "read", "-o", path("cfg.txt")}));
            elapsed[i] = clock.elapsed();
            QCOMPARE(run.ExitCode(), 0);
        }
        // A read is some fifteen exchanges: 40 ms each make well over 0.4 s more.
        QVERIFY2(elapsed[0] - elapsed[1] > 400,
                 qPrintable(QStringLiteral("%1 ms against %2 ms").arg(elapsed[0]).arg(elapsed[1])));
    }
};

QTEST_GUILESS_MAIN(TestTolvexStation)
#include "tst_tolvexstation.moc"
