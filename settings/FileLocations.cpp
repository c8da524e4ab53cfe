#include "FileLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

// The build's install folders, absolute; see settings/CMakeLists.txt.
#ifndef TOLVEX_SYSTEM_CONFIG_FOLDER
#define TOLVEX_SYSTEM_CONFIG_FOLDER ""
#endif
#ifndef TOLVEX_PRIVATE_TOOLS_FOLDER
#define TOLVEX_PRIVATE_TOOLS_FOLDER ""
#endif
#ifndef TOLVEX_INSTALLED_PROGRAMS_FOLDER
#define TOLVEX_INSTALLED_PROGRAMS_FOLDER ""
#endif

namespace {

const QString kSubfolder = QStringLiteral("tolvex");

bool IsWindows()
{
#ifdef Q_OS_WIN
    return true;
#else
    return false;
#endif
}

QString CleanFolderText(const QString &path, bool windowsRules)
{
    QString text = path;
    if (windowsRules)
        text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    text = QDir::cleanPath(text);
    // A trailing slash goes, except for the POSIX root; a drive root becomes its bare drive name
    // on both sides of a comparison (C:\ and c:/ match).
    if (text.size() > 1 && text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

// Appends `folder` to `list` unless it is empty or already there.
void AddFolder(QStringList *list, const QString &folder)
{
    if (folder.isEmpty())
        return;
    for (const QString &held : std::as_const(*list)) {
        if (SameFolder(held, folder))
            return;
    }
    list->append(folder);
}

QStringList Candidates(const QStringList &folders, const QString &fileName)
{
    QStringList paths;
    for (const QString &folder : folders)
        paths << JoinPath(folder, fileName);
    return paths;
}

QString Prepared(const QString &folder, QString *error)
{
    if (folder.isEmpty()) {
        // QStandardPaths found no home for this user.
        *error = QStringLiteral("No folder for this user's files");
        return QString();
    }
    if (QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return folder;
    *error = QStringLiteral("Cannot create folder ") + folder;
    return QString();
}

} // namespace

QString JoinPath(const QString &folder, const QString &fileName)
{
    if (folder.endsWith(QLatin1Char('/')) || (IsWindows() && folder.endsWith(QLatin1Char('\\'))))
        return folder + fileName;
    return folder + QLatin1Char('/') + fileName;
}

bool SameFolderPathWithRules(const QString &a, const QString &b, bool windowsRules)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    return CleanFolderText(a, windowsRules)
               .compare(CleanFolderText(b, windowsRules),
                        windowsRules ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

bool SameFolder(const QString &a, const QString &b)
{
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    return SameFolderPathWithRules(canonicalA.isEmpty() ? a : canonicalA,
                                   canonicalB.isEmpty() ? b : canonicalB, IsWindows());
}

QStringList DefaultFileCandidates(const FileFolders &folders, const QString &fileName)
{
    QStringList order;
    AddFolder(&order, folders.program);
    AddFolder(&order, folders.userConfig);
    AddFolder(&order, folders.systemConfig);
    return Candidates(order, fileName);
}

QString FindDefaultFile(const FileFolders &folders, const QString &fileName)
{
    for (const QString &path : DefaultFileCandidates(folders, fileName)) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QStringList BuilderCandidates(const FileFolders &folders)
{
    QStringList order;
    AddFolder(&order, folders.program);
    AddFolder(&order, folders.privateTools);
    return Candidates(order, kBuilderFileName);
}

QString FindBuilder(const FileFolders &folders)
{
    const QStringList candidates = BuilderCandidates(folders);
    for (const QString &path : candidates) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return candidates.isEmpty() ? QString() : candidates.first();
}

bool ProgramFolderTakesFiles(const FileFolders &folders, bool programFolderWritable)
{
    return programFolderWritable && !SameFolder(folders.program, folders.installedPrograms);
}

QString WorkFolder(const FileFolders &folders, bool programFolderWritable)
{
    return ProgramFolderTakesFiles(folders, programFolderWritable) ? folders.program
                                                                   : folders.userWork;
}

QString PortMapWriteFolder(const FileFolders &folders, bool programFolderWritable)
{
    return ProgramFolderTakesFiles(folders, programFolderWritable) ? folders.program
                                                                   : folders.userConfig;
}

bool IsFolderWritable(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(JoinPath(folder, QStringLiteral(".tolvex-write-probe-XXXXXX")));
    return probe.open();
}

FileFolders SystemFileFolders(const QString &programFolder)
{
    FileFolders folders;
    folders.program = programFolder;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        folders.userConfig = JoinPath(config, kSubfolder);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        folders.userWork = JoinPath(cache, kSubfolder);
#ifdef Q_OS_WIN
    // The machine-wide folder is the last generic configuration folder (ProgramData); there is
    // no /etc.
    const QStringList all =
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    if (all.size() > 1)
        folders.systemConfig = JoinPath(all.last(), kSubfolder);
#else
    folders.systemConfig = QStringLiteral(TOLVEX_SYSTEM_CONFIG_FOLDER);
#endif
    folders.privateTools = QStringLiteral(TOLVEX_PRIVATE_TOOLS_FOLDER);
    folders.installedPrograms = QStringLiteral(TOLVEX_INSTALLED_PROGRAMS_FOLDER);
    return folders;
}

QString PrepareWorkFolder(const FileFolders &folders, QString *error)
{
    return Prepared(WorkFolder(folders, IsFolderWritable(folders.program)), error);
}

QString PreparePortMapFolder(const FileFolders &folders, QString *error)
{
    return Prepared(PortMapWriteFolder(folders, IsFolderWritable(folders.program)), error);
}
