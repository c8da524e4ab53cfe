#pragma once

#include <QString>

// Where a MAC number source lives, as the operator writes it:
//   file:PATH                                   the counter file of one workstation
//   sqlite:PATH                                 a pool in an SQLite file
//   postgresql://[user@]host[:port]/dbname[?sslmode=MODE][&host=SOCKETFOLDER]
// A password is never accepted in the URL (it would show in process lists, logs and the
// record); the database client's own ways supply it (~/.pgpass, PGPASSWORD, a service file).
struct PoolUrl
{
    enum class Kind
    {
        File,
        Sqlite,
        Postgres,
    };
    Kind kind = Kind::File;
    QString path;     // file:, sqlite:
    QString host;     // empty: the client's default (PGHOST or its socket folder)
    int port = -1;    // -1: the client's default
    QString user;     // empty: the client's default (PGUSER or the login name)
    QString database; // postgresql: the database name
    QString sslMode;  // empty: the client's default
};

// False with *error (one sentence naming what is wrong) for a URL this program cannot use.
bool ParsePoolUrl(const QString &text, PoolUrl *url, QString *error);

// The URL as it may be shown in messages and the record: never a password.
QString PoolUrlText(const PoolUrl &url);
