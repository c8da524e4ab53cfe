#include "FaultSettings.h"

#include "UnitSettings.h"

namespace {

// Generous but finite, so counters and timers never overflow.
constexpr int MaxCount = 1000000000;
constexpr int MaxDelayMs = 3600000;

bool ParseSwitch(const QString &value, bool *on)
{
    const QString v = value.trimmed().toLower();
    if (v.isEmpty() || v == QLatin1String("on") || v == QLatin1String("1") ||
        v == QLatin1String("true") || v == QLatin1String("yes")) {
        *on = true;
        return true;
    }
    if (v == QLatin1String("off") || v == QLatin1String("0") || v == QLatin1String("false") ||
        v == QLatin1String("no")) {
        *on = false;
        return true;
    }
    return false;
}

// A number from `minimum` to `maximum`, or "off" giving `offValue` when that is allowed.
bool ParseNumber(const QString &value, int minimum, int maximum, bool offAllowed, int offValue,
                 int *number)
{
    const QString v = value.trimmed();
    if (offAllowed && v.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        *number = offValue;
        return true;
    }
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok, 10);
    if (!ok || n < minimum || n > maximum)
        return false;
    *number = static_cast<int>(n);
    return true;
}

bool ParseCodes(const QString &value, QSet<QByteArray> *codes)
{
    QSet<QByteArray> result;
    const QString v = value.trimmed();
    if (v.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        *codes = result;
        return true;
    }
    for (const QString &part : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QByteArray code = part.trimmed().toLower().toLatin1();
        if (!UnitSettings::isValueCode(code))
            return false;
        result.insert(code);
    }
    if (result.isEmpty())
        return false;
    *codes = result;
    return true;
}

// "CODE=TEXT" pairs, comma-separated; "off" clears them. A part without "=" belongs to the
// text before it, so an answer may hold commas as the unit's own do ("ma=MA0,4,163,9,32,0,").
bool ParseAnswers(const QString &value, QMap<QByteArray, QByteArray> *answers)
{
    QMap<QByteArray, QByteArray> result;
    const QString v = value.trimmed();
    if (v.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        *answers = result;
        return true;
    }
    QByteArray code;
    for (const QString &part : v.split(QLatin1Char(','))) {
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        const QByteArray partCode = part.left(equals).trimmed().toLower().toLatin1();
        if (equals >= 0 && UnitSettings::isValueCode(partCode)) {
            code = partCode;
            result.insert(code, part.mid(equals + 1).toLatin1());
        } else if (!code.isEmpty()) {
            result[code] += ',' + part.toLatin1();
        } else if (!part.trimmed().isEmpty()) {
            return false;
        }
    }
    for (const QByteArray &text : result) {
        if (text.size() > 60 || text.contains('\r') || text.contains('\n'))
            return false;
    }
    if (result.isEmpty())
        return false;
    *answers = result;
    return true;
}

} // namespace

bool ApplyFault(FaultSettings *faults, const QString &name, const QString &value, QString *error)
{
    FaultSettings f = *faults;
    bool ok = false;
    if (name == QLatin1String("silent")) {
        ok = ParseSwitch(value, &f.silent);
    } else if (name == QLatin1String("noise")) {
        ok = ParseSwitch(value, &f.noise);
    } else if (name == QLatin1String("clean-noise")) {
        ok = ParseSwitch(value, &f.cleanNoise);
    } else if (name == QLatin1String("wire-delay")) {
        ok = ParseSwitch(value, &f.wireDelay);
    } else if (name == QLatin1String("error-first")) {
        ok = ParseNumber(value, 0, MaxCount, true, 0, &f.errorFirst);
    } else if (name == QLatin1String("version")) {
        // Taken as given (spaces kept), but it must stay one line of sane length.
        const QByteArray text = value.toLatin1();
        ok = value.size() <= 200 && !text.contains('\r') && !text.contains('\n');
        if (ok)
            f.version = text;
    } else if (name == QLatin1String("wrong-echo")) {
        ok = ParseCodes(value, &f.wrongEcho);
    } else if (name == QLatin1String("refuse")) {
        ok = ParseCodes(value, &f.refuse);
    } else if (name == QLatin1String("answer-as")) {
        ok = ParseAnswers(value, &f.answerAs);
    } else if (name == QLatin1String("stop-after")) {
        ok = ParseNumber(value, 0, MaxCount, true, -1, &f.stopAfter);
    } else if (name == QLatin1String("close-after")) {
        ok = ParseNumber(value, 0, MaxCount, true, -1, &f.closeAfter);
    } else if (name == QLatin1String("reopen-after-ms")) {
        ok = ParseNumber(value, 0, MaxDelayMs, true, -1, &f.reopenAfterMs);
    } else if (name == QLatin1String("answer-delay-ms")) {
        ok = ParseNumber(value, 0, MaxDelayMs, true, 0, &f.answerDelayMs);
    } else if (name == QLatin1String("nak-block")) {
        ok = ParseNumber(value, 1, MaxCount, true, 0, &f.nakBlock);
    } else if (name == QLatin1String("stop-ack-after")) {
        ok = ParseNumber(value, 1, MaxCount, true, 0, &f.stopAckAfter);
    } else if (name == QLatin1String("ack-delay-ms")) {
        ok = ParseNumber(value, 0, MaxDelayMs, true, 0, &f.ackDelayMs);
    } else if (name == QLatin1String("adapter-latency-ms")) {
        ok = ParseNumber(value, 0, 255, true, 0, &f.adapterLatencyMs);
    } else {
        *error = QStringLiteral("unknown setting \"%1\"").arg(name);
        return false;
    }
    if (!ok) {
        *error = QStringLiteral("bad value \"%1\" for %2").arg(value, name);
        return false;
    }
    *faults = f;
    return true;
}
