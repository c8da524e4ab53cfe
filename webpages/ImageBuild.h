#pragma once

#include "PageFileList.h"

#include <QString>
#include <QStringList>

// Building the web page image: the listed page files are copied into a folder beside the
// program and the outside builder MPFS.EXE packs that folder into WebPages.bin. Nothing here
// shows anything; callers get the texts to put in boxes and the log.

// The largest image the unit takes.
constexpr qint64 kMaxImageSize = 32700;

// How long the builder may run. It is an outside program; one that hangs must not freeze the
// window for good, so it is killed after this and the build fails.
constexpr int kBuilderTimeoutMs = 60000;

// Folder the pages are copied into (the name really is spelled "TempWebPges"). Earlier copies
// are not cleared out first, so a file left there is packed again.
QString TempFolderPath(const QString &programFolder);

// Where the copy of `entry` goes: the temp folder plus the entry's file name, so entries with
// the same name in different folders share one copy. Empty when the entry has no usable file
// name ("", ".", ".." or a bare folder), which counts as a file that cannot be found.
QString PageCopyPath(const QString &programFolder, const QString &entry);

// The image the builder writes, as the clean-up deletes it.
QString ImageFilePath(const QString &programFolder);

// The program folder as handed to the builder: its short 8.3 form on Windows when the volume
// has one (so no argument holds a blank), unchanged elsewhere, where arguments travel as a
// vector and blanks do no harm.
QString BuilderFolder(const QString &programFolder);

// The builder program and its two arguments, the input folder and the output file. The output
// path is also where the download loads the image from.
QString BuilderProgramPath(const QString &programFolder);
QString BuilderInputPath(const QString &programFolder);
QString BuilderOutputPath(const QString &programFolder);

// The text for a builder that could not be started, by the error number of the failed start;
// numbers without a text of their own give an empty text.
QString BuilderStartErrorText(int errorNumber);

// Creates the temp folder if needed (one level) and copies every entry into it in list order,
// a later copy replacing an earlier one of the same name. Log lines to add go to *logLines.
// Fails with "Unable to create Temp Folder" (nothing cleaned up) or, at the first entry that is
// not a readable regular file, "Cannot find file <entry>" after DeleteBuildFiles; the entries
// after it are not copied. An entry that is itself the copy in the temp folder stays intact.
bool CopyPagesToTempFolder(const QString &programFolder, const PageFileList &pageList,
                           QStringList *logLines);

struct ImageBuildResult
{
    // When BuildImage fails: the error box text (it may be empty) and the log line that follows
    // once the box has been closed.
    QString boxText;
    QString logLine;
    // Bytes in the built image; -1 when the builder left no readable image, which the build
    // lets through so the image load reports it.
    qint64 imageFileSize = -1;
};

// Runs the builder with an argument vector (no shell, so no quoting or injection through the
// folder's name) and waits for it, at most `timeoutMs`, then measures the image. The builder's
// exit status is not looked at: what counts is the image it leaves. Fails, after
// DeleteBuildFiles, when the builder cannot be started, does not end in time, or the image is
// larger than kMaxImageSize.
bool BuildImage(const QString &programFolder, const PageFileList &pageList,
                ImageBuildResult *result, int timeoutMs = kBuilderTimeoutMs);

// Deletes the copy of every entry now listed (when it is a file) and the image. The temp
// folder stays; a copy whose entry has left the list stays too. Failures are not reported.
void DeleteBuildFiles(const QString &programFolder, const PageFileList &pageList);
