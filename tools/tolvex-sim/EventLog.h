#pragma once

#include <QByteArray>

// Escapes bytes for one event line: printable ASCII stays as it is, a backslash and every other
// byte become \\, \r, \n, \t or \xHH (always two hex digits), so an event never spans lines and
// a reader can recover every byte.
QByteArray EscapeBytes(const QByteArray &bytes);

// Writes the simulator's events to standard output, one per line, flushed at once so that a
// reader waiting on a pipe sees each event as it happens.
class EventLog
{
public:
    void write(const QByteArray &event);
};
