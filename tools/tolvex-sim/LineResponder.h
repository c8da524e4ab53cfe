#pragma once

#include <QByteArray>

struct FaultSettings;
class UnitSettings;

// What the unit does with one received line.
struct LineResponse
{
    enum class Kind
    {
        Answer,        // send `text` (line end included)
        StartTransfer, // switch to receiving an image; no line is sent
    };
    Kind kind = Kind::Answer;
    QByteArray text;
};

// Turns a received line (without its CR LF) into the unit's reaction: the version answer, query
// answers, stored settings echoed back, "OK" for the closing line and the empty line, "Error" for
// anything else. Faults that act on the whole line (silence, counts) are the caller's.
class LineResponder
{
public:
    explicit LineResponder(UnitSettings *settings) : m_settings(settings) {}

    LineResponse respond(const QByteArray &line, const FaultSettings &faults);

private:
    UnitSettings *m_settings;
};
