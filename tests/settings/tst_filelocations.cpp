#include "settings/FileLocations.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A folder tree for one test: named folders under a temporary root.
class FolderTree
{
public:
    QString Path(const QString &name) const { return m_root.filePath(name); }

    QString MakeFolder(const QString &name) const
    {
        QDir().mkpath(Path(name));
        return Path(name);
    }

    bool MakeFile(const QString &path, QFile::Permissions extra = {}) const
    {
        QDir().mkpath(QFileInfo(path).path());
        return WriteTestFile(path, "x\r\n") &&
               QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | extra);
    }

    bool MakeProgram(const QString &path) const { return MakeFile(path, QFile::ExeOwner); }

    bool IsValid() const { return m_root.isValid(); }

private:
    QTemporaryDir m_root;
};

// The folders of an installed program and of a build folder, in the same tree.
FileFolders InstalledFolders(const FolderTree &tree)
{
    FileFolders folders;
    folders.program = tree.MakeFolder("usr/bin");
    folders.installedPrograms = folders.program;
    folders.privateTools = tree.MakeFolder("usr/libexec/tolvex");
    folders.systemConfig = tree.MakeFolder("etc/tolvex");
    folders.userConfig = tree.Path("home/.config/tolvex");
    folders.userWork = tree.Path("home/.cache/tolvex");
    return folders;
}

// Maps the short folder names of the tables to the folders of a FileFolders.
QString FolderByName(const FileFolders &folders, const QString &name)
{
    if (name == "program")
        return folders.program;
    if (name == "user")
        return folders.userConfig;
    if (name == "system")
        return folders.systemConfig;
    if (name == "private")
        return folders.privateTools;
    if (name == "work")
        return folders.userWork;
    return name.isEmpty() ? QString() : "<unknown folder " + name + ">";
}

} // namespace

class TestFileLocations : public QObject
{
    Q_OBJECT

private slots:
    void joinPath_data();
    void joinPath();
    void sameFolderPath_data();
    void sameFolderPath();
    void sameFolder_linkAndTarget_match();

    void defaultFileCandidates_data();
    void defaultFileCandidates();
    void findDefaultFile_data();
    void findDefaultFile();
    void findDefaultFile_unreadableFirstFile_isStillChosen();

    void findBuilder_data();
    void findBuilder();

    void workAndPortMapFolders_data();
    void workAndPortMapFolders();

    void isFolderWritable_data();
    void isFolderWritable();
    void isFolderWritable_leavesNothingBehind();

    void installedLayout_filesFromUserSystemAndPrivateFolders();
    void buildFolderLayout_everythingBesideTheProgram();
    void prepare_userFolderBlockedByFile_failsWithMessage();

    void systemFolders_fromStandardPathsAndInstallFolders();
};

void TestFileLocations::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/opt/tolvex"
                           << "MPFS.EXE"
                           << "/opt/tolvex/MPFS.EXE";
    QTest::newRow("trailing slash") << "/opt/tolvex/"
                                    << "a.txt"
                                    << "/opt/tolvex/a.txt";
    QTest::newRow("root") << "/"
                          << "a.txt"
                          << "/a.txt";
    QTest::newRow("drive root") << "C:/"
                                << "a.txt"
                                << "C:/a.txt";
    QTest::newRow("drive folder") << "C:/Program Files/Tolvex"
                                  << "MPFS.EXE"
                                  << "C:/Program Files/Tolvex/MPFS.EXE";
}

void TestFileLocations::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(JoinPath(folder, name), path);
}

