#pragma once

#include <QDateTime>
#include <QString>

// A time stamp for log lines in the operator's own locale: the short date, one blank, the long
// time.
QString LocalDateTimeText(const QDateTime &when);
