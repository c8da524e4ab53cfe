#pragma once

#include "PageFileList.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

// Building the web page image: the listed page files are copied into a work folder and the
// outside builder MPFS.EXE packs that folder into WebPages.bin. Nothing here shows anything;
// callers get the texts to put in boxes and the log.

// The largest image the unit takes.
constexpr qint64 kMaxImageSize = 32700;

// How long the builder may run. It is an outside program; one that hangs must not keep the
// download waiting for good, so it is killed after this and the build fails.
constexpr int kBuilderTimeoutMs = 60000;

// Folder the pages are copied into (the name really is spelled "TempWebPges"), inside the
// work folder (the program's folder, or a per-user folder where that cannot be written).
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

// Creates the temp folder if needed (one level), empties it of everything but listed entries
// that lie in it (so each image holds exactly the listed pages), and copies every entry into
// it in list order, a later copy replacing an earlier one of the same name. Log lines to add go to
// *logLines. Fails with "Unable to create Temp Folder" (nothing cleaned up) or, at the first entry
// that is not a readable regular file, "Cannot find file <entry>" after DeleteBuildFiles; the
// entries after it are not copied. An entry that is itself the copy in the temp folder stays
// intact.
bool CopyPagesToTempFolder(const QString &programFolder, const PageFileList &pageList,
                           QStringList *logLines);

struct ImageBuildResult
{
    bool ok = false;
    // When the build failed: the error box text and the log line that follows once the box
    // has been closed.
    QString boxText;
    QString logLine;
    // Bytes in the built image; -1 when there is none.
    qint64 imageFileSize = -1;
};

// Runs the builder without blocking the thread: its own process (no shell, so no quoting or
// injection through the folder's name; on Unix in its own process group, so a builder that
// is a script dies with its children when killed), at most `timeoutMs`. The build fails, and
// DeleteBuildFiles runs, when the builder cannot be started (the system's reason in the box),
// exits with a non-zero status or crashes (its own message, from its error output, in the
// box), leaves no image, runs out of time, or leaves an image larger than kMaxImageSize.
class ImageBuilder : public QObject
{
    Q_OBJECT
public:
    explicit ImageBuilder(QObject *parent = nullptr);
    ~ImageBuilder() override;

    // Starts the build of the already copied pages; false when one is running. Finished
    // follows, also for a builder that could not be started.
    bool Start(const QString &builderProgram, const QString &workFolder,
               const PageFileList &pageList, int timeoutMs = kBuilderTimeoutMs);
    bool Running() const { return m_running; }
    // Stops a running build (its process is killed); Finished follows with a failure.
    void Cancel();

signals:
    void Finished(const ImageBuildResult &result);

private:
    void OnFinished(int exitCode, QProcess::ExitStatus status);
    void OnError(QProcess::ProcessError error);
    void KillGroup();
    void Fail(const QString &text);
    void Done(const ImageBuildResult &result);

    QProcess *m_process = nullptr;
    QTimer m_deadline;
    QString m_program;
    QString m_workFolder;
    PageFileList m_pageList;
    bool m_running = false;
    bool m_timedOut = false;
    bool m_cancelled = false;
};

// Deletes the copy of every entry now listed (when it is a file) and the image. The temp
// folder stays; a copy whose entry has left the list stays too. Failures are not reported.
void DeleteBuildFiles(const QString &programFolder, const PageFileList &pageList);
