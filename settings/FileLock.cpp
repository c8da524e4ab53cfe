#include "FileLock.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

bool FileLock::Lock(const QString &path, QString *error)
{
    Unlock();
    const std::wstring name = path.toStdWString();
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("Cannot lock file %1: error %2").arg(path).arg(GetLastError());
        return false;
    }
    OVERLAPPED whole = {};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        *error = QStringLiteral("Cannot lock file %1: error %2").arg(path).arg(GetLastError());
        CloseHandle(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

void FileLock::Unlock()
{
    if (!m_handle)
        return;
    OVERLAPPED whole = {};
    UnlockFileEx(HANDLE(m_handle), 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(HANDLE(m_handle));
    m_handle = nullptr;
}

bool FileLock::Locked() const
{
    return m_handle != nullptr;
}

#else

bool FileLock::Lock(const QString &path, QString *error)
{
    Unlock();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = QStringLiteral("Cannot lock file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        *error = QStringLiteral("Cannot lock file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void FileLock::Unlock()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

bool FileLock::Locked() const
{
    return m_fd >= 0;
}

#endif
