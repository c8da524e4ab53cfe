#include "CommandVerdict.h"

namespace {

using Verdict = LineResult::Verdict;

bool AllOk(const ExchangeResult &result)
{
    for (const LineResult &entry : result.lines) {
        if (entry.verdict != Verdict::Ok)
            return false;
    }
    return true;
}

void Fail(ExchangeResult &result, const QString &boxText, const QString &logLine)
{
    result.outcome = ExchangeResult::Outcome::Failed;
    result.error = ExchangeError::WriteMismatch;
    result.boxKind = MessageKind::Error;
    result.boxText = boxText;
    result.logLine = logLine;
    result.logBeforeBox = false;
}

void ReadVerdict(const QString &dateTime, ExchangeResult &result)
{
    result.logBeforeBox = true;
    result.boxKind = MessageKind::Warning;
    const QStringList refused = result.LinesWith(Verdict::Refused);
    const QStringList wrong = result.LinesWith(Verdict::WrongCode);
    if (refused.isEmpty() && wrong.isEmpty()) {
        result.outcome = ExchangeResult::Outcome::Succeeded;
        result.logLine = QStringLiteral("Data Read - OK ") + dateTime;
        result.boxText = QStringLiteral("Data read OK");
        return;
    }
    result.outcome = ExchangeResult::Outcome::Incomplete;
    const QString separator = QStringLiteral(", ");
    QStringList box{QStringLiteral("Data read incomplete")};
    QStringList log;
    if (!refused.isEmpty()) {
        box << QStringLiteral("TOLVEX refused: ") + refused.join(separator);
        log << QStringLiteral("refused by TOLVEX: ") + refused.join(separator);
    }
    if (!wrong.isEmpty()) {
        box << QStringLiteral("Wrong answers to: ") + wrong.join(separator);
        log << QStringLiteral("wrong answers to: ") + wrong.join(separator);
    }
    result.boxText = box.join(QLatin1Char('\r'));
    result.logLine = QStringLiteral("Data Read - Incomplete, ") + log.join(separator) +
                     QLatin1Char(' ') + dateTime;
}

} // namespace

void SetCommandVerdict(CommandKind kind, const QString &dateTime, ExchangeResult &result)
{
    result.error = ExchangeError::None;
    switch (kind) {
    case CommandKind::Read:
        ReadVerdict(dateTime, result);
        return;
    case CommandKind::Write:
        if (!AllOk(result)) {
            Fail(result,
                 QStringLiteral("Errors occurred during the write operation\rCheck all values\r"
                                "Error 6"),
                 QStringLiteral("Data Write Errors - Fail ") + dateTime);
            return;
        }
        result.outcome = ExchangeResult::Outcome::Succeeded;
        result.logBeforeBox = true;
        result.boxKind = MessageKind::Confirmation;
        result.boxText = QStringLiteral("Data sent OK");
        result.logLine = QStringLiteral("Data Sent - OK ") + dateTime;
        return;
    case CommandKind::MacAssignment:
        if (!result.LinesWith(Verdict::Refused).isEmpty()) {
            Fail(result, QStringLiteral("TOLVEX refused the MAC address\rError 6"),
                 QStringLiteral("MAC Address Refused - Fail ") + dateTime);
            return;
        }
        // An "OK" or another address is no proof the unit took the number.
        if (!AllOk(result)) {
            Fail(result, QStringLiteral("TOLVEX did not take the MAC address\rError 6"),
                 QStringLiteral("MAC Address Not Taken - Fail ") + dateTime);
            return;
        }
        result.outcome = ExchangeResult::Outcome::Succeeded;
        result.logBeforeBox = true;
        result.boxKind = MessageKind::Warning;
        result.boxText = QStringLiteral("Data read OK");
        result.logLine = QStringLiteral("Data Read - OK ") + dateTime;
        return;
    }
}
