#pragma once

#include <QString>

#include <atomic>

// An exclusive lock on a file, held while the object lives or until Unlock(). Processes that
// lock the same file wait for each other in turn; the system drops the lock of a process that
// dies, so a crash never leaves a lock behind. The file is only the lock's anchor: it is
// created when missing and never written or removed here. A lock file this process creates is
// made readable and writable for everyone whatever the umask, so another operator account on
// the workstation can take the same lock; one it may only read still locks.
class FileLock
{
public:
    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Opens `path` (creating it when missing) and waits until the lock is ours. False, with
    // "Cannot lock file <path>: <reason>" in *error, when the file cannot be opened or locked.
    bool Lock(const QString &path, QString *error);
    // As Lock, but gives up after `timeoutMs` with "Cannot lock file <path>: another program
    // has held it for N s", so a holder that hangs never stalls the waiter for good. `stop`,
    // when given, ends the wait early (false, no message) once it turns true.
    bool LockWithin(const QString &path, int timeoutMs, QString *error,
                    const std::atomic_bool *stop = nullptr);
    void Unlock();
    bool Locked() const;

private:
    // Opens (and creates) the anchor; false with *error set.
    bool Open(const QString &path, QString *error);
    // One attempt; `wait` blocks until the lock is ours. Sets *busy when another holds it.
    bool Acquire(bool wait, bool *busy, QString *error);
    QString m_path;
    bool m_locked = false;
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
