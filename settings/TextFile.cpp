#include "TextFile.h"

#include <QFile>
#include <QSaveFile>

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

bool ReadTextFileLines(const QString &path, QStringList *lines, QString *error,
                       TextEncoding encoding)
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
