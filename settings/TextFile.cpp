#include "TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString Decode(const char *bytes, qsizetype size, TextEncoding encoding)
{
    return encoding == TextEncoding::System ? QString::fromLocal8Bit(bytes, size)
                                            : QString::fromLatin1(bytes, size);
}

} // namespace

QStringList SplitTextLines(const QByteArray &bytes, TextEncoding encoding)
{
    QStringList lines;
    const qsizetype nul = bytes.indexOf('\0');
    const qsizetype end = nul < 0 ? bytes.size() : nul;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(Decode(bytes.constData() + start, i - start, encoding));
            if (c == '\r' && i + 1 < end && bytes.at(i + 1) == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.append(Decode(bytes.constData() + start, end - start, encoding));
    return lines;
}

RegularFileOpen OpenRegularFile(const QString &path, QFile *file, QString *systemError)
{
#ifdef Q_OS_UNIX
    // Opened without waiting (a FIFO would block the open itself until a writer came), then
    // judged by what was opened, so nothing swapped in after a check can slip through.
    int fd = -1;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *systemError = QString::fromLocal8Bit(std::strerror(errno));
        return RegularFileOpen::CannotOpen;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        *systemError = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return RegularFileOpen::CannotOpen;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return RegularFileOpen::NotRegular;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *systemError = file->errorString();
        ::close(fd);
        return RegularFileOpen::CannotOpen;
    }
#else
    file->setFileName(path);
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile())
        return RegularFileOpen::NotRegular;
    if (!file->open(QIODevice::ReadOnly)) {
        *systemError = file->errorString();
        return RegularFileOpen::CannotOpen;
    }
#endif
    return RegularFileOpen::Opened;
}

bool ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error)
{
    const QString cannotOpen = QStringLiteral("Cannot open file %1").arg(path);
    const QString notRegular = cannotOpen + QStringLiteral(": not a regular file");
    const QString tooLarge = cannotOpen + QStringLiteral(": larger than %1 bytes").arg(maxBytes);
    // A folder keeps the plain text: it is no file at all.
    if (QFileInfo(path).isDir()) {
        *error = cannotOpen;
        return false;
    }
    QFile file;
    QString systemError;
    switch (OpenRegularFile(path, &file, &systemError)) {
    case RegularFileOpen::Opened:
        break;
    case RegularFileOpen::CannotOpen:
        *error = cannotOpen;
        return false;
    case RegularFileOpen::NotRegular:
        *error = notRegular;
        return false;
    }
    if (file.size() > maxBytes) {
        *error = tooLarge;
        return false;
    }
    // Read in pieces up to the cap: a file that grows while it is read (or a system file whose
    // size says 0) can never make it more.
    QByteArray read;
    char piece[64 * 1024];
    for (;;) {
        const qint64 got = file.read(piece, sizeof piece);
        if (got < 0 || file.error() != QFileDevice::NoError) {
            *error = cannotOpen;
            return false;
        }
        if (got == 0)
            break;
        if (read.size() + got > maxBytes) {
            *error = tooLarge;
            return false;
        }
        read.append(piece, got);
    }
    *bytes = read;
    return true;
}

bool ReadTextFileLines(const QString &path, QStringList *lines, QString *error,
                       TextEncoding encoding)
{
    QByteArray bytes;
    if (!ReadRegularFile(path, kLargestTextFile, &bytes, error))
        return false;
    *lines = SplitTextLines(bytes, encoding);
    return true;
}

QByteArray TextFileBytes(const QStringList &lines, TextEncoding encoding)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        bytes += encoding == TextEncoding::System ? line.toLocal8Bit() : line.toLatin1();
        bytes += "\r\n";
    }
    return bytes;
}

bool WriteTextFileLines(const QString &path, const QStringList &lines, QString *error,
                        TextEncoding encoding)
{
    const QByteArray bytes = TextFileBytes(lines, encoding);
    QSaveFile file(path);
    // The explicit flush matters: a short write while flushing the buffer (disk full, file size
    // limit) is not reported by commit(), which would then rename a torn file over the old one.
    // Returning without commit() discards the temporary file instead.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() ||
        !file.commit()) {
        *error = QStringLiteral("Cannot create file %1").arg(path);
        return false;
    }
    return true;
}
