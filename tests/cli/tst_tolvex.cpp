// The production tool end to end: the built `tolvex` against several simulated units at once
// (faults in some), against lrzsz's rx, with many processes sharing one MAC counter, under a
// signal, on a terminal, and in a short soak.

#include "TolvexVersion.h"
#include "settings/FileLock.h"
#include "support/GangModel.h"
#include "support/GangSoak.h"
#include "support/PostgresServer.h"
#include "support/PtyTools.h"
#include "support/RxPeer.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "support/TolvexRun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <vector>

namespace {

// A settings file the write accepts; it differs from the simulated unit's own settings.
const QByteArray kSettings = "ax15\r\nax26\r\nax37\r\nax48\r\nba3020\r\nbb15\r\nbh90\r\nbj30\r\n"
                             "bt4\r\neo0001100000000000\r\nnc10.0.0.9\r\nng10.0.0.1\r\n"
                             "ni10.0.0.50\r\nns255.255.255.0\r\n";

// The simulated unit's own settings as "Save File" writes them: each line, CR LF, and an empty
// line.
const QByteArray kUnitDefaultsFile =
    "ax15\r\n\r\nax25\r\n\r\nax35\r\n\r\nax45\r\n\r\nba3012\r\n\r\nbb15\r\n\r\nbh60\r\n\r\n"
    "bj60\r\n\r\nbt2\r\n\r\neo0001100000000000\r\n\r\nnc10.0.0.2\r\n\r\nng10.0.0.1\r\n\r\n"
    "ni10.0.0.5\r\n\r\nns255.255.255.0\r\n\r\nzc\r\n\r\n";

QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + 7) & 0xFF);
    return bytes;
}

QStringList MaLines(const SimUnit &sim)
{
    QStringList lines;
    for (const QByteArray &line : sim.receivedLines()) {
        if (line.startsWith("ma"))
            lines << QString::fromLatin1(line.trimmed());
    }
    return lines;
}

// Every line of a record, of every kind.
QList<QJsonObject> AllRecordLines(const QString &path)
{
    return TolvexRun::ParseLines(ReadTestFile(path));
}

// The record's step lines: those of kind "step", and those without a kind.
QList<QJsonObject> RecordLines(const QString &path)
{
    QList<QJsonObject> steps;
    for (const QJsonObject &line : AllRecordLines(path)) {
        if (line.value("kind").toString("step") == "step")
            steps << line;
    }
    return steps;
}

} // namespace

