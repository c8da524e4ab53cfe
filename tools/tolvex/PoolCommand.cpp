#include "PoolCommand.h"

#include "CliOptions.h"
#include "exchanges/MacCounter.h"
#include "pool/MacPoolDatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cstdio>

namespace {

// Below this many free numbers, status warns: about a day of a busy line.
constexpr qint64 kFewMacNumbersLeft = 500;

void Print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int Fail(int status, const QString &message)
{
    Print(stderr, QStringLiteral("tolvex: %1\n").arg(message));
    return status;
}

QString Mac(int number)
{
    return number < 0 ? QStringLiteral("none") : MacNumberText(number);
}

QJsonObject CountsJson(const MacPoolCounts &c)
{
    return QJsonObject{
        {"free", c.free}, {"reserved", c.reserved},   {"leaseExpired", c.leaseExpired},
        {"sent", c.sent}, {"confirmed", c.confirmed}, {"void", c.voided}};
}

struct PoolArguments
{
    QString command;
    QString url;
    QString range;
    QString role;
    QString counter;
    bool json = false;
};

bool Parse(const QStringList &arguments, PoolArguments *a, QString *error)
{
    if (arguments.isEmpty()) {
        *error = QStringLiteral("pool needs a command: init, status or import-counter");
        return false;
    }
    a->command = arguments.first();
    const QStringList commands = {"init", "status", "import-counter"};
    if (!commands.contains(a->command)) {
        *error = QStringLiteral("\"%1\" is not a pool command (init, status, import-counter)")
                     .arg(a->command);
        return false;
    }
    for (int i = 1; i < arguments.size(); ++i) {
        const QString name = arguments[i];
        auto value = [&](QString *to) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            *to = arguments[++i];
            return true;
        };
        bool fits = true;
        if (name == QLatin1String("--pool")) {
            if (!value(&a->url))
                return false;
        } else if (name == QLatin1String("--range")) {
            fits = a->command == QLatin1String("init");
            if (fits && !value(&a->range))
                return false;
        } else if (name == QLatin1String("--grant-station")) {
            fits = a->command == QLatin1String("init");
            if (fits && !value(&a->role))
                return false;
        } else if (name == QLatin1String("--counter")) {
            fits = a->command == QLatin1String("import-counter");
            if (fits && !value(&a->counter))
                return false;
        } else if (name == QLatin1String("--json")) {
            fits = a->command == QLatin1String("status");
            a->json = true;
        } else {
            *error = QStringLiteral("pool %1 does not know \"%2\"").arg(a->command, name);
            return false;
        }
        if (!fits) {
            *error = QStringLiteral("%1 does not belong to pool %2").arg(name, a->command);
            return false;
        }
    }
    if (a->url.isEmpty()) {
        *error = QStringLiteral("pool %1 needs --pool URL").arg(a->command);
        return false;
    }
    if (a->command == QLatin1String("init") && a->range.isEmpty() && a->role.isEmpty()) {
        *error = QStringLiteral("pool init needs --range FIRST-LAST (hexadecimal, as 0000-7FFF)");
        return false;
    }
    if (a->command == QLatin1String("import-counter") && a->counter.isEmpty()) {
        *error = QStringLiteral("pool import-counter needs --counter FILE");
        return false;
    }
    return true;
}

int Init(MacPoolDatabase &pool, const PoolArguments &a)
{
    int first = 0;
    int last = -1;
    if (!a.range.isEmpty()) {
        static const QRegularExpression form(
            QStringLiteral("^([0-9A-Fa-f]{1,4})-([0-9A-Fa-f]{1,4})$"));
        const QRegularExpressionMatch m = form.match(a.range);
        if (!m.hasMatch())
            return Fail(ExitStatus::kUsage,
                        QStringLiteral("--range needs two hexadecimal numbers, as 0000-7FFF, not "
                                       "\"%1\"")
                            .arg(a.range));
        first = m.captured(1).toInt(nullptr, 16);
        last = m.captured(2).toInt(nullptr, 16);
        if (first > last || last > kMacCounterExhausted - 1)
            return Fail(ExitStatus::kUsage,
                        QStringLiteral("--range runs from low to high and ends at FFFE at most "
                                       "(FFFF is never given), not \"%1\"")
                            .arg(a.range));
    }
    QString error;
    int added = 0;
    if (last >= 0) {
        if (!pool.Initialise(first, last, &added, &error))
            return Fail(ExitStatus::kFileUnusable, error);
        Print(stdout, QStringLiteral("%1: %2 numbers added (%3 to %4), schema %5\n")
                          .arg(pool.Describe())
                          .arg(added)
                          .arg(Mac(first), Mac(last))
                          .arg(kMacPoolSchemaVersion));
    }
    if (!a.role.isEmpty()) {
        if (!pool.GrantStation(a.role, &error))
            return Fail(ExitStatus::kFileUnusable, error);
        Print(stdout, QStringLiteral("%1: role %2 may take numbers and append to the history\n")
                          .arg(pool.Describe(), a.role));
    }
    return ExitStatus::kOk;
}