void TestFileLocations::sameFolderPath_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("windowsRules");
    QTest::addColumn<bool>("same");
    QTest::newRow("equal") << "/usr/bin"
                           << "/usr/bin" << false << true;
    QTest::newRow("trailing slash") << "/usr/bin/"
                                    << "/usr/bin" << false << true;
    QTest::newRow("doubled slash") << "/usr//bin"
                                   << "/usr/bin" << false << true;
    QTest::newRow("dot dot") << "/usr/local/../bin"
                             << "/usr/bin" << false << true;
    QTest::newRow("case differs, POSIX") << "/usr/Bin"
                                         << "/usr/bin" << false << false;
    QTest::newRow("other folder") << "/usr/bin"
                                  << "/usr/sbin" << false << false;
    QTest::newRow("empty") << ""
                           << "" << false << false;
    QTest::newRow("one empty") << "/usr/bin"
                               << "" << false << false;
    QTest::newRow("case differs, Windows") << "C:/Program Files/Tolvex"
                                           << "c:/program files/TOLVEX" << true << true;
    QTest::newRow("backslashes, Windows") << "C:\\Program Files\\Tolvex\\"
                                          << "C:/Program Files/Tolvex" << true << true;
    QTest::newRow("backslashes, POSIX") << "C:\\Program Files\\Tolvex"
                                        << "C:/Program Files/Tolvex" << false << false;
    QTest::newRow("drive root, Windows") << "C:\\"
                                         << "c:/" << true << true;
    QTest::newRow("other drive, Windows") << "C:\\Tolvex"
                                          << "D:\\Tolvex" << true << false;
    QTest::newRow("dot dot, Windows") << "C:\\Tolvex\\bin\\..\\lib"
                                      << "C:/Tolvex/lib" << true << true;
}

void TestFileLocations::sameFolderPath()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, windowsRules);
    QFETCH(bool, same);
    QCOMPARE(SameFolderPathWithRules(a, b, windowsRules), same);
    QCOMPARE(SameFolderPathWithRules(b, a, windowsRules), same);
}

// A program started through a link to its folder (/bin and /usr/bin on a merged system) is in
// the same folder.
void TestFileLocations::sameFolder_linkAndTarget_match()
{
    FolderTree tree;
    const QString target = tree.MakeFolder("usr/bin");
    const QString link = tree.Path("bin");
    if (!QFile::link(target, link))
        QSKIP("no links to folders here");
    QVERIFY(SameFolder(link, target));
    QVERIFY(SameFolder(link + "/", target));
    QVERIFY(!SameFolder(link, tree.MakeFolder("usr/sbin")));
}

void TestFileLocations::defaultFileCandidates_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("system");
    QTest::addColumn<QStringList>("candidates");
    QTest::newRow("all three in order")
        << "/opt/t"
        << "/home/u/.config/tolvex"
        << "/etc/tolvex"
        << QStringList{"/opt/t/ComPorts.txt", "/home/u/.config/tolvex/ComPorts.txt",
                       "/etc/tolvex/ComPorts.txt"};
    QTest::newRow("no user folder")
        << "/opt/t"
        << ""
        << "/etc/tolvex" << QStringList{"/opt/t/ComPorts.txt", "/etc/tolvex/ComPorts.txt"};
    QTest::newRow("program folder is the system folder")
        << "/etc/tolvex/"
        << "/home/u/.config/tolvex"
        << "/etc/tolvex"
        << QStringList{"/etc/tolvex/ComPorts.txt", "/home/u/.config/tolvex/ComPorts.txt"};
    QTest::newRow("nothing") << ""
                             << ""
                             << "" << QStringList();
}

void TestFileLocations::defaultFileCandidates()
{
    QFETCH(QString, program);
    QFETCH(QString, user);
    QFETCH(QString, system);
    QFETCH(QStringList, candidates);
    FileFolders folders;
    folders.program = program;
    folders.userConfig = user;
    folders.systemConfig = system;
    folders.privateTools = "/usr/libexec/tolvex";
    QCOMPARE(DefaultFileCandidates(folders, "ComPorts.txt"), candidates);
}