class TestTolvex : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::vector<std::unique_ptr<SimUnit>> sims;

    QString path(const QString &name) const { return dir->filePath(name); }
    QString file(const QString &name, const QByteArray &bytes) const
    {
        WriteTestFile(path(name), bytes);
        return path(name);
    }
    // Starts a simulated unit with `arguments`; its link is the port to give.
    QString sim(const QStringList &arguments = {})
    {
        sims.push_back(std::make_unique<SimUnit>());
        const QString link = path(QStringLiteral("unit%1").arg(sims.size()));
        if (!sims.back()->start(QStringList{"--link", link} + arguments))
            qWarning("%s", qPrintable(sims.back()->errorString()));
        return link;
    }
    // The tool copied into a folder of its own, where ComPorts.txt and MPFS.EXE are looked for.
    QString toolCopy(const QString &folder)
    {
        QDir().mkpath(path(folder));
        const QString copy = path(folder + "/tolvex");
        QFile::copy(TolvexRun::Program(), copy);
        return copy;
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

    void help_forTheProgramAndEveryCommand_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("starts");
        QTest::newRow("program") << QStringList{"--help"} << "Usage: tolvex [OPTIONS] COMMAND";
        for (const char *command : {"ports", "read", "write", "verify", "assign-mac", "download"})
            QTest::newRow(command) << QStringList{command, "--help"}
                                   << QStringLiteral("Usage: tolvex %1").arg(command);
        QTest::newRow("help command") << QStringList{"help", "verify"} << "Usage: tolvex verify";
        QTest::newRow("help in a later step")
            << QStringList{"read", "+", "download", "-h"} << "Usage: tolvex download";
    }
    void help_forTheProgramAndEveryCommand()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, starts);
        TolvexRun run;
        QVERIFY(run.Run(arguments));
        QCOMPARE(run.ExitCode(), 0);
        QVERIFY2(run.Out().startsWith(starts.toLatin1()), run.Out().constData());
    }

    void version_andExitStatusesInTheHelp()
    {
        TolvexRun run;
        QVERIFY(run.Run({"--version"}));
        QCOMPARE(run.Out(), QByteArray("tolvex " TOLVEX_VERSION "\n"));
        QVERIFY(run.Run({"--help"}));
        for (const char *status : {"  0 ", "  2 ", "  3 ", "  6 ", "  7 ", "  64 ", "  130 "})
            QVERIFY2(run.Out().contains(status), status);
    }

    void usageError_64_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QStringList{} << "no command given";
        QTest::newRow("unknown command")
            << QStringList{"flash", "-p", "x"} << "unknown command \"flash\"";
        QTest::newRow("no port") << QStringList{"read"} << "no --port given";
        QTest::newRow("unknown option")
            << QStringList{"read", "-p", "x", "--fast"} << "unknown option --fast";
        QTest::newRow("option of another step")
            << QStringList{"read", "-p", "x", "--next"} << "--next belongs to assign-mac";
        QTest::newRow("write without file")
            << QStringList{"write", "-p", "x"} << "write needs a settings FILE";
        QTest::newRow("two files")
            << QStringList{"verify", "-p", "x", "a", "b"} << "\"b\" is one too many";
        QTest::newRow("mac without source")
            << QStringList{"assign-mac", "-p", "x"} << "assign-mac needs --mac HHHH or --next";
        QTest::newRow("--new without --next")
            << QStringList{"assign-mac", "-p", "x", "--mac", "1234", "--new"}
            << "--new goes with --next";
        QTest::newRow("mac and next")
            << QStringList{"assign-mac", "-p", "x", "--mac", "0001", "--next"}
            << "one of --mac and --next";
        QTest::newRow("mac not hex") << QStringList{"assign-mac", "-p", "x", "--mac", "12G4"}
                                     << "--mac needs four hexadecimal digits";
        QTest::newRow("one mac, two ports")
            << QStringList{"assign-mac", "-p", "x", "-p", "y", "--mac", "0001"}
            << "one fixed --mac number for more than one unit";
        QTest::newRow("one mac, two rounds")
            << QStringList{"assign-mac", "-p", "x", "--rounds", "2", "--mac", "0001"}
            << "one fixed --mac number for more than one unit";
        QTest::newRow("two image sources")
            << QStringList{"download", "-p", "x", "--image", "a", "page.htm"}
            << "exactly one of --list FILE, --image FILE and PAGE";
        QTest::newRow("dangling +")
            << QStringList{"read", "-p", "x", "+"} << "a \"+\" must stand between two steps";
        QTest::newRow("ports joined")
            << QStringList{"ports", "+", "read"} << "ports cannot be joined";
        QTest::newRow("read of two ports to stdout")
            << QStringList{"read", "-p", "x", "-p", "y"} << "read on several ports needs -o";
        QTest::newRow("read of two ports to one file")
            << QStringList{"read", "-p", "x", "-p", "y", "-o", "cfg.txt"} << "{port}";
        QTest::newRow("rounds 0") << QStringList{"read", "-p", "x", "--rounds", "0"}
                                  << "--rounds needs a whole number";
        QTest::newRow("loop and rounds")
            << QStringList{"read", "-p", "x", "--rounds", "2", "--loop"} << "do not go together";
        QTest::newRow("value missing") << QStringList{"read", "--port"} << "--port needs a value";
    }
    void usageError_64()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        TolvexRun run;
        QVERIFY(run.Run(arguments));
        QCOMPARE(run.ExitCode(), 64);
        QVERIFY2(run.Err().contains(message), qPrintable(run.Err()));
        QVERIFY(run.Err().contains("Try 'tolvex --help'"));
    }

    void badInput_clearMessage_nothingSent_data()
    {
        QTest::addColumn<QStringList>("arguments"); // {unit} and {dir} are filled in
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown port") << QStringList{"-p", "{unit}", "-p", "{dir}/ttyNONE", "read"}
                                      << 64 << "unknown port {dir}/ttyNONE";
        QTest::newRow("port twice")
            << QStringList{"-p", "{unit}", "-p", "{unit}", "read"} << 64 << "given twice";
        QTest::newRow("settings file missing")
            << QStringList{"-p", "{unit}", "write", "{dir}/none.txt"} << 3
            << "Cannot open file {dir}/none.txt";
        QTest::newRow("settings file is /dev/zero")
            << QStringList{"-p", "{unit}", "write", "/dev/zero"} << 3
            << "Cannot open file /dev/zero: not a regular file";
        QTest::newRow("settings file is a FIFO")
            << QStringList{"-p", "{unit}", "verify", "{dir}/fifo"} << 3
            << "Cannot open file {dir}/fifo: not a regular file";
        QTest::newRow("page list is a FIFO")
            << QStringList{"-p", "{unit}", "download", "--list", "{dir}/fifo"} << 3
            << "Cannot open file {dir}/fifo: not a regular file";
        QTest::newRow("settings invalid")
            << QStringList{"-p", "{unit}", "write", "{dir}/invalid.txt"} << 3
            << "There are errors in settings file {dir}/invalid.txt:\n  Connect Timeout must be "
               "greater than Connect Update Period";
        QTest::newRow("no settings lines")
            << QStringList{"-p", "{unit}", "verify", "{dir}/pages.txt"} << 3
            << "{dir}/pages.txt, line 1: \"index.htm\" is not a settings line";
        QTest::newRow("image too large")
            << QStringList{"-p", "{unit}", "download", "--image", "{dir}/big.bin"} << 3
            << "Image {dir}/big.bin is too large: 32701 bytes, at most 32700";
        QTest::newRow("page list missing")
            << QStringList{"-p", "{unit}", "download", "--list", "{dir}/nolist.txt"} << 3
            << "Cannot open file {dir}/nolist.txt";
        QTest::newRow("builder missing")
            << QStringList{"-p", "{unit}", "download", "{dir}/index.htm"} << 3
            << "Image builder {dir}/bare/MPFS.EXE not found";
        QTest::newRow("counter missing")
            << QStringList{"-p", "{unit}", "assign-mac", "--next", "--counter", "{dir}/nocounter"}
            << 3 << "MAC counter file {dir}/nocounter not found";
        QTest::newRow("counter at FFFF")
            << QStringList{"-p", "{unit}", "assign-mac", "--next", "--counter", "{dir}/ffff.txt"}
            << 3 << "MAC counter file {dir}/ffff.txt is at FFFF: no MAC numbers left";
        QTest::newRow("counter without a number")
            << QStringList{"-p", "{unit}", "assign-mac", "--next", "--counter", "{dir}/bad.txt"}
            << 3 << "MAC counter file {dir}/bad.txt holds no number";
        QTest::newRow("record cannot be made")
            << QStringList{"-p", "{unit}", "--record", "{dir}/no/record", "read"} << 3
            << "Cannot open record file {dir}/no/record";
        QTest::newRow("a later step's file")
            << QStringList{"-p", "{unit}", "read", "+", "write", "{dir}/invalid.txt"} << 3
            << "There are errors in settings file";
    }
    void badInput_clearMessage_nothingSent()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const QString unit = sim();
        file("invalid.txt", QByteArray(kSettings).replace("bh90", "bh20"));
        file("pages.txt", "index.htm\r\n");
        file("big.bin", Pattern(32701));
        file("index.htm", "<html></html>");
        file("ffff.txt", "FF\r\nFF\r\n");
        file("bad.txt", "12\r\nAB\r\n\r\n");
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
        const QString bare = toolCopy("bare");
        for (QString &argument : arguments)
            argument.replace("{unit}", unit).replace("{dir}", dir->path());
        message.replace("{dir}", dir->path());

        TolvexRun run;
        run.Start(arguments << "--json", bare);
        QVERIFY(run.Wait());
        QCOMPARE(run.ExitCode(), status);
        QVERIFY2(run.Err().contains(message), qPrintable(run.Err()));
        const QList<QJsonObject> errors = run.Events("error");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0].value("exitStatus").toInt(), status);
        QCOMPARE(run.Events("end").value(0).value("exitStatus").toInt(), status);
        QTest::qWait(100);
        QCOMPARE(sims[0]->receivedLines(), QList<QByteArray>());
        QCOMPARE(ReadTestFile(path("ffff.txt")), QByteArray("FF\r\nFF\r\n"));
    }

    void gang_faultsInSomeUnits_eachItsOwnVerdict_othersNotHeldUp()
    {
        const QString good = sim();
        const QString wrongEcho = sim({"--wrong-echo", "ba"});
        const QString silent = sim({"--silent"});
        const QString errors = sim({"--error-first", "5"});
        const QString settings = file("cfg.txt", kSettings);
        TolvexRun run;
        QVERIFY(run.Run({"--json", "--record", path("record.jsonl"), "-p", good, "-p", wrongEcho,
                         "-p", silent, "-p", errors, "write", settings, "+", "verify", settings}));
        // The first failing unit in --port order gives the status.
        QCOMPARE(run.ExitCode(), 6);

        struct Expected
        {
            QString port;
            QString result;
            int error;
            int exitStatus;
        };
        const QList<Expected> expected{{good, "ok", 0, 0},
                                       {wrongEcho, "failed", 6, 6},
                                       {silent, "failed", 7, 7},
                                       {errors, "failed", 4, 2}};
        for (const Expected &e : expected) {
            const QList<QJsonObject> results = run.Events("result", e.port);
            QCOMPARE(results.size(), 1);
            QCOMPARE(results[0].value("result").toString(), e.result);
            QCOMPARE(results[0].value("error").toInt(), e.error);
            QCOMPARE(results[0].value("exitStatus").toInt(), e.exitStatus);
        }
        // The good unit was done, both steps, while the silent one still waited for answers.
        const QList<QJsonObject> events = run.Events();
        auto indexOf = [&](const QString &type, const QString &port) {
            for (int i = 0; i < events.size(); ++i) {
                if (events[i].value("event").toString() == type &&
                    events[i].value("port").toString() == port)
                    return i;
            }
            return -1;
        };
        auto lastIndexOf = [&](const QString &type, const QString &port) {
            for (int i = int(events.size()) - 1; i >= 0; --i) {
                if (events[i].value("event").toString() == type &&
                    events[i].value("port").toString() == port)
                    return i;
            }
            return -1;
        };
        QVERIFY(lastIndexOf("step-end", good) >= 0);
        QVERIFY(lastIndexOf("step-end", good) < indexOf("step-end", silent));

        const QList<QJsonObject> mismatches = run.Events("mismatch", wrongEcho);
        QCOMPARE(mismatches.size(), 1);
        QCOMPARE(mismatches[0].value("line").toString(), QString("ba3020"));
        QCOMPARE(mismatches[0].value("answer").toString(), QString("BA3021"));
        QCOMPARE(run.Events("round-end")[0].value("failed").toInt(), 3);

        // One record line per unit and step; a failed write ends the unit's steps.
        QMap<QString, QStringList> steps;
        for (const QJsonObject &line : RecordLines(path("record.jsonl")))
            steps[line.value("port").toString()]
                << line.value("step").toString() + " " + line.value("result").toString();
        QCOMPARE(steps[good], (QStringList{"write ok", "verify ok"}));
        QCOMPARE(steps[wrongEcho], QStringList{"write failed"});
        QCOMPARE(steps[silent], QStringList{"write failed"});
        QCOMPARE(steps[errors], QStringList{"write failed"});
        for (const QJsonObject &line : RecordLines(path("record.jsonl"))) {
            QVERIFY(!line.value("station").toString().isEmpty());
            QCOMPARE(line.value("device").toString(), line.value("port").toString());
            if (line.value("port").toString() == good)
                QCOMPARE(line.value("unitVersion").toString(), QString("1.0.5-UDP"));
            if (line.value("port").toString() != wrongEcho)
                continue;
            QStringList verdicts;
            for (const QJsonValue &entry : line.value("lines").toArray())
                verdicts << entry.toObject().value("line").toString() + "=" +
                                entry.toObject().value("verdict").toString();
            QVERIFY2(verdicts.contains("ba3020=mismatch"), qPrintable(verdicts.join(" ")));
            QVERIFY(verdicts.contains("bh90=ok"));
        }
    }

    void read_printsTheSaveFileFormat_thenVerifyAgreesAndThenNamesDifferences()
    {
        const QString unit = sim();
        TolvexRun read;
        QVERIFY(read.Run({"read", "-p", unit}));
        QCOMPARE(read.ExitCode(), 0);
        QCOMPARE(read.Out(), kUnitDefaultsFile);
        const QString saved = file("saved.txt", read.Out());

        TolvexRun verify;
        QVERIFY(verify.Run({"verify", "-p", unit, saved, "--json"}));
        QCOMPARE(verify.ExitCode(), 0);
        // 14 lines, less "bt": with Timed off a write does not send it.
        QCOMPARE(verify.Events("step-end")[0].value("message").toString(),
                 "The unit holds the 13 settings of " + saved);
        // Only queries went out.
        for (const QByteArray &line : sims[0]->receivedLines())
            QVERIFY2(line.size() <= 5 || line == "sv\r\n", line.constData());

        QVERIFY(verify.Run({"verify", "-p", unit, file("cfg.txt", kSettings), "--json"}));
        QCOMPARE(verify.ExitCode(), 6);
        QStringList named;
        for (const QJsonObject &mismatch : verify.Events("mismatch"))
            named << mismatch.value("line").toString() + "/" + mismatch.value("answer").toString();
        // In the order a write sends them.
        QCOMPARE(named,
                 (QStringList{"ax26/ax25", "ax37/ax35", "ax48/ax45", "ba3020/ba3012", "bh90/bh60",
                              "bj30/bj60", "nc10.0.0.9/nc10.0.0.2", "ni10.0.0.50/ni10.0.0.5"}));
    }

    void read_severalPorts_aFileEach_andSettingsInJson()
    {
        const QString first = sim();
        const QString second = sim({"--wrong-echo", "ba"});
        TolvexRun run;
        QVERIFY(
            run.Run({"read", "-p", first, "-p", second, "-o", path("cfg-{port}.txt"), "--json"}));
        QCOMPARE(run.ExitCode(), 0);
        for (const QString &port : {first, second}) {
            QString name = port;
            name.replace('/', '_');
            while (name.startsWith('_'))
                name.remove(0, 1);
            const QString saved = path("cfg-" + name + ".txt");
            QVERIFY2(QFile::exists(saved), qPrintable(saved));
            const QJsonObject end = run.Events("step-end", port)[0];
            QCOMPARE(end.value("output").toString(), saved);
            QCOMPARE(end.value("settings").toObject().value("clientPort").toInt(),
                     port == first ? 3012 : 3013);
            QCOMPARE(end.value("settings").toObject().value("serialBaud").toInt(), 19200);
        }
        QVERIFY(ReadTestFile(path("cfg-" + QString(second).replace('/', '_').mid(1) + ".txt"))
                    .contains("ba3013\r\n"));
    }

    void assignMac_next_takesAndAdvancesTheCounter_recordsEachNumber()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "12\r\nFE\r\n");
        TolvexRun run;
        QVERIFY(run.Run({"assign-mac", "--next", "--counter", counter, "-p", unit, "--rounds", "3",
                         "--record", path("record.jsonl")}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(MaLines(*sims[0]), (QStringList{"ma4862", "ma4863", "ma4864"}));
        QCOMPARE(ReadTestFile(counter), QByteArray("13\r\n01\r\n"));
        QStringList given;
        for (const QJsonObject &line : RecordLines(path("record.jsonl")))
            given << line.value("mac").toString() + " " + line.value("macAddress").toString();
        QCOMPARE(given, (QStringList{"12FE 00:04:A3:01:12:FE", "12FF 00:04:A3:01:12:FF",
                                     "1300 00:04:A3:01:13:00"}));
    }

    void assignMac_next_fromAPool_numbersDistinct_confirmed_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    // Three units, two rounds, numbers from a pool: six distinct numbers, each in the record
    // and confirmed in the pool; a pool with no number left then stops the run before anything
    // is sent, as does one that cannot be reached.
    void assignMac_next_fromAPool_numbersDistinct_confirmed()
    {
        QFETCH(QString, engine);
        PostgresServer server;
        QString url = "sqlite:" + path("pool.db");
        if (engine == "postgresql") {
            QString error;
            QVERIFY2(server.Start(&error), qPrintable(error));
            url = server.Url();
        }
        TolvexRun init;
        QVERIFY(init.Run({"pool", "init", "--pool", url, "--range", "2000-2005"}));
        QCOMPARE(init.ExitCode(), 0);
        const QStringList units{sim(), sim(), sim()};
        TolvexRun run;
        QVERIFY(
            run.Run({"assign-mac", "--next", "--new", "--pool", url, "-p", units[0], "-p", units[1],
                     "-p", units[2], "--rounds", "2", "--record", path("record.jsonl")}));
        QCOMPARE(run.ExitCode(), 0);
        QSet<QString> sent;
        for (const QJsonObject &line : RecordLines(path("record.jsonl")))
            sent.insert(line.value("macSent").toString());
        QCOMPARE(sent.size(), 6);
        QStringList ma;
        for (const auto &unit : sims)
            ma += MaLines(*unit);
        QCOMPARE(QSet<QString>(ma.begin(), ma.end()).size(), 6);
        TolvexRun status;
        QVERIFY(status.Run({"pool", "status", "--pool", url, "--json"}));
        const QJsonObject counts = QJsonDocument::fromJson(status.Out()).object();
        QCOMPARE(counts.value("confirmed").toInt(), 6);
        QCOMPARE(counts.value("free").toInt(), 0);
        if (engine == "sqlite") {
            // Each number's holder is the run that took it, as its record lines name it.
            const QString runId =
                RecordLines(path("record.jsonl")).value(0).value("runId").toString();
            QVERIFY(!runId.isEmpty());
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "holders");
            db.setDatabaseName(path("pool.db"));
            QVERIFY(db.open());
            QStringList holders;
            {
                QSqlQuery query(db);
                QVERIFY(query.exec("SELECT DISTINCT run_id FROM mac_numbers WHERE state = "
                                   "'confirmed'"));
                while (query.next())
                    holders << query.value(0).toString();
            }
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase("holders");
            QCOMPARE(holders, QStringList{runId});
        }

        TolvexRun empty;
        QVERIFY(empty.Run({"assign-mac", "--next", "--pool", url, "-p", units[0]}));
        QCOMPARE(empty.ExitCode(), 3);
        QVERIFY2(empty.Err().contains("no MAC numbers left"), qPrintable(empty.Err()));
        QCOMPARE(MaLines(*sims[0]).size(), 2);

        TolvexRun unreachable;
        QVERIFY(unreachable.Run(
            {"assign-mac", "--next", "--pool", "postgresql://127.0.0.1:1/tolvex", "-p", units[0]}));
        QCOMPARE(unreachable.ExitCode(), 3);
        QVERIFY2(unreachable.Err().contains("postgresql://127.0.0.1:1/tolvex"),
                 qPrintable(unreachable.Err()));
        QCOMPARE(MaLines(*sims[0]).size(), 2);
    }

    void assignMac_next_rework_keepsOnlyANumberConfirmedForTheUnitsAddress_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("secondRange"); // the second run's pool: "" the first one
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("answerAs"); // the unit's "ma" answers from the second run
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("sent"); // every number given to the unit, in order
        QTest::newRow("confirmed for its address: kept, sqlite") << "sqlite"
                                                                 << "" << QStringList() << ""
                                                                 << "kept" << QStringList{"ma8192"};
        QTest::newRow("confirmed for its address: kept, postgresql")
            << "postgresql"
            << "" << QStringList() << ""
            << "kept" << QStringList{"ma8192"};
        QTest::newRow("--new forces a new number") << "sqlite"
                                                   << "" << QStringList{"--new"} << ""
                                                   << "ok" << QStringList{"ma8192", "ma8193"};
        QTest::newRow("address not in the pool: a new number")
            << "sqlite"
            << "3000-3005" << QStringList() << ""
            << "ok" << QStringList{"ma8192", "ma12288"};
        // Another unit whose address ends in the same number is no rework: it gets a new one
        // (the unit then answers the old address again, so the assignment fails).
        QTest::newRow("confirmed for another address: a new number")
            << "sqlite"
            << "" << QStringList() << "ma=MA0,4,163,9,32,0,"
            << "failed" << QStringList{"ma8192", "ma8193"};
    }

    // A unit that holds a number the pool shows as confirmed for its very address keeps it:
    // nothing is sent, the step says "kept", the pool gives out nothing more.
    void assignMac_next_rework_keepsOnlyANumberConfirmedForTheUnitsAddress()
    {
        QFETCH(QString, engine);
        QFETCH(QString, secondRange);
        QFETCH(QStringList, options);
        QFETCH(QString, answerAs);
        QFETCH(QString, result);
        QFETCH(QStringList, sent);
        PostgresServer server;
        QString url = "sqlite:" + path("pool.db");
        if (engine == "postgresql") {
            QString error;
            QVERIFY2(server.Start(&error), qPrintable(error));
            url = server.Url();
        }
        TolvexRun init;
        QVERIFY(init.Run({"pool", "init", "--pool", url, "--range", "2000-2005"}));
        QCOMPARE(init.ExitCode(), 0);
        const QString unit = sim();
        TolvexRun first;
        QVERIFY(first.Run({"assign-mac", "--next", "--pool", url, "-p", unit}));
        QCOMPARE(first.ExitCode(), 0);

        if (!secondRange.isEmpty()) {
            url = "sqlite:" + path("other.db");
            QVERIFY(init.Run({"pool", "init", "--pool", url, "--range", secondRange}));
        }
        if (!answerAs.isEmpty())
            QVERIFY(sims[0]->sendCommand("answer-as " + answerAs));
        TolvexRun second;
        QVERIFY(second.Run(
            QStringList{"assign-mac", "--next"} + options +
            QStringList{"--pool", url, "-p", unit, "--json", "--record", path("record.jsonl")}));
        QCOMPARE(second.ExitCode(), result == "failed" ? 6 : 0);
        QStringList given;
        for (const QString &line : MaLines(*sims[0])) {
            if (line != "ma") // the read of the unit's address
                given << line;
        }
        QCOMPARE(given, sent);
        QCOMPARE(second.Events("step").size(), 1);
        const QList<QJsonObject> record = RecordLines(path("record.jsonl"));
        QCOMPARE(record.size(), 1);
        QCOMPARE(record[0].value("result").toString(), result);
        QCOMPARE(record[0].contains("macSent"), result != "kept");
        TolvexRun status;
        QVERIFY(status.Run({"pool", "status", "--pool", url, "--json"}));
        const QJsonObject counts = QJsonDocument::fromJson(status.Out()).object();
        QCOMPARE(counts.value("sent").toInt() + counts.value("confirmed").toInt() +
                     counts.value("void").toInt(),
                 secondRange.isEmpty() ? sent.size() : 1);
        if (result == "kept") {
            QCOMPARE(record[0].value("mac").toString(), QString("2000"));
            QCOMPARE(record[0].value("macAddress").toString(), QString("00:04:A3:01:20:00"));
            QCOMPARE(second.Events("result")[0].value("result").toString(), QString("ok"));
            QCOMPARE(second.Events("result")[0].value("macAddress").toString(),
                     QString("00:04:A3:01:20:00"));
        }
    }

    // The README sets a workstation up with an empty counter file: it stands for 0000.
    void assignMac_next_emptyCounterAsSetUp_startsAt0000()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "");
        TolvexRun run;
        QVERIFY(run.Run({"assign-mac", "--next", "--counter", counter, "-p", unit}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(MaLines(*sims[0]), QStringList{"ma0"});
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n01\r\n"));
    }

    // Another program holds the counter's lock: the take waits without sending; a signal then
    // ends the run as cancelled, and no number is used up.
    void assignMac_signalWhileTheTakeWaitsForTheLock_nothingSent_counterUnchanged()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        FileLock holder;
        QString error;
        QVERIFY(holder.Lock(counter + ".lock", &error));
        TolvexRun run;
        run.Start({"assign-mac", "--next", "--counter", counter, "-p", unit, "--json", "--record",
                   path("record.jsonl")});
        QVERIFY(run.WaitForEvent(
            [](const QJsonObject &event) { return event.value("event").toString() == "start"; },
            10000));
        QTest::qWait(500);
        ::kill(pid_t(run.Process().processId()), SIGTERM);
        QVERIFY(run.Wait(4000));
        QCOMPARE(run.ExitCode(), 143); // 128 + SIGTERM
        holder.Unlock();
        const QList<QJsonObject> record = RecordLines(path("record.jsonl"));
        QCOMPARE(record.size(), 1);
        QCOMPARE(record[0].value("result").toString(), QString("cancelled"));
        QVERIFY2(record[0].value("message").toString().contains(
                     "while waiting for the MAC counter file " + counter),
                 qPrintable(record[0].value("message").toString()));
        QVERIFY(MaLines(*sims[0]).isEmpty());
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n10\r\n"));
    }

    // A lock held too long ends the step with an error naming the lock file; nothing is sent.
    void assignMac_lockHeldTooLong_clearError_nothingSent()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        FileLock holder;
        QString error;
        QVERIFY(holder.Lock(counter + ".lock", &error));
        TolvexRun run;
        QVERIFY(run.Run({"assign-mac", "--next", "--counter", counter, "-p", unit, "--json"}));
        QCOMPARE(run.ExitCode(), 3);
        QCOMPARE(run.Events("step-end")[0].value("message").toString(),
                 "Cannot lock file " + counter + ".lock: another program has held it for 5 s");
        QVERIFY(MaLines(*sims[0]).isEmpty());
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n10\r\n"));
    }

    void assignMac_counterReachesFFFF_refusesBeforeSending()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "FF\r\nFE\r\n");
        TolvexRun run;
        QVERIFY(run.Run(
            {"assign-mac", "--next", "--counter", counter, "-p", unit, "--rounds", "2", "--json"}));
        QCOMPARE(run.ExitCode(), 3);
        QCOMPARE(MaLines(*sims[0]), QStringList{"ma65534"});
        QCOMPARE(ReadTestFile(counter), QByteArray("FF\r\nFF\r\n"));
        const QList<QJsonObject> ends = run.Events("step-end");
        QCOMPARE(ends.size(), 2);
        QCOMPARE(ends[1].value("message").toString(),
                 "MAC counter file " + counter + " is at FFFF: no MAC numbers left");
    }

    void assignMac_portThatDoesNotOpen_numberGoesBackToTheCounter()
    {
        // A character device, so the check before the run passes, but no serial device.
        const QString notATerminal = QStringLiteral("/dev/null");
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        TolvexRun run;
        QVERIFY(
            run.Run({"assign-mac", "--next", "--counter", counter, "-p", notATerminal, "--json"}));
        QCOMPARE(run.ExitCode(), 7);
        QCOMPARE(run.Events("step-end")[0].value("macReturned").toBool(), true);
        QCOMPARE(run.Events("step-end")[0].value("macSent").toBool(), false);
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n10\r\n"));
    }

    void assignMac_fixedNumber_counterMovedPastIt_neverBack()
    {
        const QString unit = sim();
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        TolvexRun run;
        QVERIFY(run.Run({"assign-mac", "--mac", "0020", "--counter", counter, "-p", unit}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n21\r\n"));
        QVERIFY(run.Run({"assign-mac", "--mac", "0005", "--counter", counter, "-p", unit}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n21\r\n"));
        QCOMPARE(MaLines(*sims[0]), (QStringList{"ma32", "ma5"}));
    }

    void assignMac_unitAnswersAnotherAddress_failsButTheNumberCountsAsGiven()
    {
        const QString unit = sim({"--wrong-echo", "ma"});
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        TolvexRun run;
        QVERIFY(run.Run({"assign-mac", "--next", "--counter", counter, "-p", unit, "--json"}));
        QCOMPARE(run.ExitCode(), 6);
        const QJsonObject end = run.Events("step-end")[0];
        QCOMPARE(end.value("mac").toString(), QString("0010"));
        QCOMPARE(end.value("message").toString(),
                 QString("The unit answered with MAC address 00:04:A3:01:00:11, which does not "
                         "end in 00:10"));
        // Another unit's address is never reported as this unit's.
        QCOMPARE(end.value("macAnswered").toString(), QString("00:04:A3:01:00:11"));
        QVERIFY(!end.contains("macAddress"));
        QVERIFY(!run.Events("result")[0].contains("macAddress"));
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n11\r\n"));
    }

    // A MAC step that goes quiet or is stopped after its "ma" line went out is no mismatch: the
    // unit was not heard (7) or the operator stopped it (130); the number still counts as given.
    void assignMac_silenceOrCancel_neverAMismatch_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("exitStatus");
        QTest::newRow("silent") << "silent"
                                << "failed" << 7 << 7;
        QTest::newRow("cancelled") << "cancel"
                                   << "cancelled" << 0 << 130;
    }
    void assignMac_silenceOrCancel_neverAMismatch()
    {
        QFETCH(QString, end);
        QFETCH(QString, result);
        QFETCH(int, error);
        QFETCH(int, exitStatus);
        const QString unit = sim({"--silent"});
        const QString counter = file("counter.txt", "00\r\n10\r\n");
        TolvexRun run;
        run.Start({"assign-mac", "--next", "--counter", counter, "-p", unit, "--json"});
        if (end == "cancel") {
            QVERIFY(sims[0]->waitForEvent("GOT ma16", 10000));
            ::kill(pid_t(run.Process().processId()), SIGINT);
        }
        QVERIFY(run.Wait(30000));
        QCOMPARE(run.ExitCode(), exitStatus);
        const QJsonObject stepEnd = run.Events("step-end").value(0);
        QCOMPARE(stepEnd.value("result").toString(), result);
        QCOMPARE(stepEnd.value("error").toInt(), error);
        QCOMPARE(stepEnd.value("macSent").toString(), QString("0010"));
        QVERIFY(!stepEnd.contains("macAnswered"));
        QVERIFY(!stepEnd.contains("macAddress"));
        QCOMPARE(ReadTestFile(counter), QByteArray("00\r\n11\r\n"));
        QCOMPARE(run.Events("mismatch").size(), 0);
    }

    void concurrency_8processes_50AssignmentsEach_400DistinctNumbers()
    {
        const QString counter = file("counter.txt", "00\r\n00\r\n");
        std::vector<std::unique_ptr<TolvexRun>> runs;
        for (int i = 0; i < 8; ++i) {
            const QString unit = sim();
            runs.push_back(std::make_unique<TolvexRun>());
            runs.back()->Start({"assign-mac", "--next", "--counter", counter, "-p", unit,
                                "--rounds", "50", "--record", path("record.jsonl"), "--plain"});
        }
        for (const auto &run : runs) {
            QVERIFY(run->Wait(120000));
            QCOMPARE(run->ExitCode(), 0);
        }
        QSet<QString> sent;
        int count = 0;
        for (const auto &unit : sims) {
            for (const QString &line : MaLines(*unit)) {
                sent.insert(line);
                ++count;
            }
        }
        QCOMPARE(count, 400);
        QCOMPARE(sent.size(), 400);
        // 400 is 0x190.
        QCOMPARE(ReadTestFile(counter), QByteArray("01\r\n90\r\n"));
        // Every record line whole (a start, a step and a unit line per round), every number in
        // a step line once.
        const QList<QByteArray> lines = ReadTestFile(path("record.jsonl")).split('\n');
        QCOMPARE(lines.size(), 1201);
        for (const QJsonObject &line : AllRecordLines(path("record.jsonl")))
            QVERIFY(!line.value("kind").toString().isEmpty());
        QSet<QString> recorded;
        for (const QJsonObject &line : RecordLines(path("record.jsonl")))
            recorded.insert(line.value("mac").toString());
        QCOMPARE(recorded.size(), 400);
    }

    void download_toLrzszRx_imageArrivesWhole()
    {
        RxPeer peer;
        QVERIFY(peer.Open(path("received.bin"), 20));
        const QByteArray image = Pattern(5000);
        TolvexRun run;
        QVERIFY(run.Run(
            {"download", "--image", file("image.bin", image), "-p", peer.SlavePath(), "--json"}));
        QVERIFY2(run.ExitCode() == 0, run.Out().constData());
        QVERIFY(WaitFor([&] { return peer.RxFinished(); }, 10000));
        QCOMPARE(peer.RxExitCode(), 0);
        const QByteArray received = ReadTestFile(path("received.bin"));
        QCOMPARE(received.left(image.size()), image);
        const QJsonObject end = run.Events("step-end")[0];
        QCOMPARE(end.value("image").toObject().value("size").toInt(), 5000);
        QCOMPARE(end.value("image").toObject().value("sha256").toString().size(), 64);
        QCOMPARE(run.Events("progress").last().value("percent").toInt(), 100);
    }

    void download_pageList_builtOnce_everyUnitUnpacksThePages()
    {
        const QByteArray index = "<html><body>TOLVEX</body></html>\n";
        const QByteArray inputs = Pattern(3000);
        const QString pages = file(
            "pages.txt", (file("index.htm", index) + "\r\n" + file("inputs.cgi", inputs) + "\r\n")
                             .toLocal8Bit());
        const QString first = sim({"--unpack-to", path("got1")});
        const QString second = sim({"--unpack-to", path("got2")});
        TolvexRun run;
        QVERIFY(run.Run({"download", "--list", pages, "-p", first, "-p", second, "--json"}));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(run.Events("build").size(), 2); // its begin and its end
        for (const auto &unit : sims)
            QVERIFY(unit->waitForEvent("UNPACKED"));
        for (const char *got : {"got1", "got2"}) {
            QCOMPARE(ReadTestFile(path(QString(got) + "/index.htm")), index);
            QCOMPARE(ReadTestFile(path(QString(got) + "/inputs.cgi")), inputs);
        }
    }

    void download_pagesSharingAName_refusedNamingBoth_beforeAnyUnit()
    {
        QDir().mkpath(path("a"));
        QDir().mkpath(path("b"));
        const QString first = file("a/index.htm", "first");
        const QString second = file("b/Index.htm", "second");
        const QString unit = sim();
        TolvexRun run;
        QVERIFY(run.Run({"download", "-p", unit, "--json", first, second}));
        QCOMPARE(run.ExitCode(), 3);
        const QList<QJsonObject> builds = run.Events("build");
        QCOMPARE(builds.size(), 2);
        QCOMPARE(builds[1].value("result").toString(), QString("failed"));
        const QString message = run.Events("error").value(0).value("message").toString();
        QVERIFY2(message.contains(first) && message.contains(second), qPrintable(message));
        QTest::qWait(100);
        QCOMPARE(sims[0]->receivedLines(), QList<QByteArray>());
    }

    void cancel_sigintDuringDownloads_canCanToEachUnit_cancelledLines_130()
    {
        const QString first = sim({"--wire-delay"});
        const QString second = sim({"--wire-delay"});
        TolvexRun run;
        run.Start({"--json", "--record", path("record.jsonl"), "-p", first, "-p", second,
                   "download", "--image", file("image.bin", Pattern(32700))});
        QSet<QString> started;
        QVERIFY(run.WaitForEvent(
            [&](const QJsonObject &event) {
                if (event.value("event").toString() == "progress" &&
                    event.value("percent").toInt() >= 3)
                    started.insert(event.value("port").toString());
                return started.size() >= 2;
            },
            20000));
        ::kill(pid_t(run.Process().processId()), SIGINT);
        QVERIFY(run.Wait(10000));
        QCOMPARE(run.ExitCode(), 130);
        for (const auto &unit : sims)
            QVERIFY(unit->waitForEvent("XMODEM END cancelled", 5000));
        const QList<QJsonObject> record = RecordLines(path("record.jsonl"));
        QCOMPARE(record.size(), 2);
        for (const QJsonObject &line : record) {
            QCOMPARE(line.value("result").toString(), QString("cancelled"));
            QCOMPARE(line.value("message").toString(), QString("Download cancelled by Ctrl-C"));
        }
        QCOMPARE(run.Events("end")[0].value("exitStatus").toInt(), 130);
    }

    // Every record line says which tool, run, station and record it belongs to and names its
    // files absolutely (the run is started elsewhere with relative ones); each unit's round is
    // a start line, its step lines and a unit line with the round's verdict.
    void record_startStepsUnitPerRound_oneRunId_versionAbsolutePathsSha256()
    {
        const QString good = sim();
        const QString refusing = sim({"--refuse", "ma"});
        file("cfg.txt", kSettings);
        file("image.bin", Pattern(2000));
        file("counter.txt", "00\r\n40\r\n");
        TolvexRun run;
        run.SetWorkingDirectory(dir->path());
        QVERIFY(run.Run({"--json",    "--record",    "record.jsonl",
                         "--counter", "counter.txt", "--rounds",
                         "2",         "-p",          good,
                         "-p",        refusing,      "write",
                         "cfg.txt",   "+",           "assign-mac",
                         "--next",    "+",           "download",
                         "--image",   "image.bin",   "+",
                         "read",      "-o",          "read-{port}.txt"}));
        QCOMPARE(run.ExitCode(), 6);

        const QString runId = run.Events("run").value(0).value("runId").toString();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(runId).hasMatch(), qPrintable(runId));
        const QString settingsSha = QString::fromLatin1(
            QCryptographicHash::hash(kSettings, QCryptographicHash::Sha256).toHex());
        const QString imageSha = QString::fromLatin1(
            QCryptographicHash::hash(Pattern(2000), QCryptographicHash::Sha256).toHex());
        auto output = [this](const QString &port) {
            return path("read-" + QString(port).replace('/', '_').mid(1) + ".txt");
        };

        const QList<QJsonObject> lines = AllRecordLines(path("record.jsonl"));
        QMap<QString, QStringList> kinds; // "port round" -> kinds in the record's order
        QMap<QString, QJsonObject> macLines;
        for (const QJsonObject &line : lines) {
            const QString port = line.value("port").toString();
            const QString key = port + " " + QString::number(line.value("round").toInt());
            const QString kind = line.value("kind").toString();
            kinds[key] << kind + (kind == "step" ? " " + line.value("step").toString() : "");
            QCOMPARE(line.value("runId").toString(), runId);
            QCOMPARE(line.value("version").toString(), QString(TOLVEX_VERSION));
            QCOMPARE(line.value("station").toString(),
                     run.Events("run")[0].value("station").toString());
            QCOMPARE(line.value("record").toString(), path("record.jsonl"));
            QCOMPARE(line.value("device").toString(), port);
            const QString step = line.value("step").toString();
            if (step == "write") {
                QCOMPARE(line.value("settingsFile").toString(), path("cfg.txt"));
                QCOMPARE(line.value("settingsSha256").toString(), settingsSha);
            }
            if (step == "download") {
                QCOMPARE(line.value("image").toObject().value("source").toString(),
                         path("image.bin"));
                QCOMPARE(line.value("image").toObject().value("sha256").toString(), imageSha);
            }
            if (step == "read")
                QCOMPARE(line.value("output").toString(), output(port));
            if (step == "assign-mac")
                macLines.insert(key, line);
            if (kind == "start") {
                // What the round is to do, with its files, before anything is sent.
                const QJsonArray steps = line.value("steps").toArray();
                QCOMPARE(steps.size(), 4);
                QCOMPARE(steps[0].toObject().value("settingsFile").toString(), path("cfg.txt"));
                QCOMPARE(steps[0].toObject().value("settingsSha256").toString(), settingsSha);
                QCOMPARE(steps[1].toObject().value("mac").toString(), QString("next"));
                QCOMPARE(steps[2].toObject().value("image").toObject().value("source").toString(),
                         path("image.bin"));
                QCOMPARE(steps[3].toObject().value("output").toString(), output(port));
            }
            if (kind != "unit")
                continue;
            // The round's verdict, as the result event gives it.
            QJsonObject result;
            for (const QJsonObject &event : run.Events("result", port)) {
                if (event.value("round") == line.value("round"))
                    result = event;
            }
            for (const char *field : {"result", "error", "exitStatus", "message", "macAddress"})
                QCOMPARE(line.value(field), result.value(field));
            QCOMPARE(line.value("failedStep"), result.value("step"));
            QVERIFY(line.value("durationMs").toInteger(-1) >= 0);
            QCOMPARE(line.value("macSent"), macLines.value(key).value("macSent"));
            QCOMPARE(line.value("macAnswered"), macLines.value(key).value("macAnswered"));
            QVERIFY(!line.value("macSent").toString().isEmpty());
        }
        const QStringList whole{"start",         "step write", "step assign-mac",
                                "step download", "step read",  "unit"};
        const QStringList refused{"start", "step write", "step assign-mac", "unit"};
        QCOMPARE(kinds.size(), 4);
        QCOMPARE(kinds[good + " 1"], whole);
        QCOMPARE(kinds[good + " 2"], whole);
        QCOMPARE(kinds[refusing + " 1"], refused);
        QCOMPARE(kinds[refusing + " 2"], refused);
        QVERIFY(QFile::exists(output(good)));

        // Another process appending to the same record is another run.
        TolvexRun next;
        QVERIFY(next.Run({"--json", "--record", path("record.jsonl"), "-p", good, "read"}));
        QCOMPARE(next.ExitCode(), 0);
        const QString nextId = next.Events("run").value(0).value("runId").toString();
        QVERIFY(!nextId.isEmpty() && nextId != runId);
        const QList<QJsonObject> after = AllRecordLines(path("record.jsonl"));
        QCOMPARE(after.size(), lines.size() + 3);
        for (int i = int(lines.size()); i < after.size(); ++i)
            QCOMPARE(after[i].value("runId").toString(), nextId);
    }

    // A tool killed outright mid-round leaves the round's start line, and no verdict.
    void record_killedMidRound_startLineWithoutAUnitLine()
    {
        const QString unit = sim({"--wire-delay"});
        TolvexRun run;
        run.Start({"--json", "--record", path("record.jsonl"), "-p", unit, "download", "--image",
                   file("image.bin", Pattern(32700))});
        QVERIFY(run.WaitForEvent(
            [](const QJsonObject &event) {
                return event.value("event").toString() == "progress" &&
                       event.value("percent").toInt() >= 3;
            },
            20000));
        ::kill(pid_t(run.Process().processId()), SIGKILL);
        QVERIFY(run.Wait(10000));
        const QList<QJsonObject> lines = AllRecordLines(path("record.jsonl"));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].value("kind").toString(), QString("start"));
        QCOMPARE(lines[0].value("round").toInt(), 1);
        QCOMPARE(lines[0].value("runId").toString(),
                 run.Events("run").value(0).value("runId").toString());
    }

    // A round whose start line cannot be written sends nothing: the unit would be changed
    // with no trace in the record.
    void record_startLineNotWritten_roundFailsBeforeSending()
    {
        const QString unit = sim();
        TolvexRun run;
        run.Start({"--json", "--loop", "--record", path("record.jsonl"), "-p", unit, "write",
                   file("cfg.txt", kSettings)});
        auto seen = [](const char *type, int round) {
            return [type, round](const QJsonObject &event) {
                return event.value("event").toString() == QLatin1String(type) &&
                       event.value("round").toInt() == round;
            };
        };
        QVERIFY(run.WaitForEvent(seen("waiting", 2), 10000));
        const int received = int(sims[0]->receivedLines().size());
        QVERIFY(received > 0);
        // The record rotated away, and a folder where it was: no line can be appended.
        QVERIFY(QFile::rename(path("record.jsonl"), path("record.1.jsonl")));
        QVERIFY(QDir().mkpath(path("record.jsonl")));
        run.Process().write("\n");
        QVERIFY(run.WaitForEvent(seen("waiting", 3), 10000));
        run.Process().closeWriteChannel();
        QVERIFY(run.Wait(10000));
        QCOMPARE(run.ExitCode(), 3);
        const QJsonObject result = run.Events("result").value(1);
        QCOMPARE(result.value("result").toString(), QString("failed"));
        QCOMPARE(result.value("exitStatus").toInt(), 3);
        QVERIFY2(result.value("message").toString().contains(path("record.jsonl")),
                 qPrintable(result.value("message").toString()));
        QTest::qWait(200);
        QCOMPARE(int(sims[0]->receivedLines().size()), received);
    }

    void terminal_liveLineWithBarAndTimeLeft_thenSummary()
    {
        const QString unit = sim({"--wire-delay"});
        const QString image = file("image.bin", Pattern(4000));
        PtyPair terminal;
        QVERIFY(terminal.Open());
        winsize size{};
        size.ws_col = 160;
        size.ws_row = 40;
        QVERIFY(::ioctl(terminal.slave, TIOCSWINSZ, &size) == 0);
        QByteArray shown;
        QSocketNotifier reader(terminal.master, QSocketNotifier::Read);
        connect(&reader, &QSocketNotifier::activated, this, [&] {
            char buffer[4096];
            const ssize_t n = ::read(terminal.master, buffer, sizeof buffer);
            if (n > 0)
                shown.append(buffer, int(n));
        });
        const pid_t pid =
            SpawnWithIo({TolvexRun::Program(), "-p", unit, "download", "--image", image},
                        terminal.slave, terminal.slave, dir->path());
        QVERIFY(pid > 0);
        int status = -1;
        auto ended = [&] {
            if (status < 0)
                status = ReapChild(pid);
            return status >= 0;
        };
        QVERIFY(WaitFor(ended, 20000));
        IdleFor(100);
        QCOMPARE(status, 0);
        QVERIFY2(shown.contains("#####"), shown.constData());
        QVERIFY(shown.contains(" s left"));
        QVERIFY(shown.contains("\x1b[2K"));
        QVERIFY(shown.contains(QString(unit + " (" + unit + "): ok [download]").toLocal8Bit()));
    }

    void comNames_mappedByComPortsTxt_listedAndUsable()
    {
        const QString unit = sim();
        const QString tool = toolCopy("station");
        file("station/ComPorts.txt",
             ("# the gang\nCOM7 = " + unit + "\ncom9=/dev/tty-none\n").toLocal8Bit());
        TolvexRun ports;
        ports.Start({"ports", "--json"}, tool);
        QVERIFY(ports.Wait());
        QCOMPARE(ports.ExitCode(), 0);
        QList<QJsonObject> mapped;
        for (const QJsonObject &entry : ports.Events()) {
            if (entry.contains("comName"))
                mapped << entry;
        }
        QCOMPARE(mapped.size(), 2);
        QCOMPARE(mapped[0].value("comName").toString(), QString("COM7"));
        QCOMPARE(mapped[0].value("device").toString(), unit);
        QCOMPARE(mapped[0].value("present").toBool(), true);
        QCOMPARE(mapped[1].value("present").toBool(), false);

        TolvexRun read;
        read.Start({"read", "--port", "com7", "-o", path("cfg.txt")}, tool);
        QVERIFY(read.Wait());
        QCOMPARE(read.ExitCode(), 0);
        QCOMPARE(ReadTestFile(path("cfg.txt")), kUnitDefaultsFile);
        read.Start({"read", "--port", "COM9"}, tool);
        QVERIFY(read.Wait());
        QCOMPARE(read.ExitCode(), 64);
        QVERIFY2(read.Err().contains("unknown port COM9: /dev/tty-none does not exist (" +
                                     path("station/ComPorts.txt") + " maps COM names"),
                 qPrintable(read.Err()));
    }

    // Random units, steps, rounds and signals; the run's invariants hold whatever was drawn.
    // A failing seed replays with bench_gang_model --seed N.
    void model_randomUnitsStepsRoundsSignals_invariantsHold_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<bool>("sqliteRecord");
        for (unsigned seed : {3u, 11u, 12u, 27u})
            QTest::addRow("seed %u", seed) << seed << false;
        for (unsigned seed : {3u, 12u})
            QTest::addRow("seed %u, record in SQLite", seed) << seed << true;
    }
    void model_randomUnitsStepsRoundsSignals_invariantsHold()
    {
        QFETCH(unsigned, seed);
        QFETCH(bool, sqliteRecord);
        GangModel::Options options;
        options.seed = seed;
        options.sqliteRecord = sqliteRecord;
        options.minUnits = 4;
        options.maxUnits = 8;
        const GangModel::Outcome outcome = GangModel::Run(options, dir->path());
        qInfo("%s: %d rounds, exit status %d, %d MAC numbers sent, %.1f s",
              qPrintable(outcome.scenario), outcome.rounds, outcome.exitCode,
              outcome.macNumbersSent, outcome.seconds);
        QVERIFY2(outcome.violations.isEmpty(),
                 qPrintable(outcome.scenario + "\n" + outcome.violations.join("\n")));
    }

    // Units that finish in one event-loop turn end the round once, round after round; the
    // results come in --port order.
    void rounds_eightFastUnits_eachRoundEndsOnce_resultsInPortOrder()
    {
        QStringList arguments{"--json",
                              "--rounds",
                              "3",
                              "--record",
                              path("record.jsonl"),
                              "--counter",
                              file("counter.txt", "00\r\n00\r\n")};
        QStringList ports;
        for (int u = 0; u < 8; ++u) {
            // The last units answer first.
            ports << sim({"--answer-delay-ms", QString::number((7 - u) * 3)});
            arguments << "-p" << ports.last();
        }
        arguments << "assign-mac"
                  << "--next";
        TolvexRun run;
        QVERIFY(run.Run(arguments, 30000));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(run.Events("round-end").size(), 3);
        QCOMPARE(run.Events().last().value("event").toString(), QString("end"));
        QStringList order;
        for (const QJsonObject &result : run.Events("result"))
            order << result.value("port").toString();
        QCOMPARE(order, ports + ports + ports);
        QSet<QString> numbers;
        for (const QJsonObject &line : RecordLines(path("record.jsonl")))
            numbers.insert(line.value("mac").toString());
        QCOMPARE(numbers.size(), 24);
        QCOMPARE(ReadTestFile(path("counter.txt")), QByteArray("00\r\n18\r\n"));
    }

    // A signal while eight units run: one summary, after which nothing more is said.
    void cancel_plainOutput_oneSummary_nothingAfterTheEnd()
    {
        QStringList arguments{"--plain"};
        for (int u = 0; u < 8; ++u)
            arguments << "-p" << sim({"--wire-delay"});
        arguments << "download"
                  << "--image" << file("image.bin", Pattern(8000));
        TolvexRun run;
        run.Start(arguments);
        QVERIFY(
            run.WaitForOutput([](const QByteArray &out) { return out.count("% (") >= 16; }, 20000));
        ::kill(pid_t(run.Process().processId()), SIGINT);
        QVERIFY(run.Wait(10000));
        QCOMPARE(run.ExitCode(), 130);
        const QString out = QString::fromLocal8Bit(run.Out());
        QCOMPARE(out.count("8 units: 0 ok, 8 cancelled"), 1);
        QVERIFY2(out.trimmed().endsWith("8 units: 0 ok, 8 cancelled"), qPrintable(out));
    }

    // --loop: Enter pressed while a round runs does not start the next one; only a line read
    // while the run waits does.
    void loop_lineTypedWhileARoundRuns_startsNothing()
    {
        const QString unit = sim({"--answer-delay-ms", "150"});
        TolvexRun run;
        run.Start({"--json", "--loop", "--counter", file("counter.txt", "00\r\n00\r\n"), "-p", unit,
                   "assign-mac", "--next"});
        auto seen = [&](const char *type, int round) {
            return [type, round](const QJsonObject &event) {
                return event.value("event").toString() == QLatin1String(type) &&
                       event.value("round").toInt() == round;
            };
        };
        QVERIFY(run.WaitForEvent(seen("step", 1), 10000));
        run.Process().write("\n");
        QVERIFY(run.WaitForEvent(seen("waiting", 2), 10000));
        QVERIFY(!run.WaitForEvent(seen("start", 2), 1000));
        run.Process().write("\n");
        QVERIFY(run.WaitForEvent(seen("waiting", 3), 10000));
        run.Process().closeWriteChannel();
        QVERIFY(run.Wait(10000));
        QCOMPARE(run.ExitCode(), 0);
        QCOMPARE(run.Events("round-end").size(), 2);
        QTRY_COMPARE(MaLines(*sims[0]).size(), 2);
    }

    void soak_quick_everyFaultGetsItsVerdict()
    {
        GangSoak::Options options;
        options.units = 3;
        options.cycles = 36; // seven faults, one of each
        GangSoak::Figures figures;
        QVERIFY(GangSoak::Run(options, dir->path(), &figures));
        QVERIFY2(figures.problems.isEmpty(), qPrintable(figures.problems.join("\n")));
        QCOMPARE(figures.cycles, 36);
        QCOMPARE(figures.faults, 7);
        QCOMPARE(figures.faultsByKind.size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestTolvex)
#include "tst_tolvex.moc"
