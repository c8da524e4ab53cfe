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
