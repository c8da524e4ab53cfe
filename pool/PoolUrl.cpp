#include "PoolUrl.h"

#include <QUrl>
#include <QUrlQuery>

namespace {

const QString kPasswordAdvice = QStringLiteral(
    "a database URL must not carry a password (it would show in process lists and logs); "
    "use ~/.pgpass, PGPASSWORD or a service file instead");

bool ParsePostgres(const QString &text, PoolUrl *url, QString *error)
{
    const QUrl parsed(text, QUrl::StrictMode);
    if (!parsed.isValid()) {
        *error = QStringLiteral("\"%1\" is not a valid PostgreSQL URL: %2")
                     .arg(parsed.toDisplayString(QUrl::RemovePassword), parsed.errorString());
        return false;
    }
    // A lone "user:@host" still names a password field; refuse it too.
    if (!parsed.password(QUrl::FullyDecoded).isEmpty() ||
        parsed.userInfo(QUrl::FullyEncoded).contains(QLatin1Char(':'))) {
        *error = kPasswordAdvice;
        return false;
    }
    url->kind = PoolUrl::Kind::Postgres;
    url->host = parsed.host(QUrl::FullyDecoded);
    url->port = parsed.port(-1);
    url->user = parsed.userName(QUrl::FullyDecoded);
    QString path = parsed.path(QUrl::FullyDecoded);
    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    if (path.isEmpty() || path.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("the PostgreSQL URL \"%1\" needs one database name after the host, "
                                "as in postgresql://line1/tolvex")
                     .arg(parsed.toDisplayString());
        return false;
    }
    url->database = path;
    const QUrlQuery query(parsed);
    for (const auto &item : query.queryItems(QUrl::FullyDecoded)) {
        if (item.first == QLatin1String("password")) {
            *error = kPasswordAdvice;
            return false;
        }
        if (item.first == QLatin1String("sslmode")) {
            static const QStringList modes = {"disable", "allow",     "prefer",
                                              "require", "verify-ca", "verify-full"};
            if (!modes.contains(item.second)) {
                *error = QStringLiteral("sslmode \"%1\" is not one of %2")
                             .arg(item.second, modes.join(QStringLiteral(", ")));
                return false;
            }
            url->sslMode = item.second;
        } else if (item.first == QLatin1String("host") && url->host.isEmpty()) {
            url->host = item.second; // a socket folder, as the client itself accepts it
        } else {
            *error = QStringLiteral("the PostgreSQL URL parameter \"%1\" is not supported "
                                    "(only sslmode, and host for a socket folder)")
                         .arg(item.first);
            return false;
        }
    }
    return true;
}

} // namespace

bool ParsePoolUrl(const QString &text, PoolUrl *url, QString *error)
{
    *url = PoolUrl();
    auto pathAfter = [&](const QString &prefix, PoolUrl::Kind kind) {
        url->kind = kind;
        url->path = text.mid(prefix.size());
        if (url->path.isEmpty()) {
            *error = QStringLiteral("\"%1\" names no file").arg(text);
            return false;
        }
        return true;
    };
    if (text.startsWith(QLatin1String("file:")))
        return pathAfter(QStringLiteral("file:"), PoolUrl::Kind::File);
    if (text.startsWith(QLatin1String("sqlite:")))
        return pathAfter(QStringLiteral("sqlite:"), PoolUrl::Kind::Sqlite);
    if (text.startsWith(QLatin1String("postgresql://")) ||
        text.startsWith(QLatin1String("postgres://")))
        return ParsePostgres(text, url, error);
    *error = QStringLiteral("\"%1\" is not a MAC number source: use file:PATH, sqlite:PATH or "
                            "postgresql://[user@]host[:port]/dbname")
                 .arg(QUrl(text).toDisplayString(QUrl::RemovePassword));
    return false;
}

QString PoolUrlText(const PoolUrl &url)
{
    switch (url.kind) {
    case PoolUrl::Kind::File:
        return QStringLiteral("file:") + url.path;
    case PoolUrl::Kind::Sqlite:
        return QStringLiteral("sqlite:") + url.path;
    case PoolUrl::Kind::Postgres:
        break;
    }
    // Spelled out rather than through QUrl, which drops the "//" of an empty host.
    const bool socketFolder = url.host.startsWith(QLatin1Char('/'));
    QString text = QStringLiteral("postgresql://");
    if (!url.user.isEmpty())
        text += QString::fromLatin1(QUrl::toPercentEncoding(url.user)) + QLatin1Char('@');
    if (!socketFolder)
        text += url.host;
    if (url.port >= 0)
        text += QLatin1Char(':') + QString::number(url.port);
    text += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(url.database));
    QStringList query;
    if (!url.sslMode.isEmpty())
        query << QStringLiteral("sslmode=") + url.sslMode;
    if (socketFolder)
        query << QStringLiteral("host=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(url.host, "/"));
    if (!query.isEmpty())
        text += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return text;
}
