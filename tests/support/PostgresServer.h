#pragma once

// A real PostgreSQL 15 server for a test or a benchmark, in a temporary folder of its own:
// initdb, then pg_ctl on a free local port, stopped and removed at the end. The server refuses
// to run as root, so under root it runs as "nobody" (through runuser). Trust authentication on
// 127.0.0.1 only; the superuser is "tolvex" and owns the database "tolvex". TLS is on, with a
// certificate made for the run; a database named "sslonly" accepts TLS connections only.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PostgresServer
{
public:
    static QString BinDir() { return QStringLiteral("/usr/lib/postgresql/15/bin"); }

    PostgresServer() = default;
    ~PostgresServer() { Stop(); }
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // `durable`: fsync and synchronous commit on, as a line server runs (benchmarks); tests
    // turn them off for speed.
    bool Start(QString *error, bool durable = false);
    // "fast": the server ends every connection, as an operator's restart does.
    bool Restart(QString *error);
    void Stop();

    int Port() const { return m_port; }
    QString Url(const QString &user = QStringLiteral("tolvex"),
                const QString &database = QStringLiteral("tolvex")) const;
    // Runs SQL through psql as `user` on `database`; false with the server's message in *error.
    bool Psql(const QString &sql, QString *output, QString *error,
              const QString &user = QStringLiteral("tolvex"),
              const QString &database = QStringLiteral("tolvex")) const;

private:
    bool RunAsServer(const QString &program, const QStringList &arguments, QString *error) const;
    bool StartServer(QString *error);

    QTemporaryDir m_dir;
    int m_port = -1;
    bool m_durable = false;
    bool m_running = false;
};
