#pragma once

#include <QStringList>

// `tolvex pool init|status|import-counter`: setting up and watching a MAC pool a line of
// stations shares. Takes the arguments after "pool"; returns the exit status.
int RunPoolCommand(const QStringList &arguments);

// The help for the pool commands.
QString PoolHelpText();
