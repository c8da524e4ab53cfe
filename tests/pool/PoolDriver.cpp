// A station process for the pool's tests and benchmarks: takes numbers from a pool through the
// real DatabaseMacPool and, at random, marks them sent and confirms or voids them, or gives
// them back. It prints one line per fact, flushed at once, so a process killed at any moment
// leaves a true (if short) account:
//   T n   taken          S n   marked sent (answered before a line would go out)
//   G n   given back     C n / V n   confirmed / void
//   X n   marking refused (the reservation was lost): the number must not be sent
//   L us  take + mark-sent latency in microseconds (with --latency)
//   F us  the same for the first number, connecting to the pool included
// --pace-ms N starts a take every N ms (otherwise each follows the last at once).
//   E text   a failed call (it is retried)        EMPTY   the pool has no number left

#include "pool/MacSourceFactory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

class Driver : public QObject
{
public:
    Driver(std::unique_ptr<MacNumberSource> source, MacNumberHolder holder, int count, quint32 seed,
           int thinkMs, bool latency)
        : m_source(std::move(source)), m_holder(std::move(holder)), m_count(count), m_random(seed),
          m_thinkMs(thinkMs), m_latency(latency)
    {
    }

    // With a pace, takes start every `paceMs` (a station's units coming round), each station at
    // its own random offset; a take that falls behind starts at once.
    void SetPace(int paceMs)
    {
        m_paceMs = paceMs;
        m_since.start();
        m_due = paceMs > 0 ? m_random.bounded(paceMs) : 0;
    }

    void Next()
    {
        if (m_count >= 0 && m_sent >= m_count) {
            QCoreApplication::exit(0);
            return;
        }
        if (m_paceMs > 0) {
            const qint64 wait = m_due - m_since.elapsed();
            m_due += m_paceMs;
            if (wait > 0) {
                QTimer::singleShot(int(wait), this, [this] { Take(); });
                return;
            }
        }
        Take();
    }

private:
    void Take()
    {
        m_clock.start();
        m_source->Take(m_holder, this, [this](const MacNumberReply &r) {
            if (!r.ok) {
                if (r.error.contains(QLatin1String("no free MAC number"))) {
                    Line("EMPTY");
                    QCoreApplication::exit(0);
                    return;
                }
                Retry(r.error);
                return;
            }
            Line(QStringLiteral("T %1").arg(r.number));
            const int number = r.number;
            QTimer::singleShot(m_thinkMs ? int(m_random.bounded(m_thinkMs + 1)) : 0, this,
                               [this, number] { Use(number); });
        });
    }

    void Use(int number)
    {
        if (m_random.bounded(100) < 15) {
            m_source->GiveBack(number, this, [this, number](const MacNumberReply &r) {
                if (r.ok)
                    Line(QStringLiteral("G %1").arg(number));
                else
                    Line(QStringLiteral("E %1").arg(r.error));
                Next();
            });
            return;
        }
        m_source->MarkSent(number, this, [this, number](const MacNumberReply &r) {
            if (!r.ok) {
                Line(QStringLiteral("X %1 %2").arg(number).arg(r.error));
                Next();
                return;
            }
            Line(QStringLiteral("S %1").arg(number));
            if (m_latency)
                Line(QStringLiteral("%1 %2")
                         .arg(m_sent == 0 ? 'F' : 'L')
                         .arg(m_clock.nsecsElapsed() / 1000));
            ++m_sent;
            m_errors = 0;
            const bool confirm = m_random.bounded(100) < 80;
            auto ended = [this, number, confirm](const MacNumberReply &e) {
                Line(e.ok ? QStringLiteral("%1 %2").arg(confirm ? 'C' : 'V').arg(number)
                          : QStringLiteral("E %1").arg(e.error));
                Next();
            };
            if (confirm)
                m_source->Confirm(number,
                                  QStringLiteral("00:04:A3:00:%1:%2")
                                      .arg(number >> 8, 2, 16, QLatin1Char('0'))
                                      .arg(number & 0xFF, 2, 16, QLatin1Char('0')),
                                  this, ended);
            else
                m_source->Void(number, QStringLiteral("step failed"), this, ended);
        });
    }

    void Retry(const QString &error)
    {
        Line(QStringLiteral("E %1").arg(error));
        if (++m_errors > 400) {
            QCoreApplication::exit(3);
            return;
        }
        QTimer::singleShot(50, this, [this] { Next(); });
    }

    static void Line(const QString &text)
    {
        std::printf("%s\n", text.toUtf8().constData());
        std::fflush(stdout);
    }

    std::unique_ptr<MacNumberSource> m_source;
    MacNumberHolder m_holder;
    int m_count;
    QRandomGenerator m_random;
    int m_thinkMs;
    bool m_latency;
    int m_sent = 0;
    int m_errors = 0;
    QElapsedTimer m_clock;
    int m_paceMs = 0;
    qint64 m_due = 0;
    QElapsedTimer m_since;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const QString &name, const QString &fallback) {
        const int i = int(args.indexOf(name));
        return i > 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    MacPoolTimeouts timeouts;
    timeouts.leaseMs = option(QStringLiteral("--lease-ms"), QStringLiteral("300000")).toInt();
    timeouts.connectSeconds = 2;
    timeouts.statementMs = 3000;
    QString error;
    auto source =
        OpenMacNumberSource(option(QStringLiteral("--pool"), QString()), &error, timeouts);
    if (!source) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 2;
    }
    const QString station = option(QStringLiteral("--station"), QStringLiteral("driver"));
    Driver driver(std::move(source), {station, QStringLiteral("ttyS0"), station},
                  option(QStringLiteral("--count"), QStringLiteral("-1")).toInt(),
                  option(QStringLiteral("--seed"), QStringLiteral("1")).toUInt(),
                  option(QStringLiteral("--think-ms"), QStringLiteral("0")).toInt(),
                  args.contains(QStringLiteral("--latency")));
    driver.SetPace(option(QStringLiteral("--pace-ms"), QStringLiteral("0")).toInt());
    QTimer::singleShot(0, &driver, [&driver] { driver.Next(); });
    return app.exec();
}