int Status(MacPoolDatabase &pool, const PoolArguments &a)
{
    MacPoolStatus status;
    QString error;
    if (!pool.Status(&status, &error))
        return Fail(ExitStatus::kFileUnusable, error);
    const qint64 left = status.all.free + status.all.leaseExpired;
    const QString warning =
        left < kFewMacNumbersLeft
            ? QStringLiteral("only %1 MAC numbers are left in the pool; add a range with "
                             "'tolvex pool init'")
                  .arg(left)
            : QString();
    if (a.json) {
        QJsonArray stations;
        for (const MacPoolStationCounts &s : status.stations) {
            QJsonObject o = CountsJson(s.counts);
            o.remove(QStringLiteral("free"));
            o.insert(QStringLiteral("station"), s.station);
            stations.append(o);
        }
        QJsonObject out = CountsJson(status.all);
        out.insert(QStringLiteral("pool"), pool.Describe());
        out.insert(QStringLiteral("schema"), status.schemaVersion);
        out.insert(QStringLiteral("total"), status.all.Total());
        out.insert(QStringLiteral("nextFree"),
                   status.nextFree < 0 ? QJsonValue() : QJsonValue(Mac(status.nextFree)));
        out.insert(QStringLiteral("stations"), stations);
        if (!warning.isEmpty())
            out.insert(QStringLiteral("warning"), warning);
        Print(stdout, QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact)) +
                          QLatin1Char('\n'));
    } else {
        const MacPoolCounts &c = status.all;
        QString text =
            QStringLiteral("%1 (schema %2)\n").arg(pool.Describe()).arg(status.schemaVersion);
        text +=
            QStringLiteral("  free       %1  (next %2)\n").arg(c.free, 6).arg(Mac(status.nextFree));
        text += QStringLiteral("  reserved   %1  (%2 past their lease)\n")
                    .arg(c.reserved, 6)
                    .arg(c.leaseExpired);
        text += QStringLiteral("  sent       %1\n").arg(c.sent, 6);
        text += QStringLiteral("  confirmed  %1\n").arg(c.confirmed, 6);
        text += QStringLiteral("  void       %1\n").arg(c.voided, 6);
        text += QStringLiteral("  total      %1\n").arg(c.Total(), 6);
        if (!status.stations.isEmpty()) {
            text += QStringLiteral("  %1 %2 %3 %4 %5\n")
                        .arg(QStringLiteral("station"), -20)
                        .arg(QStringLiteral("reserved"), 9)
                        .arg(QStringLiteral("sent"), 9)
                        .arg(QStringLiteral("confirmed"), 9)
                        .arg(QStringLiteral("void"), 9);
            for (const MacPoolStationCounts &s : status.stations)
                text += QStringLiteral("  %1 %2 %3 %4 %5\n")
                            .arg(s.station.isEmpty() ? QStringLiteral("(none)") : s.station, -20)
                            .arg(s.counts.reserved, 9)
                            .arg(s.counts.sent, 9)
                            .arg(s.counts.confirmed, 9)
                            .arg(s.counts.voided, 9);
        }
        Print(stdout, text);
    }
    if (!warning.isEmpty())
        Print(stderr, QStringLiteral("tolvex: warning: %1\n").arg(warning));
    return ExitStatus::kOk;
}

int ImportCounter(MacPoolDatabase &pool, const PoolArguments &a)
{
    const MacNumberReply counter = CheckMacNumber(a.counter, -1);
    if (!counter.ok)
        return Fail(ExitStatus::kFileUnusable, counter.error);
    const int next = counter.next;
    QString error;
    int moved = 0;
    if (!pool.ImportBelow(next, QStringLiteral("counter file ") + a.counter, &moved, &error))
        return Fail(ExitStatus::kFileUnusable, error);
    Print(stdout, QStringLiteral("%1: %2 numbers below %3 count as given (from %4)\n")
                      .arg(pool.Describe())
                      .arg(moved)
                      .arg(Mac(next), a.counter));
    return ExitStatus::kOk;
}

} // namespace

QString PoolHelpText()
{
    return QStringLiteral(
        "Usage: tolvex pool init --pool URL --range FIRST-LAST [--grant-station ROLE]\n"
        "       tolvex pool status --pool URL [--json]\n"
        "       tolvex pool import-counter --pool URL --counter FILE\n"
        "\n"
        "A MAC pool gives numbers to a line of stations, never one twice.\n"
        "URL: sqlite:PATH, or postgresql://[user@]host[:port]/dbname[?sslmode=MODE]\n"
        "(no password in the URL: use ~/.pgpass, PGPASSWORD or a service file).\n"
        "\n"
        "  init            create or migrate the pool's tables and add the numbers\n"
        "                  FIRST to LAST (hexadecimal, as 0000-7FFF); numbers there stay\n"
        "  --grant-station ROLE  (PostgreSQL) let ROLE take numbers and append to the\n"
        "                  history, and nothing more\n"
        "  status          numbers free, reserved, sent, confirmed and void, per station;\n"
        "                  warns when few are left\n"
        "  import-counter  every number below the counter file's counts as given\n");
}

int RunPoolCommand(const QStringList &arguments)
{
    if (arguments.isEmpty() || arguments.contains(QStringLiteral("--help")) ||
        arguments.contains(QStringLiteral("-h"))) {
        Print(arguments.isEmpty() ? stderr : stdout, PoolHelpText());
        return arguments.isEmpty() ? ExitStatus::kUsage : ExitStatus::kOk;
    }
    PoolArguments a;
    QString error;
    if (!Parse(arguments, &a, &error))
        return Fail(ExitStatus::kUsage, error + QStringLiteral("\nTry 'tolvex pool --help'."));
    PoolUrl url;
    if (!ParsePoolUrl(a.url, &url, &error))
        return Fail(ExitStatus::kUsage, error);
    if (url.kind == PoolUrl::Kind::File)
        return Fail(ExitStatus::kUsage,
                    QStringLiteral("pool %1 works on a database pool (sqlite: or postgresql://); "
                                   "a counter file needs no setting up")
                        .arg(a.command));
    MacPoolDatabase pool(url, MacPoolTimeouts());
    if (a.command == QLatin1String("init"))
        return Init(pool, a);
    if (a.command == QLatin1String("status"))
        return Status(pool, a);
    return ImportCounter(pool, a);
}