void TestFileLocations::findDefaultFile_data()
{
    QTest::addColumn<QStringList>("filesIn");
    QTest::addColumn<QStringList>("foldersNamedLikeTheFileIn");
    QTest::addColumn<QString>("found");
    QTest::newRow("beside the program wins")
        << QStringList{"program", "user", "system"} << QStringList() << "program";
    QTest::newRow("user before system") << QStringList{"user", "system"} << QStringList() << "user";
    QTest::newRow("system last") << QStringList{"system"} << QStringList() << "system";
    QTest::newRow("none") << QStringList() << QStringList() << "";
    QTest::newRow("a folder of that name is passed over")
        << QStringList{"system"} << QStringList{"program", "user"} << "system";
    QTest::newRow("only a folder of that name") << QStringList() << QStringList{"program"} << "";
    QTest::newRow("private folder is not looked in")
        << QStringList{"private", "work"} << QStringList() << "";
}

void TestFileLocations::findDefaultFile()
{
    QFETCH(QStringList, filesIn);
    QFETCH(QStringList, foldersNamedLikeTheFileIn);
    QFETCH(QString, found);
    FolderTree tree;
    QVERIFY(tree.IsValid());
    const FileFolders folders = InstalledFolders(tree);
    for (const QString &name : filesIn)
        QVERIFY(tree.MakeFile(FolderByName(folders, name) + "/DefaultConfig.txt"));
    for (const QString &name : foldersNamedLikeTheFileIn)
        QVERIFY(QDir().mkpath(FolderByName(folders, name) + "/DefaultConfig.txt"));

    const QString expected =
        found.isEmpty() ? QString() : FolderByName(folders, found) + "/DefaultConfig.txt";
    QCOMPARE(FindDefaultFile(folders, "DefaultConfig.txt"), expected);
}

// The operator put a file beside the program; loading it must report that file, not quietly
// take the one in /etc.
void TestFileLocations::findDefaultFile_unreadableFirstFile_isStillChosen()
{
    FolderTree tree;
    const FileFolders folders = InstalledFolders(tree);
    const QString beside = folders.program + "/DefaultFileList.txt";
    QVERIFY(tree.MakeFile(beside));
    QVERIFY(QFile::setPermissions(beside, {}));
    QVERIFY(tree.MakeFile(folders.systemConfig + "/DefaultFileList.txt"));
    QCOMPARE(FindDefaultFile(folders, "DefaultFileList.txt"), beside);
}

void TestFileLocations::findBuilder_data()
{
    QTest::addColumn<QString>("besideProgram"); // "", "program" or "plain file"
    QTest::addColumn<bool>("inPrivateFolder");
    QTest::addColumn<QString>("found");
    QTest::newRow("beside the program wins") << "program" << true << "program";
    QTest::newRow("private folder") << "" << true << "private";
    QTest::newRow("a plain file beside is passed over") << "plain file" << true << "private";
    QTest::newRow("none: the place beside the program") << "" << false << "program";
    QTest::newRow("plain file only: the place beside the program")
        << "plain file" << false << "program";
}

void TestFileLocations::findBuilder()
{
    QFETCH(QString, besideProgram);
    QFETCH(bool, inPrivateFolder);
    QFETCH(QString, found);
#ifndef Q_OS_UNIX
    if (besideProgram == "plain file")
        QSKIP("executable files are told by their name here");
#endif
    FolderTree tree;
    const FileFolders folders = InstalledFolders(tree);
    const QString beside = folders.program + "/MPFS.EXE";
    if (besideProgram == "program")
        QVERIFY(tree.MakeProgram(beside));
    else if (besideProgram == "plain file")
        QVERIFY(tree.MakeFile(beside));
    if (inPrivateFolder)
        QVERIFY(tree.MakeProgram(folders.privateTools + "/MPFS.EXE"));

    QCOMPARE(BuilderCandidates(folders), (QStringList{beside, folders.privateTools + "/MPFS.EXE"}));
    QCOMPARE(FindBuilder(folders), FolderByName(folders, found) + "/MPFS.EXE");
}

