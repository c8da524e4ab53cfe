#include "MacSourceFactory.h"

#include "DatabaseMacPool.h"
#include "exchanges/FileMacNumberSource.h"

std::unique_ptr<MacNumberSource> OpenMacNumberSource(const QString &url, QString *error,
                                                     const MacPoolTimeouts &timeouts)
{
    PoolUrl parsed;
    if (!ParsePoolUrl(url, &parsed, error))
        return nullptr;
    switch (parsed.kind) {
    case PoolUrl::Kind::File:
        return std::make_unique<FileMacNumberSource>(parsed.path);
    case PoolUrl::Kind::Sqlite:
    case PoolUrl::Kind::Postgres:
        break;
    }
    return std::make_unique<DatabaseMacPool>(parsed, timeouts);
}

bool MacPoolReady(const QString &url, int needed, int *next, QString *error,
                  const MacPoolTimeouts &timeouts)
{
    PoolUrl parsed;
    if (!ParsePoolUrl(url, &parsed, error))
        return false;
    MacPoolDatabase pool(parsed, timeouts);
    MacPoolStatus status;
    if (!pool.Status(&status, error))
        return false;
    *next = status.nextFree;
    const qint64 left = status.all.free + status.all.leaseExpired;
    if (left < needed) {
        *error = left == 0 ? QStringLiteral("%1 has no MAC numbers left").arg(pool.Describe())
                           : QStringLiteral("%1 has %2 MAC numbers left, but the run needs %3")
                                 .arg(pool.Describe())
                                 .arg(left)
                                 .arg(needed);
        return false;
    }
    return true;
}
