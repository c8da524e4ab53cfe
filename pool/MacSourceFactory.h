#pragma once

#include "MacPoolDatabase.h"
#include "exchanges/MacNumberSource.h"

#include <memory>

// The MAC number source a --pool URL names (see PoolUrl.h): the counter file, or a pool in
// SQLite or PostgreSQL. Nothing is opened yet: a database is first reached at the first call,
// on the pool's own thread. Null with *error for a URL this program cannot use.
std::unique_ptr<MacNumberSource> OpenMacNumberSource(const QString &url, QString *error,
                                                     const MacPoolTimeouts &timeouts = {});

// A check made once before a production run sends anything, for a database pool: it can be
// reached and has at least `needed` numbers to give (free, or reserved by a station whose lease
// ran out). False with *error naming the pool; *next is the lowest free number (-1 for none).
// Synchronous: for the command-line tool before its event loop runs, never for the window.
bool MacPoolReady(const QString &url, int needed, int *next, QString *error,
                  const MacPoolTimeouts &timeouts = {});
