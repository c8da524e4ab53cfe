#include "ProductionRecord.h"

#include <QFile>
#include <QJsonDocument>

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

ProductionRecord::~ProductionRecord()
{
    if (m_handle)
        CloseHandle(HANDLE(m_handle));
}

bool ProductionRecord::Open(const QString &path, QString *error)
{
    m_path = path;
    const std::wstring name = path.toStdWString();
    // Append-only access: every write lands at the end of the file as it is then.
    HANDLE handle = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error =
            QStringLiteral("Cannot open record file %1: error %2").arg(path).arg(GetLastError());
        return false;
    }
    m_handle = handle;
    return true;
}

bool ProductionRecord::IsOpen() const
{
    return m_handle != nullptr;
}

bool ProductionRecord::Append(const QJsonObject &line, QString *error)
{
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    OVERLAPPED whole = {};
    LockFileEx(HANDLE(m_handle), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    DWORD written = 0;
    const BOOL ok =
        WriteFile(HANDLE(m_handle), bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    UnlockFileEx(HANDLE(m_handle), 0, MAXDWORD, MAXDWORD, &whole);
    if (!ok || written != DWORD(bytes.size())) {
        *error = QStringLiteral("Cannot write to record file %1").arg(m_path);
        return false;
    }
    return true;
}

#else

ProductionRecord::~ProductionRecord()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ProductionRecord::Open(const QString &path, QString *error)
{
    m_path = path;
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        *error = QStringLiteral("Cannot open record file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool ProductionRecord::IsOpen() const
{
    return m_fd >= 0;
}

bool ProductionRecord::Append(const QJsonObject &line, QString *error)
{
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    int locked;
    do {
        locked = ::flock(m_fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    // O_APPEND puts each write at the end; the lock keeps a write the system split (a full
    // disk, a signal) from being interleaved with another process's line.
    qsizetype done = 0;
    int failure = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (locked == 0)
        ::flock(m_fd, LOCK_UN);
    if (failure != 0) {
        *error = QStringLiteral("Cannot write to record file %1: %2")
                     .arg(m_path, QString::fromLocal8Bit(std::strerror(failure)));
        return false;
    }
    return true;
}

#endif
