#include "ImageBuild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

const QString kTempFolderName = QStringLiteral("TempWebPges");
const QString kImageName = QStringLiteral("WebPages.bin");
const QString kBuilderName = QStringLiteral("MPFS.EXE");

QString Separator()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

// Copies through a file written beside the target and renamed over it: an existing copy is
// replaced, a failed copy leaves it as it was, and a source that is the target itself survives
// (removing the target first would delete it).
bool CopyReplacing(const QString &source, const QString &target)
{
    if (target.isEmpty())
        return false;
    // Only regular files: a folder fails, and a pipe or device would block or never end.
    if (!QFileInfo(source).isFile())
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const qint64 got = in.read(buffer.data(), qint64(buffer.size()));
        if (got < 0)
            return false; // the unfinished copy is discarded with `out`
        if (got == 0)
            break;
        if (out.write(buffer.data(), got) != got)
            return false;
    }
    // A short write that only shows when the buffer is flushed must fail the copy, not
    // publish a cut-off page.
    return out.flush() && out.commit();
}

// Removes what earlier builds left in the temp folder, so the image holds exactly the listed
// pages. A listed entry that lies in the folder itself is the source of its own copy and stays.
void EmptyTempFolder(const QString &tempFolder, const PageFileList &pageList)
{
    QSet<QString> keep;
    for (const QString &entry : pageList.Items()) {
        const QFileInfo info(entry);
        keep.insert(QDir::cleanPath(info.absoluteFilePath()));
        if (!info.canonicalFilePath().isEmpty())
            keep.insert(info.canonicalFilePath());
    }
    const QFileInfoList found =
        QDir(tempFolder)
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : found) {
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (keep.contains(path) || (!info.isSymLink() && keep.contains(info.canonicalFilePath())))
            continue;
        if (info.isSymLink() || !info.isDir()) {
            QFile::remove(path);
        } else {
            QDir(info.absoluteFilePath()).removeRecursively();
        }
    }
}

} // namespace

QString TempFolderPath(const QString &programFolder)
{
    return programFolder + Separator() + kTempFolderName;
}

QString PageCopyPath(const QString &programFolder, const QString &entry)
{
    const QString name = SplitPagePath(entry).name;
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    return TempFolderPath(programFolder) + Separator() + name;
}

QString ImageFilePath(const QString &programFolder)
{
    return programFolder + Separator() + kImageName;
}

QString BuilderFolder(const QString &programFolder)
{
#ifdef Q_OS_WIN
    const QString native = QDir::toNativeSeparators(programFolder);
    const std::wstring longPath = native.toStdWString();
    const DWORD needed = GetShortPathNameW(longPath.c_str(), nullptr, 0);
    if (needed == 0)
        return native;
    std::wstring shortPath(needed, L'\0');
    const DWORD written = GetShortPathNameW(longPath.c_str(), shortPath.data(), needed);
    if (written == 0 || written >= needed)
        return native;
    shortPath.resize(written);
    return QString::fromStdWString(shortPath);
#else
    return programFolder;
#endif
}

QString BuilderProgramPath(const QString &programFolder)
{
    return BuilderFolder(programFolder) + Separator() + kBuilderName;
}

QString BuilderInputPath(const QString &programFolder)
{
    return BuilderFolder(programFolder) + Separator() + kTempFolderName;
}

QString BuilderOutputPath(const QString &programFolder)
{
    // Two forward slashes on purpose: the file system reads them as one separator.
    return BuilderFolder(programFolder) + QStringLiteral("//") + kImageName;
}

bool CopyPagesToTempFolder(const QString &programFolder, const PageFileList &pageList,
                           QStringList *logLines)
{
    const QString tempFolder = TempFolderPath(programFolder);
    if (!QFileInfo(tempFolder).isDir() && !QDir().mkdir(tempFolder)) {
        logLines->append(QStringLiteral("Unable to create Temp Folder"));
        return false;
    }
    EmptyTempFolder(tempFolder, pageList);
    for (const QString &entry : pageList.Items()) {
        if (!CopyReplacing(entry, PageCopyPath(programFolder, entry))) {
            logLines->append(QStringLiteral("Cannot find file ") + entry);
            DeleteBuildFiles(programFolder, pageList);
            return false;
        }
    }
    return true;
}

ImageBuilder::ImageBuilder(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        KillGroup();
    });
}

ImageBuilder::~ImageBuilder()
{
    if (m_process) {
        m_process->disconnect(this);
        KillGroup();
        m_process->waitForFinished(1000);
    }
}

