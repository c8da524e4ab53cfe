#include "ProductionRecord.h"

#include <QFile>
#include <QJsonDocument>

#ifdef Q_OS_WIN
#include <string>
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

QByteArray LineBytes(const QJsonObject &line)
{
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

#ifdef Q_OS_WIN

namespace {

QString SystemMessage(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString text = length ? QString::fromWCharArray(buffer, int(length)).trimmed()
                          : QStringLiteral("error %1").arg(code);
    LocalFree(buffer);
    return text;
}

// Read and write access: LockFileEx needs one of them, and cutting a failed line back needs
// write access with a movable file pointer, which append-only access does not give.
HANDLE OpenRecord(const QString &path)
{
    const std::wstring name = path.toStdWString();
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

bool RecordFile::Open(const QString &path, QString *error)
{
    const HANDLE handle = OpenRecord(path);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("Cannot open record file %1: %2")
                     .arg(path, SystemMessage(GetLastError()));
        return false;
    }
    CloseHandle(handle);
    m_path = path;
    return true;
}

bool RecordFile::Append(const QJsonObject &line, QString *error)
{
    const QByteArray bytes = LineBytes(line);
    const HANDLE handle = OpenRecord(m_path);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("Cannot open record file %1: %2")
                     .arg(m_path, SystemMessage(GetLastError()));
        return false;
    }
    OVERLAPPED whole = {};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        *error = QStringLiteral("Cannot lock record file %1: %2")
                     .arg(m_path, SystemMessage(GetLastError()));
        CloseHandle(handle);
        return false;
    }
    // Under the lock the end stays where it is until this line is in.
    LARGE_INTEGER start = {};
    const LARGE_INTEGER zero = {};
    BOOL ok = SetFilePointerEx(handle, zero, &start, FILE_END);
    DWORD written = 0;
    DWORD failure = 0;
    if (ok)
        ok = WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr) &&
             written == DWORD(bytes.size()) && FlushFileBuffers(handle);
    if (!ok) {
        failure = GetLastError();
        if (SetFilePointerEx(handle, start, nullptr, FILE_BEGIN))
            SetEndOfFile(handle);
    }
    UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(handle);
    if (!ok) {
        *error = QStringLiteral("Cannot write to record file %1: %2")
                     .arg(m_path, failure ? SystemMessage(failure) : QStringLiteral("disk full"));
        return false;
    }
    return true;
}

#else

namespace {

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int OpenRecord(const QString &path)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                    0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

bool RecordFile::Open(const QString &path, QString *error)
{
    const int fd = OpenRecord(path);
    if (fd < 0) {
        *error = QStringLiteral("Cannot open record file %1: %2").arg(path, ErrnoText(errno));
        return false;
    }
    ::close(fd);
    m_path = path;
    return true;
}

bool RecordFile::Append(const QJsonObject &line, QString *error)
{
    const QByteArray bytes = LineBytes(line);
    const int fd = OpenRecord(m_path);
    if (fd < 0) {
        *error = QStringLiteral("Cannot open record file %1: %2").arg(m_path, ErrnoText(errno));
        return false;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        // Unlocked, a line could land in the middle of another process's.
        *error = QStringLiteral("Cannot lock record file %1: %2").arg(m_path, ErrnoText(errno));
        ::close(fd);
        return false;
    }
    // Under the lock the end stays where it is until this line is in; O_APPEND puts every
    // write there.
    struct stat info;
    int failure = ::fstat(fd, &info) == 0 ? 0 : errno;
    qsizetype done = 0;
    while (failure == 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = n < 0 ? errno : ENOSPC;
        else
            done += n;
    }
    // Synced before it counts: a station that loses power must not lose a unit it reported.
    while (failure == 0 && ::fdatasync(fd) != 0) {
        if (errno != EINTR)
            failure = errno;
    }
    if (failure != 0 && done > 0) {
        // A cut line would join the next one into one unreadable line: cut it off again.
        int cut;
        do {
            cut = ::ftruncate(fd, info.st_size);
        } while (cut != 0 && errno == EINTR);
    }
    ::close(fd); // releases the lock
    if (failure != 0) {
        *error =
            QStringLiteral("Cannot write to record file %1: %2").arg(m_path, ErrnoText(failure));
        return false;
    }
    return true;
}

#endif

RecordThread::RecordThread(const QString &name)
{
    m_thread.setObjectName(name);
    m_worker = new HandOffQueue;
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

RecordThread::~RecordThread()
{
    Finish({});
    m_thread.wait();
    delete m_worker;
}

void RecordThread::Post(QObject *context, std::function<QString()> write,
                        ProductionRecord::Done done)
{
    RunThenAnswer<QString>(m_worker, &m_relay, context, std::move(write), std::move(done));
}

void RecordThread::Finish(std::function<void()> last)
{
    if (m_finished)
        return;
    m_finished = true;
    HandOffQueue *worker = m_worker;
    m_worker->Post([worker, last = std::move(last)] {
        if (last)
            last();
        // The thread's end, as wait() sees it, is a hand-off too.
        HandOffRelease(worker);
        QThread::currentThread()->quit();
    });
}

FileProductionRecord::FileProductionRecord(const RecordFile &file, const QString &absolutePath)
    : m_file(file), m_name(absolutePath), m_thread(QStringLiteral("record file"))
{
}

void FileProductionRecord::Append(const QJsonObject &line, QObject *context, Done done)
{
    RecordFile *file = &m_file;
    m_thread.Post(
        context,
        [file, line] {
            QString error;
            return file->Append(line, &error) ? QString() : error;
        },
        std::move(done));
}
