#include "ImageBuild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <vector>

#ifdef Q_OS_WIN
#include <process.h>
#include <string>
#include <windows.h>
#else
#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern char **environ;
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

#ifdef Q_OS_WIN

// Quotes one argument so the child's runtime splits the command line back into it unchanged.
std::wstring QuoteArgument(const QString &argument)
{
    const std::wstring arg = argument.toStdWString();
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

// Starts the program and waits for it. Returns 0 when it ran (or was killed after the time
// allowed, then *timedOut is set), else the runtime's error number for the failed start.
int RunAndWait(const QString &program, const QStringList &arguments, int timeoutMs, bool *timedOut)
{
    *timedOut = false;
    const std::wstring path = QDir::toNativeSeparators(program).toStdWString();
    std::vector<std::wstring> quoted;
    quoted.push_back(QuoteArgument(QDir::toNativeSeparators(program)));
    for (const QString &argument : arguments)
        quoted.push_back(QuoteArgument(argument));
    std::vector<const wchar_t *> argv;
    for (const std::wstring &q : quoted)
        argv.push_back(q.c_str());
    argv.push_back(nullptr);
    errno = 0;
    const intptr_t handle = _wspawnv(_P_NOWAIT, path.c_str(), argv.data());
    if (handle == -1)
        return errno != 0 ? errno : -1;
    const HANDLE process = reinterpret_cast<HANDLE>(handle);
    if (WaitForSingleObject(process, DWORD(timeoutMs)) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        *timedOut = true;
    }
    CloseHandle(process);
    return 0;
}

#else

int RunAndWait(const QString &program, const QStringList &arguments, int timeoutMs, bool *timedOut)
{
    *timedOut = false;
    std::vector<QByteArray> strings;
    strings.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        strings.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    // Its own process group, so a builder that is a script dies with its children on a kill.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv.front(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (started != 0)
        return started;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return 0;
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    *timedOut = true;
    return 0;
}

#endif

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

QString BuilderStartErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
        return QStringLiteral("Path or file name not found");
    case ENOMEM:
        return QStringLiteral("Not enough memory");
    case EINVAL:
        return QStringLiteral("Invalid argument");
    case E2BIG:
        return QStringLiteral("Arg list too long");
    case ENOEXEC:
        return QStringLiteral("Exec format error");
    default:
        return QString();
    }
}

bool CopyPagesToTempFolder(const QString &programFolder, const PageFileList &pageList,
                           QStringList *logLines)
{
    const QString tempFolder = TempFolderPath(programFolder);
    if (!QFileInfo(tempFolder).isDir() && !QDir().mkdir(tempFolder)) {
        logLines->append(QStringLiteral("Unable to create Temp Folder"));
        return false;
    }
    for (const QString &entry : pageList.Items()) {
        if (!CopyReplacing(entry, PageCopyPath(programFolder, entry))) {
            logLines->append(QStringLiteral("Cannot find file ") + entry);
            DeleteBuildFiles(programFolder, pageList);
            return false;
        }
    }
    return true;
}

bool BuildImage(const QString &programFolder, const PageFileList &pageList,
                ImageBuildResult *result, int timeoutMs)
{
    *result = ImageBuildResult();
    // An image left from an earlier build must not pass for this one: a builder that writes
    // nothing then leaves no image, and the load reports it instead of sending stale pages.
    QFile::remove(ImageFilePath(programFolder));
    bool timedOut = false;
    const int startError = RunAndWait(
        BuilderProgramPath(programFolder),
        {BuilderInputPath(programFolder), BuilderOutputPath(programFolder)}, timeoutMs, &timedOut);
    if (startError != 0 || timedOut) {
        const QString text = timedOut ? QStringLiteral("Image builder did not finish in time")
                                      : BuilderStartErrorText(startError);
        result->boxText = text;
        result->logLine = QStringLiteral("Unable to create Image: ") + text;
        DeleteBuildFiles(programFolder, pageList);
        return false;
    }

    QFile image(BuilderOutputPath(programFolder));
    if (image.open(QIODevice::ReadOnly)) {
        result->imageFileSize = image.size();
        image.close();
    }
    if (result->imageFileSize > kMaxImageSize) {
        const QString size = QString::number(result->imageFileSize);
        result->boxText = QStringLiteral("Image size is too large - Maximum %1 bytes\rFile size is "
                                         "%2 bytes")
                              .arg(kMaxImageSize)
                              .arg(size);
        result->logLine = QStringLiteral("Image size is too large: ") + size;
        DeleteBuildFiles(programFolder, pageList);
        return false;
    }
    return true;
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
