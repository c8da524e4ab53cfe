#include "ImageFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

bool Fail(QString *error, const QString &message)
{
    *error = message;
    return false;
}

QString Quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

bool ReadPageFolder(const QString &folder, QList<ImageEntry> *entries, QStringList *notes,
                    QString *error)
{
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists())
        return Fail(error, QStringLiteral("input folder %1 does not exist").arg(Quoted(folder)));
    if (!folderInfo.isDir())
        return Fail(error, QStringLiteral("input %1 is not a folder").arg(Quoted(folder)));
    if (!folderInfo.isReadable() || !folderInfo.isExecutable())
        return Fail(error, QStringLiteral("input folder %1 cannot be read").arg(Quoted(folder)));

    const QDir dir(folder);
    const QFileInfoList found = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);

    QList<QFileInfo> files;
    for (const QFileInfo &info : found) {
        const QString name = info.fileName();
        if (info.isSymLink() && !info.exists())
            return Fail(error, QStringLiteral("cannot read file %1: it is a link to nothing")
                                   .arg(Quoted(info.filePath())));
        if (info.isDir()) {
            notes->append(QStringLiteral("skipping sub-folder %1").arg(Quoted(name)));
            continue;
        }
        if (!info.isFile()) {
            notes->append(QStringLiteral("skipping %1: not a regular file").arg(Quoted(name)));
            continue;
        }
        const QString problem = ImageNameProblem(name);
        if (!problem.isEmpty())
            return Fail(error, QStringLiteral("file %1 cannot be stored in the image: %2")
                                   .arg(Quoted(name), problem));
        if (info.size() > kMaxImageLength)
            return Fail(error, QStringLiteral("file %1 is larger than an image may be (%2 bytes)")
                                   .arg(Quoted(name))
                                   .arg(kMaxImageLength));
        files.append(info);
    }

    QList<ImageEntry> result;
    for (const QFileInfo &info : files) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return Fail(error, QStringLiteral("cannot read file %1: %2")
                                   .arg(Quoted(info.filePath()), file.errorString()));
        // One byte over the limit is enough to tell a file that grew since it was listed.
        const QByteArray data = file.read(kMaxImageLength + 1);
        if (file.error() != QFileDevice::NoError)
            return Fail(error, QStringLiteral("cannot read file %1: %2")
                                   .arg(Quoted(info.filePath()), file.errorString()));
        if (data.size() > kMaxImageLength)
            return Fail(error, QStringLiteral("file %1 is larger than an image may be (%2 bytes)")
                                   .arg(Quoted(info.fileName()))
                                   .arg(kMaxImageLength));
        result.append(ImageEntry{info.fileName(), data});
    }
    *entries = result;
    return true;
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    // Unbuffered, so a short write (disk full, size limit) shows in write()'s result: a buffered
    // flush inside commit() can lose it and publish a truncated file as a success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Fail(error,
                    QStringLiteral("cannot write %1: %2").arg(Quoted(path), file.errorString()));
    const qint64 written = file.write(bytes);
    if (written != bytes.size()) {
        const QString reason =
            written < 0 ? file.errorString()
                        : QStringLiteral("only %1 of %2 bytes could be written (disk full or file "
                                         "size limit?)")
                              .arg(written)
                              .arg(bytes.size());
        file.cancelWriting();
        return Fail(error, QStringLiteral("cannot write %1: %2").arg(Quoted(path), reason));
    }
    if (!file.commit())
        return Fail(error,
                    QStringLiteral("cannot write %1: %2").arg(Quoted(path), file.errorString()));
    return true;
}

bool ReadImageFile(const QString &path, QList<ImageEntry> *entries, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Fail(error, QStringLiteral("image %1 does not exist").arg(Quoted(path)));
    if (!info.isFile())
        return Fail(error, QStringLiteral("image %1 is not a regular file").arg(Quoted(path)));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(
            error,
            QStringLiteral("cannot read image %1: %2").arg(Quoted(path), file.errorString()));
    const QByteArray bytes = file.read(kMaxImageLength);
    if (file.error() != QFileDevice::NoError)
        return Fail(
            error,
            QStringLiteral("cannot read image %1: %2").arg(Quoted(path), file.errorString()));
    QString problem;
    if (!UnpackImage(bytes, entries, &problem))
        return Fail(error, QStringLiteral("image %1 is broken: %2").arg(Quoted(path), problem));
    return true;
}

bool WritePageFolder(const QString &folder, const QList<ImageEntry> &entries, QString *error)
{
    if (!QDir().mkpath(folder))
        return Fail(error, QStringLiteral("cannot create folder %1").arg(Quoted(folder)));
    const QDir dir(folder);
    const QString root = QDir::cleanPath(dir.absolutePath());
    for (const ImageEntry &entry : entries) {
        const QString problem = ImageNameProblem(entry.name);
        const QString target = QDir::cleanPath(dir.absoluteFilePath(entry.name));
        if (!problem.isEmpty() || QFileInfo(target).absolutePath() != root)
            return Fail(error, QStringLiteral("refusing to write %1 outside folder %2")
                                   .arg(Quoted(entry.name), Quoted(folder)));
        const QFileInfo existing(target);
        if (existing.isSymLink())
            return Fail(error,
                        QStringLiteral("refusing to write %1 through a link").arg(Quoted(target)));
        if (existing.isDir())
            return Fail(error, QStringLiteral("cannot write %1: a folder of that name exists")
                                   .arg(Quoted(target)));
        if (!WriteFileAtomically(target, entry.data, error))
            return false;
    }
    return true;
}
