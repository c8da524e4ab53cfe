#include "TextFile.h"

#include <QFile>
#include <QSaveFile>

QStringList SplitTextLines(const QByteArray &bytes)
{
    QStringList lines;
    const qsizetype nul = bytes.indexOf('\0');
    const qsizetype end = nul < 0 ? bytes.size() : nul;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(QString::fromLatin1(bytes.constData() + start, i - start));
            if (c == '\r' && i + 1 < end && bytes.at(i + 1) == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.append(QString::fromLatin1(bytes.constData() + start, end - start));
    return lines;
}

bool ReadTextFileLines(const QString &path, QStringList *lines, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot open file %1").arg(path);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Cannot open file %1").arg(path);
        return false;
    }
    *lines = SplitTextLines(bytes);
    return true;
}

bool WriteTextFileLines(const QString &path, const QStringList &lines, QString *error)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        bytes += line.toLatin1();
        bytes += "\r\n";
    }
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
