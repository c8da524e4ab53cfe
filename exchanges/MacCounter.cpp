#include "MacCounter.h"

#include "MacNumber.h"
#include "settings/FileLock.h"
#include "settings/TextFile.h"

#include <QFileInfo>
#include <QStringList>

namespace {

enum class CounterState
{
    Number,
    Missing,
    Unreadable,
    NoNumber,
};

// Reads the counter; the caller holds the lock.
CounterState ReadCounter(const QString &path, int *number, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("MAC counter file %1 not found").arg(path);
        return CounterState::Missing;
    }
    QStringList lines;
    if (!ReadTextFileLines(path, &lines, error))
        return CounterState::Unreadable;
    if (lines.size() != 2 || !MacNumberFromBoxes(lines.at(0), lines.at(1), number)) {
        *error = QStringLiteral("MAC counter file %1 holds no number: it needs exactly two lines "
                                "of two hexadecimal digits each (for example 12 and AB)")
                     .arg(path);
        return CounterState::NoNumber;
    }
    return CounterState::Number;
}

bool WriteCounter(const QString &path, int number, QString *error)
{
    QString box1;
    QString box2;
    MacNumberToBoxes(number, &box1, &box2);
    return WriteTextFileLines(path, QStringList{box1, box2}, error);
}

} // namespace

QString DefaultMacCounterPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\TolvexSetMACAddress\\SetMACAddress.txt");
#else
    return QStringLiteral("/var/lib/TolvexSetMACAddress/SetMACAddress.txt");
#endif
}

QString MacCounterLockPath(const QString &counterPath)
{
    return counterPath + QStringLiteral(".lock");
}

void MacNumberToBoxes(int n, QString *box1, QString *box2)
{
    *box1 = QStringLiteral("%1").arg((n >> 8) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    *box2 = QStringLiteral("%1").arg(n & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

bool PeekMacNumber(const QString &path, int *number, QString *error)
{
    // The file is only ever replaced whole, so it reads consistently without the lock.
    int held = 0;
    if (ReadCounter(path, &held, error) != CounterState::Number)
        return false;
    if (held >= kMacCounterExhausted) {
        *error = QStringLiteral("MAC counter file %1 is at FFFF: no MAC numbers left").arg(path);
        return false;
    }
    *number = held;
    return true;
}

bool TakeMacNumber(const QString &path, int *number, QString *error)
{
    // Checked before the lock file is made, so a missing folder is named as such.
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("MAC counter file %1 not found").arg(path);
        return false;
    }
    FileLock lock;
    if (!lock.Lock(MacCounterLockPath(path), error))
        return false;
    int held = 0;
    if (!PeekMacNumber(path, &held, error))
        return false;
    if (!WriteCounter(path, held + 1, error))
        return false;
    *number = held;
    return true;
}

bool ReturnMacNumber(const QString &path, int number)
{
    if (!QFileInfo::exists(path))
        return false;
    FileLock lock;
    QString error;
    if (!lock.Lock(MacCounterLockPath(path), &error))
        return false;
    int held = 0;
    if (ReadCounter(path, &held, &error) != CounterState::Number || held != number + 1)
        return false;
    return WriteCounter(path, number, &error);
}

bool NoteMacNumberGiven(const QString &path, int number, QString *error)
{
    if (!QFileInfo::exists(path))
        return true;
    FileLock lock;
    if (!lock.Lock(MacCounterLockPath(path), error))
        return false;
    int held = 0;
    switch (ReadCounter(path, &held, error)) {
    case CounterState::Missing:
        return true;
    case CounterState::Unreadable:
        return false;
    case CounterState::NoNumber:
        held = -1;
        break;
    case CounterState::Number:
        break;
    }
    if (held > number)
        return true;
    // FFFF given by hand leaves the counter at FFFF: nothing is left after it.
    return WriteCounter(path, qMin(number + 1, kMacCounterExhausted), error);
}

MacCounterStore StoreMacCounterBoxes(const QString &path, const QString &box1, const QString &box2,
                                     QString *error)
{
    if (!QFileInfo::exists(path))
        return MacCounterStore::NoFile;
    FileLock lock;
    if (!lock.Lock(MacCounterLockPath(path), error))
        return MacCounterStore::Failed;
    int held = 0;
    switch (ReadCounter(path, &held, error)) {
    case CounterState::Missing:
        return MacCounterStore::NoFile;
    case CounterState::Unreadable:
        return MacCounterStore::Failed;
    case CounterState::NoNumber:
        held = -1;
        break;
    case CounterState::Number:
        break;
    }
    int boxes = -1;
    const bool boxesMakeANumber = MacNumberFromBoxes(box1, box2, &boxes);
    if (held >= 0 && (!boxesMakeANumber || boxes < held))
        return MacCounterStore::KeptHigher;
    if (!WriteTextFileLines(path, QStringList{box1, box2}, error))
        return MacCounterStore::Failed;
    return MacCounterStore::Written;
}