void TestFileLocations::workAndPortMapFolders_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("installedPrograms");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("besideProgram");
    QTest::newRow("build folder") << "/home/u/src/build/bin"
                                  << "/usr/bin" << true << true;
    QTest::newRow("read-only copy") << "/srv/tolvex"
                                    << "/usr/bin" << false << false;
    QTest::newRow("installed") << "/usr/bin"
                               << "/usr/bin" << false << false;
    QTest::newRow("installed, super-user") << "/usr/bin"
                                           << "/usr/bin" << true << false;
    QTest::newRow("installed, spelled otherwise") << "/usr//bin/"
                                                  << "/usr/bin" << true << false;
    QTest::newRow("install folder unknown") << "/usr/bin"
                                            << "" << true << true;
    QTest::newRow("Windows install by hand") << "C:/Tools/Tolvex"
                                             << "C:/Program Files/TolvexConfig/bin" << true << true;
}

void TestFileLocations::workAndPortMapFolders()
{
    QFETCH(QString, program);
    QFETCH(QString, installedPrograms);
    QFETCH(bool, writable);
    QFETCH(bool, besideProgram);
    FileFolders folders;
    folders.program = program;
    folders.installedPrograms = installedPrograms;
    folders.userConfig = "/home/u/.config/tolvex";
    folders.userWork = "/home/u/.cache/tolvex";
    QCOMPARE(ProgramFolderTakesFiles(folders, writable), besideProgram);
    QCOMPARE(WorkFolder(folders, writable), besideProgram ? program : folders.userWork);
    QCOMPARE(PortMapWriteFolder(folders, writable), besideProgram ? program : folders.userConfig);
}

void TestFileLocations::isFolderWritable_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("writable");
    QTest::newRow("folder") << "folder" << true;
    QTest::newRow("missing folder") << "missing" << false;
    QTest::newRow("a file") << "file" << false;
    QTest::newRow("empty path") << "empty" << false;
    QTest::newRow("read-only folder") << "read-only" << false;
}

void TestFileLocations::isFolderWritable()
{
    QFETCH(QString, kind);
    QFETCH(bool, writable);
    FolderTree tree;
    QString path;
    if (kind == "folder") {
        path = tree.MakeFolder("f");
    } else if (kind == "missing") {
        path = tree.Path("missing");
    } else if (kind == "file") {
        path = tree.Path("file");
        QVERIFY(tree.MakeFile(path));
    } else if (kind == "read-only") {
        path = tree.MakeFolder("ro");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        if (IsFolderWritable(path)) {
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QSKIP("folder permissions do not bind this user (the super-user)");
        }
    }
    const bool result = IsFolderWritable(path);
    if (kind == "read-only")
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(result, writable);
}

