#pragma once

#include <QString>

// An exclusive lock on a file, held while the object lives or until Unlock(). Processes that
// lock the same file wait for each other in turn; the system drops the lock of a process that
// dies, so a crash never leaves a lock behind. The file is only the lock's anchor: it is
// created when missing and never written or removed here.
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
    void Unlock();
    bool Locked() const;

private:
#ifdef Q_OS_WIN
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
