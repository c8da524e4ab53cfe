#pragma once

#include "link/Exchange.h"

// The command exchanges whose verdicts differ.
enum class CommandKind
{
    Read,
    Write,
    MacAssignment,
};

// The verdict of a command exchange whose lines were all answered, decided from the lines'
// verdicts in `result` alone, and the window's words for it (box, log line with `dateTime`):
// - read: a refused or wrongly answered query leaves its setting unknown: Incomplete, naming
//   them; otherwise "Data read OK";
// - write: any line not answered as sent fails it (Error 6); otherwise "Data sent OK";
// - MAC assignment: a refused line fails it as refused, any other line not answered as it
//   should be (an address that does not end in the number sent) as not taken (Error 6).
// This is the one place those texts are made from what happened.
void SetCommandVerdict(CommandKind kind, const QString &dateTime, ExchangeResult &result);
