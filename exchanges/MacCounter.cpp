#include "MacCounter.h"

#include "MacNumber.h"
#include "settings/FileLock.h"
#include "settings/TextFile.h"

#include <QFileInfo>
#include <QStringList>

#ifndef Q_OS_WIN
#include <QFile>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {


MacNumberReply Refused(int number, const QString &error)
{
    MacNumberReply reply;
    reply.number = number;
    reply.error = error;
    return reply;
}

// Reads the number the counter holds; an empty file holds 0000. False with *error naming the
// file for anything else.
bool ReadCounter(const QString &path, int *held, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("MAC counter file %1 not found").arg(path);
        return false;
    }
    QStringList lines;
    if (!ReadTextFileLines(path, &lines, error))
        return false;
    if (lines.isEmpty()) {
        *held = 0;
        return true;
    }
    if (lines.size() != 2 || !MacNumberFromBoxes(lines.at(0), lines.at(1), held)) {
        *error = QStringLiteral("MAC counter file %1 holds no number: it needs exactly two lines "
                                "of two hexadecimal digits each (for example 12 and AB), or "
                                "nothing for 00 00; it is left as it is")
                     .arg(path);
        return false;
    }
    return true;
}

// The rename that replaced the file is only lasting once the folder's entry is on disk.
void SyncFolderOf(const QString &path)
{
#ifndef Q_OS_WIN
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

bool WriteCounter(const QString &path, int number, QString *error)
{
    QString box1;
    QString box2;
    MacNumberToBoxes(number, &box1, &box2);
    if (!WriteTextFileLines(path, QStringList{box1, box2}, error))
        return false;
    SyncFolderOf(path);
    return true;
}

// Runs `change` on the counter's number under the lock; `change` sets the reply's fields and
// says whether to write *held back.
template <typename Change>
MacNumberReply UnderLock(const QString &path, int number, const MacCounterWait &wait, Change change)
{
    // Checked before the lock file is made, so a missing file or folder is named as such.
    if (!QFileInfo::exists(path))
        return Refused(number, QStringLiteral("MAC counter file %1 not found").arg(path));
    FileLock lock;
    QString error;
    if (!lock.LockWithin(MacCounterLockPath(path), wait.timeoutMs, &error, wait.stop))
        return Refused(
            number,
            error.isEmpty()
                ? QStringLiteral("Stopped while waiting for %1").arg(MacCounterLockPath(path))
                : error);
    int held = 0;
    if (!ReadCounter(path, &held, &error))
        return Refused(number, error);
    MacNumberReply reply;
    reply.number = number;
    reply.next = held;
    const int before = held;
    if (!change(&held, &reply))
        return reply;
    if (held != before && !WriteCounter(path, held, &error))
        return Refused(number, error);
    reply.next = held;
    return reply;
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

MacNumberReply TakeMacNumber(const QString &path, const MacCounterWait &wait)
{
    return UnderLock(path, -1, wait, [&path](int *held, MacNumberReply *reply) {
        if (*held >= kMacCounterExhausted) {
            reply->error =
                QStringLiteral("MAC counter file %1 is at FFFF: no MAC numbers left").arg(path);
            return false;
        }
        reply->ok = true;
        reply->number = (*held)++;
        return true;
    });
}

MacNumberReply ReturnMacNumber(const QString &path, int number, const MacCounterWait &wait)
{
    return UnderLock(path, number, wait, [&path, number](int *held, MacNumberReply *reply) {
        if (*held != number + 1) {
            reply->error = QStringLiteral("MAC number %1 stays unused: %2 has moved on to %3")
                               .arg(MacNumberText(number), path, MacNumberText(*held));
            return false;
        }
        reply->ok = true;
        *held = number;
        return true;
    });
}

MacNumberReply CheckMacNumber(const QString &path, int number)
{
    int held = 0;
    QString error;
    if (!ReadCounter(path, &held, &error))
        return Refused(number, error);
    MacNumberReply reply;
    reply.ok = true;
    reply.number = number;
    reply.next = held;
    reply.givenBefore = number >= 0 && number < held;
    return reply;
}

MacNumberReply ClaimMacNumber(const QString &path, int number, const MacCounterWait &wait)
{
    return UnderLock(path, number, wait, [number](int *held, MacNumberReply *reply) {
        reply->ok = true;
        reply->givenBefore = number < *held;
        if (!reply->givenBefore)
            *held = qMin(number + 1, kMacCounterExhausted);
        return true;
    });
}

QString MacNumberText(int n)
{
    QString box1;
    QString box2;
    MacNumberToBoxes(n, &box1, &box2);
    return box1 + QLatin1Char(':') + box2;
}
