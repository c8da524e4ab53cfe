#pragma once

#include <QString>
#include <QStringList>

// Where the program finds its files and where it writes its work files. Run from a folder it
// can write to (a build folder, a copied folder, a Windows install by hand) everything lives
// beside the program, as it always did; installed, the files are looked for in the user's and
// the system's configuration folders and the work files go to a per-user folder.
//
// The choices are pure functions of a FileFolders, so tests hand in folders of their own;
// SystemFileFolders fills one from the running system.

// File names the program looks up.
inline const QString kDefaultConfigFileName = QStringLiteral("DefaultConfig.txt");
inline const QString kDefaultPageListFileName = QStringLiteral("DefaultFileList.txt");
inline const QString kPortMapFileName = QStringLiteral("ComPorts.txt");
inline const QString kBuilderFileName = QStringLiteral("MPFS.EXE");

// The candidate folders. An empty entry stands for "no such folder here" and is skipped.
struct FileFolders
{
    // The program's own folder (ProgramFolder).
    QString program;
    // The user's configuration folder: ~/.config/tolvex on Linux.
    QString userConfig;
    // The system's configuration folder: /etc/tolvex for a package installed under /usr.
    QString systemConfig;
    // The package's private folder for the image builder and the simulated unit:
    // /usr/libexec/tolvex for a package installed under /usr.
    QString privateTools;
    // The per-user folder for work files when the program's folder does not take them:
    // ~/.cache/tolvex on Linux.
    QString userWork;
    // The folder the package installs the program into (/usr/bin). It never takes work files,
    // even when it is writable (the super-user), so nothing the package does not own lands there.
    QString installedPrograms;
};

// The folder and the file name joined by one separator (none added after a trailing one).
QString JoinPath(const QString &folder, const QString &fileName);

// Whether two folder paths name the same folder by their text: separators doubled or trailing,
// "." and ".." are cleaned away; with Windows rules a backslash is a separator too and letters
// compare ignoring case. Empty paths name no folder and match nothing.
bool SameFolderPathWithRules(const QString &a, const QString &b, bool windowsRules);

// The same for the running platform, resolving links first for folders that exist.
bool SameFolder(const QString &a, const QString &b);

// Where a default file (DefaultConfig.txt, DefaultFileList.txt, ComPorts.txt) is looked for,
// in order: beside the program, the user's configuration folder, the system's. Empty and
// repeated folders are left out.
QStringList DefaultFileCandidates(const FileFolders &folders, const QString &fileName);

// The first candidate that is a file (a folder of that name does not count), or empty when
// there is none. A file found but unreadable is still returned, so loading it reports the file
// the operator put there instead of silently taking another.
QString FindDefaultFile(const FileFolders &folders, const QString &fileName);

// Where the image builder is looked for, in order: beside the program (where a builder of the
// same contract can be put in place of ours), then the package's private folder.
QStringList BuilderCandidates(const FileFolders &folders);

// The first candidate that is an executable file. With none, the path beside the program, so a
// failed start names the place the builder was expected first.
QString FindBuilder(const FileFolders &folders);

// Whether the work files and the port map go beside the program: only when its folder is
// writable and is not the package's install folder.
bool ProgramFolderTakesFiles(const FileFolders &folders, bool programFolderWritable);

// The folder the page copies (TempWebPges) and the image (WebPages.bin) are made in: the
// program's folder when it takes files, else the per-user work folder.
QString WorkFolder(const FileFolders &folders, bool programFolderWritable);

// The folder the window's port chooser writes ComPorts.txt into: the program's folder when it
// takes files, else the user's configuration folder (looked in second, so the written map is
// the one found unless a map beside the program takes precedence).
QString PortMapWriteFolder(const FileFolders &folders, bool programFolderWritable);

// Whether a file can be created in the folder, found by creating and removing one: permission
// bits do not tell (access lists, read-only mounts, the super-user).
bool IsFolderWritable(const QString &folder);

// The folders of the running system for a program in `programFolder`: the configuration and
// work folders from QStandardPaths ("tolvex" under the generic ones, whatever the program's
// name), the system and private folders as the build installs them.
FileFolders SystemFileFolders(const QString &programFolder);

// WorkFolder and PortMapWriteFolder with the program's folder probed, the chosen folder created
// when missing. Empty when it cannot be created, with *error set to "Cannot create folder <path>"
// (or "No folder for this user's files" when the system named none).
QString PrepareWorkFolder(const FileFolders &folders, QString *error);
QString PreparePortMapFolder(const FileFolders &folders, QString *error);