void TestFileLocations::isFolderWritable_leavesNothingBehind()
{
    FolderTree tree;
    const QString folder = tree.MakeFolder("f");
    QVERIFY(IsFolderWritable(folder));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

// Installed in /usr/bin: the default files come from the user's and the system's folders, the
// builder from the private folder, and work files and the port map go to the user's folders,
// made on demand, even when /usr/bin could be written to (as by the super-user here).
void TestFileLocations::installedLayout_filesFromUserSystemAndPrivateFolders()
{
    FolderTree tree;
    const FileFolders folders = InstalledFolders(tree);
    QVERIFY(tree.MakeFile(folders.systemConfig + "/DefaultConfig.txt"));
    QVERIFY(tree.MakeFile(folders.systemConfig + "/ComPorts.txt"));
    QVERIFY(tree.MakeFile(folders.userConfig + "/ComPorts.txt"));
    QVERIFY(tree.MakeProgram(folders.privateTools + "/MPFS.EXE"));

    QCOMPARE(FindDefaultFile(folders, kDefaultConfigFileName),
             tree.Path("etc/tolvex/DefaultConfig.txt"));
    QCOMPARE(FindDefaultFile(folders, kPortMapFileName),
             tree.Path("home/.config/tolvex/ComPorts.txt"));
    QCOMPARE(FindDefaultFile(folders, kDefaultPageListFileName), QString());
    QCOMPARE(FindBuilder(folders), tree.Path("usr/libexec/tolvex/MPFS.EXE"));

    QString error;
    QCOMPARE(PrepareWorkFolder(folders, &error), tree.Path("home/.cache/tolvex"));
    QVERIFY(QFileInfo(tree.Path("home/.cache/tolvex")).isDir());
    QCOMPARE(PreparePortMapFolder(folders, &error), tree.Path("home/.config/tolvex"));
    QCOMPARE(error, QString());
    QCOMPARE(QDir(folders.program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
}

// Run from a build folder: everything beside the program, exactly as before, and no per-user
// folder is made.
void TestFileLocations::buildFolderLayout_everythingBesideTheProgram()
{
    FolderTree tree;
    FileFolders folders = InstalledFolders(tree);
    folders.program = tree.MakeFolder("src/build/bin");
    for (const QString &name : {kDefaultConfigFileName, kDefaultPageListFileName, kPortMapFileName})
        QVERIFY(tree.MakeFile(folders.program + "/" + name));
    QVERIFY(tree.MakeProgram(folders.program + "/MPFS.EXE"));
    QVERIFY(tree.MakeFile(folders.systemConfig + "/DefaultConfig.txt"));
    QVERIFY(tree.MakeProgram(folders.privateTools + "/MPFS.EXE"));

    for (const QString &name : {kDefaultConfigFileName, kDefaultPageListFileName, kPortMapFileName})
        QCOMPARE(FindDefaultFile(folders, name), folders.program + "/" + name);
    QCOMPARE(FindBuilder(folders), folders.program + "/MPFS.EXE");
    QString error;
    QCOMPARE(PrepareWorkFolder(folders, &error), folders.program);
    QCOMPARE(PreparePortMapFolder(folders, &error), folders.program);
    QVERIFY(!QFileInfo::exists(tree.Path("home")));
}

void TestFileLocations::prepare_userFolderBlockedByFile_failsWithMessage()
{
    FolderTree tree;
    FileFolders folders = InstalledFolders(tree);
    QVERIFY(tree.MakeFile(tree.Path("home/.cache")));
    QVERIFY(tree.MakeFile(tree.Path("home/.config")));
    QString error;
    QCOMPARE(PrepareWorkFolder(folders, &error), QString());
    QCOMPARE(error, "Cannot create folder " + tree.Path("home/.cache/tolvex"));
    QCOMPARE(PreparePortMapFolder(folders, &error), QString());
    QCOMPARE(error, "Cannot create folder " + tree.Path("home/.config/tolvex"));

    folders.userWork.clear();
    QCOMPARE(PrepareWorkFolder(folders, &error), QString());
    QCOMPARE(error, QString("No folder for this user's files"));
}

// The per-user folders are "tolvex" under the generic ones whatever the program is called, and
// the system folders are those of the install.
void TestFileLocations::systemFolders_fromStandardPathsAndInstallFolders()
{
    QStandardPaths::setTestModeEnabled(true);
    const FileFolders folders = SystemFileFolders("/somewhere/bin");
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    QStandardPaths::setTestModeEnabled(false);

    QCOMPARE(folders.program, QString("/somewhere/bin"));
    QCOMPARE(folders.userConfig, config + "/tolvex");
    QCOMPARE(folders.userWork, cache + "/tolvex");
    QVERIFY(folders.userConfig != folders.userWork);
#ifdef Q_OS_UNIX
    QVERIFY2(folders.systemConfig.endsWith("etc/tolvex"), qPrintable(folders.systemConfig));
    QVERIFY2(folders.privateTools.endsWith("/libexec/tolvex"), qPrintable(folders.privateTools));
    QVERIFY2(folders.installedPrograms.endsWith("/bin"), qPrintable(folders.installedPrograms));
    for (const QString &path :
         {folders.systemConfig, folders.privateTools, folders.installedPrograms})
        QVERIFY2(QFileInfo(path).isAbsolute(), qPrintable(path));
#endif
}

QTEST_GUILESS_MAIN(TestFileLocations)
#include "tst_filelocations.moc"