bool ImageBuilder::Start(const QString &builderProgram, const QString &workFolder,
                         const PageFileList &pageList, int timeoutMs)
{
    if (m_running)
        return false;
    m_running = true;
    m_timedOut = false;
    m_cancelled = false;
    m_program = builderProgram;
    m_workFolder = workFolder;
    m_pageList = pageList;
    // An image left from an earlier build must not pass for this one.
    QFile::remove(ImageFilePath(workFolder));

    m_process = new QProcess(this);
    m_process->setProgram(builderProgram);
    m_process->setArguments({BuilderInputPath(workFolder), BuilderOutputPath(workFolder)});
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
#ifndef Q_OS_WIN
    // Its own process group, so a builder that is a script dies with its children on a kill.
    m_process->setChildProcessModifier([] { setpgid(0, 0); });
#endif
    connect(m_process, &QProcess::finished, this, &ImageBuilder::OnFinished);
    connect(m_process, &QProcess::errorOccurred, this, &ImageBuilder::OnError);
    m_deadline.start(timeoutMs);
    m_process->start();
    return true;
}

void ImageBuilder::Cancel()
{
    if (!m_running || !m_process)
        return;
    m_cancelled = true;
    KillGroup();
}

void ImageBuilder::KillGroup()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
#ifndef Q_OS_WIN
    const qint64 pid = m_process->processId();
    if (pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
#endif
    m_process->kill();
}

void ImageBuilder::OnError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !m_running)
        return;
    // The system's reason, in the words of the file system where it can tell.
    const QFileInfo program(m_program);
    QString reason;
    if (!program.exists())
        reason = QStringLiteral("Path or file name not found");
    else if (!program.isFile())
        reason = QStringLiteral("Not a file");
    else if (!program.isExecutable())
        reason = QStringLiteral("Permission denied: the file may not be run");
    else
        reason = m_process->errorString();
    Fail(QStringLiteral("Unable to start the image builder %1\n%2")
             .arg(QDir::toNativeSeparators(m_program), reason));
}

void ImageBuilder::OnFinished(int exitCode, QProcess::ExitStatus status)
{
    if (!m_running)
        return;
    if (m_cancelled) {
        Fail(QStringLiteral("Image build cancelled"));
        return;
    }
    if (m_timedOut) {
        Fail(QStringLiteral("Image builder did not finish in time"));
        return;
    }
    // Its own message: what it wrote on its error output, else on its standard output.
    QString message = QString::fromLocal8Bit(m_process->readAllStandardError()).trimmed();
    if (message.isEmpty())
        message = QString::fromLocal8Bit(m_process->readAllStandardOutput()).trimmed();
    if (message.size() > 2000)
        message = message.left(2000) + QStringLiteral("...");
    if (status != QProcess::NormalExit) {
        Fail(QStringLiteral("Image builder stopped abnormally") +
             (message.isEmpty() ? QString() : QStringLiteral("\n") + message));
        return;
    }
    if (exitCode != 0) {
        Fail(QStringLiteral("Image builder failed (exit status %1)").arg(exitCode) +
             (message.isEmpty() ? QString() : QStringLiteral("\n") + message));
        return;
    }

    ImageBuildResult result;
    QFile image(BuilderOutputPath(m_workFolder));
    if (image.open(QIODevice::ReadOnly)) {
        result.imageFileSize = image.size();
        image.close();
    }
    if (result.imageFileSize < 0) {
        Fail(QStringLiteral("Image builder made no image") +
             (message.isEmpty() ? QString() : QStringLiteral("\n") + message));
        return;
    }
    if (result.imageFileSize > kMaxImageSize) {
        const QString size = QString::number(result.imageFileSize);
        result.boxText = QStringLiteral("Image size is too large - Maximum %1 bytes\rFile size is "
                                        "%2 bytes")
                             .arg(kMaxImageSize)
                             .arg(size);
        result.logLine = QStringLiteral("Image size is too large: ") + size;
        DeleteBuildFiles(m_workFolder, m_pageList);
        Done(result);
        return;
    }
    result.ok = true;
    Done(result);
}

void ImageBuilder::Fail(const QString &text)
{
    ImageBuildResult result;
    result.boxText = text;
    result.logLine = QStringLiteral("Unable to create Image: ") +
                     QString(text).replace(QLatin1Char('\n'), QStringLiteral(": "));
    DeleteBuildFiles(m_workFolder, m_pageList);
    Done(result);
}

void ImageBuilder::Done(const ImageBuildResult &result)
{
    m_deadline.stop();
    m_running = false;
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    emit Finished(result);
}

void DeleteBuildFiles(const QString &programFolder, const PageFileList &pageList)
{
    for (const QString &entry : pageList.Items()) {
        const QString copy = PageCopyPath(programFolder, entry);
        if (!copy.isEmpty() && QFileInfo(copy).isFile())
            QFile::remove(copy);
    }
    const QString image = ImageFilePath(programFolder);
    if (QFileInfo::exists(image))
        QFile::remove(image);
}
