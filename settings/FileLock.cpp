#include "FileLock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// How often a bounded wait asks again: short against the seconds it may wait, long enough to
// cost nothing.
constexpr int kPollMs = 20;

} // namespace

bool FileLock::Lock(const QString &path, QString *error)
{
    Unlock();
    if (!Open(path, error))
        return false;
    bool busy = false;
    return Acquire(true, &busy, error);
}

bool FileLock::LockWithin(const QString &path, int timeoutMs, QString *error,
                          const std::atomic_bool *stop)
{
    Unlock();
    if (!Open(path, error))
        return false;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        bool busy = false;
        if (Acquire(false, &busy, error))
            return true;
        if (!busy)
            return false;
        if (stop && stop->load()) {
            Unlock();
            return false;
        }
        if (clock.elapsed() >= timeoutMs) {
            Unlock();
            *error = QStringLiteral("Cannot lock file %1: another program has held it for %2 s")
                         .arg(path)
                         .arg((timeoutMs + 999) / 1000);
            return false;
        }
        QThread::msleep(kPollMs);
    }
}

#ifdef Q_OS_WIN

bool FileLock::Open(const QString &path, QString *error)
{
    m_path = path;
    const std::wstring name = path.toStdWString();
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        handle = CreateFileW(name.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("Cannot lock file %1: error %2").arg(path).arg(GetLastError());
        return false;
    }
    m_handle = handle;
    return true;
}

bool FileLock::Acquire(bool wait, bool *busy, QString *error)
{
    OVERLAPPED whole = {};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (LockFileEx(HANDLE(m_handle), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        m_locked = true;
        return true;
    }
    const DWORD code = GetLastError();
    *busy = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
    if (!*busy) {
        *error = QStringLiteral("Cannot lock file %1: error %2").arg(m_path).arg(code);
        Unlock();
    }
    return false;
}

void FileLock::Unlock()
{
    if (!m_handle)
        return;
    if (m_locked) {
        OVERLAPPED whole = {};
        UnlockFileEx(HANDLE(m_handle), 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(HANDLE(m_handle));
    m_handle = nullptr;
    m_locked = false;
}

bool FileLock::Locked() const
{
    return m_locked;
}

#else

namespace {

QString ErrnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool FileLock::Open(const QString &path, QString *error)
{
    m_path = path;
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        // Made here: every account may use it, whatever this process's umask.
        ::fchmod(fd, 0666);
    } else if (errno == EEXIST) {
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        // Someone else's, readable only: flock needs no write access.
        if (fd < 0 && errno == EACCES)
            fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        *error = QStringLiteral("Cannot lock file %1: %2").arg(path, ErrnoText());
        return false;
    }
    m_fd = fd;
    return true;
}

bool FileLock::Acquire(bool wait, bool *busy, QString *error)
{
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_locked = true;
        return true;
    }
    *busy = errno == EWOULDBLOCK;
    if (!*busy) {
        *error = QStringLiteral("Cannot lock file %1: %2").arg(m_path, ErrnoText());
        Unlock();
    }
    return false;
}

void FileLock::Unlock()
{
    if (m_fd < 0)
        return;
    if (m_locked)
        ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_locked = false;
}

bool FileLock::Locked() const
{
    return m_locked;
}

#endif
