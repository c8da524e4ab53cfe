#include "PostgresServer.h"

#include <QFile>
#include <QProcess>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool RunProgram(const QString &program, const QStringList &arguments, QString *output,
                QString *error, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(3000);
        *error = QStringLiteral("%1 %2 failed: %3")
                     .arg(program, arguments.join(QLatin1Char(' ')),
                          QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return true;
}

} // namespace

bool PostgresServer::RunAsServer(const QString &program, const QStringList &arguments,
                                 QString *error) const
{
    if (::getuid() != 0)
        return RunProgram(program, arguments, nullptr, error);
    return RunProgram(
        QStringLiteral("runuser"),
        QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), program} +
            arguments,
        nullptr, error);
}

bool PostgresServer::Start(QString *error, bool durable)
{
    m_durable = durable;
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder for the server");
        return false;
    }
    if (::getuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody ||
            ::chown(m_dir.path().toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            *error = QStringLiteral("cannot hand the server's folder to the user nobody");
            return false;
        }
    }
    if (!RunAsServer(BinDir() + QStringLiteral("/initdb"),
                     {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                      QStringLiteral("-U"), QStringLiteral("tolvex"), QStringLiteral("-A"),
                      QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                      QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                     error))
        return false;
    // TLS with a certificate of its own; the database "sslonly" takes TLS connections only.
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!RunAsServer(QStringLiteral("openssl"),
                     {QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-x509"),
                      QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-nodes"),
                      QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                      QStringLiteral("-keyout"), data + QStringLiteral("/server.key"),
                      QStringLiteral("-out"), data + QStringLiteral("/server.crt")},
                     error) ||
        !RunAsServer(QStringLiteral("chmod"),
                     {QStringLiteral("600"), data + QStringLiteral("/server.key")}, error))
        return false;
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot change pg_hba.conf");
        return false;
    }
    const QByteArray rules = "hostnossl sslonly all 127.0.0.1/32 reject\n" + hba.readAll();
    hba.seek(0);
    hba.write(rules);
    hba.close();
    m_port = FreePort();
    if (!StartServer(error))
        return false;
    return Psql(QStringLiteral("CREATE DATABASE tolvex"), nullptr, error, QStringLiteral("tolvex"),
                QStringLiteral("postgres"));
}

bool PostgresServer::StartServer(QString *error)
{
    QString options =
        QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c max_connections=200 -c ssl=on")
            .arg(m_port)
            .arg(m_dir.path());
    if (!m_durable)
        options += QStringLiteral(" -c fsync=off -c synchronous_commit=off");
    m_running = RunAsServer(BinDir() + QStringLiteral("/pg_ctl"),
                            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                             QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")),
                             QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                             QStringLiteral("-o"), options, QStringLiteral("start")},
                            error);
    return m_running;
}

bool PostgresServer::Restart(QString *error)
{
    if (!RunAsServer(BinDir() + QStringLiteral("/pg_ctl"),
                     {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                      QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                      QStringLiteral("stop")},
                     error))
        return false;
    m_running = false;
    return StartServer(error);
}

void PostgresServer::Stop()
{
    if (!m_running)
        return;
    QString ignored;
    RunAsServer(BinDir() + QStringLiteral("/pg_ctl"),
                {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                 QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
                &ignored);
    m_running = false;
}

QString PostgresServer::Url(const QString &user, const QString &database) const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user).arg(m_port).arg(database);
}

bool PostgresServer::Psql(const QString &sql, QString *output, QString *error, const QString &user,
                          const QString &database) const
{
    return RunProgram(
        BinDir() + QStringLiteral("/psql"),
        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
         QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"),
         QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
         QStringLiteral("-U"), user, QStringLiteral("-d"), database, QStringLiteral("-c"), sql},
        output, error);
}
