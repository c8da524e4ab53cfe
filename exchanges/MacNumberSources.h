#pragma once

#include "MacNumberSource.h"

#include <QString>
#include <memory>

// The one way the window and the production tool turn their setting into a MAC number source,
// so both hosts know only MacNumberSource. Today the setting is the path of a counter file.

// The source the setting names.
std::unique_ptr<MacNumberSource> MakeMacNumberSource(const QString &setting);

// Whether this workstation gives MAC numbers from that source: the counter file exists. The
// window's MAC assignment mode; a number typed for the tool then moves the counter too.
bool MacNumberSourcePresent(const QString &setting);

// A check made once before a production run sends anything: false, with *error naming the
// file, when the source could give no number now (missing, unreadable, holds no number, at
// FFFF). It may wait for the disk, so hosts with a window never call it.
bool MacNumberSourceReady(const QString &setting, QString *error);
