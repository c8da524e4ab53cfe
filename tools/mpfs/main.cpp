#include "ImageFiles.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

// The web page image builder. Called by the configuration program with an input folder and an
// output file; the other modes let an operator inspect or take apart an image.

namespace {

enum ExitCode
{
    ExitOk = 0,
    ExitFailed = 1,
    ExitUsage = 2,
};

const char kUsage[] =
    "Usage:\n"
    "  MPFS.EXE <input-folder> <output-file>   pack the files of a folder into an image\n"
    "  MPFS.EXE --list <image>                 list the files of an image (name, size)\n"
    "  MPFS.EXE --unpack <image> <folder>      write the files of an image into a folder\n"
    "  MPFS.EXE --help                         show this text\n"
    "Only files directly in the input folder are packed; sub-folders are skipped.\n"
    "File names must be 1 to 63 printable ASCII characters without '/', '\\' or ':'.\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line.\n";

// Keeps every message on one line, whatever a file name holds.
QString OneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    }
    return text;
}

void PrintOut(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

void PrintError(const QString &line)
{
    std::fputs(("MPFS.EXE: " + OneLine(line)).toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

int Pack(const QString &folder, const QString &output)
{
    QList<ImageEntry> entries;
    QStringList notes;
    QString error;
    if (!ReadPageFolder(folder, &entries, &notes, &error)) {
        PrintError(error);
        return ExitFailed;
    }
    for (const QString &note : notes)
        PrintError(note);
    QByteArray image;
    if (!PackImage(entries, &image, &error) || !WriteFileAtomically(output, image, &error)) {
        PrintError(error);
        return ExitFailed;
    }
    PrintOut(QStringLiteral("Packed %1 files into %2 (%3 bytes)")
                 .arg(entries.size())
                 .arg(OneLine(output))
                 .arg(image.size()));
    return ExitOk;
}

int List(const QString &imagePath)
{
    QList<ImageEntry> entries;
    QString error;
    if (!ReadImageFile(imagePath, &entries, &error)) {
        PrintError(error);
        return ExitFailed;
    }
    for (const ImageEntry &entry : entries)
        PrintOut(OneLine(entry.name) + QLatin1Char('\t') + QString::number(entry.data.size()));
    return ExitOk;
}

int Unpack(const QString &imagePath, const QString &folder)
{
    QList<ImageEntry> entries;
    QString error;
    if (!ReadImageFile(imagePath, &entries, &error) || !WritePageFolder(folder, entries, &error)) {
        PrintError(error);
        return ExitFailed;
    }
    return ExitOk;
}

int UsageError(const QString &problem)
{
    PrintError(problem);
    std::fputs(kUsage, stderr);
    return ExitUsage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return UsageError(QStringLiteral("missing arguments"));
    const QString &first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return ExitOk;
    }
    if (first == QLatin1String("--list"))
        return args.size() == 2 ? List(args[1])
                                : UsageError(QStringLiteral("--list takes one image file"));
    if (first == QLatin1String("--unpack"))
        return args.size() == 3
                   ? Unpack(args[1], args[2])
                   : UsageError(QStringLiteral("--unpack takes an image file and a folder"));
    if (first.startsWith(QLatin1String("--")))
        return UsageError(QStringLiteral("unknown option %1").arg(first));
    if (args.size() != 2)
        return UsageError(QStringLiteral("expected an input folder and an output file"));
    return Pack(args[0], args[1]);
}
