#include "MacSourceFactory.h"

#include "DatabaseMacPool.h"

std::unique_ptr<MacNumberSource> OpenMacNumberSource(const QString &url, QString *error,
                                                     const MacPoolTimeouts &timeouts)
{
    PoolUrl parsed;
    if (!ParsePoolUrl(url, &parsed, error))
        return nullptr;
    switch (parsed.kind) {
    case PoolUrl::Kind::File:
        // MERGE HOOK (counter file source): return the counter file's MacNumberSource for
        // parsed.path here, e.g. std::make_unique<FileMacNumberSource>(parsed.path).
        *error = QStringLiteral("the counter file as a MAC number source (%1) is not built into "
                                "this program yet")
                     .arg(url);
        return nullptr;
    case PoolUrl::Kind::Sqlite:
    case PoolUrl::Kind::Postgres:
        break;
    }
    return std::make_unique<DatabaseMacPool>(parsed, timeouts);
}
