#pragma once

#include "MacPoolDatabase.h"
#include "exchanges/MacNumberSource.h"

#include <memory>

// The MAC number source a --pool URL names (see PoolUrl.h): the counter file, or a pool in
// SQLite or PostgreSQL. Nothing is opened yet: a database is first reached at the first call,
// on the pool's own thread. Null with *error for a URL this program cannot use.
std::unique_ptr<MacNumberSource> OpenMacNumberSource(const QString &url, QString *error,
                                                     const MacPoolTimeouts &timeouts = {});
