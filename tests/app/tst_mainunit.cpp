#include "app/MainUnit.h"
#include "app/TrafficView.h"
#include "exchanges/MacCounter.h"
#include "settings/FileLock.h"
#include "support/FakeLink.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

} // namespace

class TestMainUnit : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    FakePort *port = nullptr;

    std::unique_ptr<TMainForm> makeForm(bool webPages = false)
    {
        StartOptions options;
        options.programPath = dir->path() + "/tolvex-config";
        options.macCounterPath = dir->path() + "/mac/SetMACAddress.txt";
        options.folders = FileFolders{}; // beside the program only
        options.showWebPages = webPages;
        options.runTimer = false;
        auto fake = std::make_unique<FakePort>();
        port = fake.get();
        return std::make_unique<TMainForm>(options, *dialogs, std::move(fake));
    }
    QString path(const QString &name) const { return dir->path() + "/" + name; }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        dialogs = new ScriptedDialogs;
    }
    void cleanup()
    {
        delete dialogs;
        delete dir;
    }

    // A window destroyed while shown, with the port number being edited: the edit's focus-out
    // handler must still find the whole window (it once ran on a half-destroyed one).
    void destroyedWhileShown_portNumberFocused_noUseAfterFree()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
        form->Ui().SerialPortCSpinEdit->setFocus();
        QTRY_VERIFY(form->Ui().SerialPortCSpinEdit->hasFocus());
        form.reset();
    }

    void startUp_withoutDefaultFiles_logsBothNotFound_macControlsHidden()
    {
        auto form = makeForm();
        QCOMPARE(form->LogLines(),
                 (QStringList{"DefaultConfig.txt Not Found", "DefaultFileList.txt Not Found"}));
        QCOMPARE(form->windowTitle(), QString("Tolvex Interface Version 1.05"));
        QCOMPARE(form->ProgramFolder(), dir->path());
        MainFormUi &ui = form->Ui();
        QCOMPARE(ui.MainPageControl->currentIndex(), int(MainFormUi::GeneralPage));
        QVERIFY(ui.MainPageControl->isTabVisible(0));
        QVERIFY(ui.MainPageControl->isTabVisible(1));
        QVERIFY(!ui.MainPageControl->isTabVisible(2));
        QVERIFY(!ui.MainPageControl->isTabVisible(3));
        QVERIFY(ui.NewMAC1Edit->isHidden());
        QVERIFY(ui.NewMAC2Edit->isHidden());
        QVERIFY(ui.SendNewMACButton->isHidden());
        QVERIFY(!ui.MACAddressEdit->isHidden());
        QCOMPARE(ui.FileListStringGrid->item(0, 0)->text(), QString("Name"));
        QCOMPARE(ui.FileListStringGrid->item(0, 1)->text(), QString("Location"));
        QVERIFY(dialogs->boxes.isEmpty());
    }

    void startUp_enableRulesNotApplied_untilABoxChanges()
    {
        auto form = makeForm();
        MainFormUi &ui = form->Ui();
        QVERIFY(ui.UseBroadcastdxfCheckBox->Checked());
        for (QLineEdit *edit : ui.clientAddrEdits)
            QVERIFY(edit->isEnabled());
        QVERIFY(ui.SerialTimedCSpinEdit->isEnabled());
    }

    void startUp_withDefaultFiles_loadsThemAndLogs()
    {
        QVERIFY(WriteTestFile(path("DefaultConfig.txt"), "bh120"));
        QVERIFY(WriteTestFile(path("DefaultFileList.txt"), "/pages/b.htm\r\n/pages/A.htm\r\n"));
        auto form = makeForm();
        QCOMPARE(form->LogLines(),
                 (QStringList{"Default Data Loaded", "Default Web Page File List Loaded"}));
        QCOMPARE(form->Ui().ServerTimeoutCSpinEdit->Value(), 120);
        QCOMPARE(form->Ui().UpdatePeriodCSpinEdit->Value(), 60);
        QCOMPARE(form->PageFiles().Items(), (QStringList{"/pages/A.htm", "/pages/b.htm"}));
        QCOMPARE(form->Ui().FileListStringGrid->rowCount(), 3);
        QVERIFY(!form->PageListChanged());
    }

    void startUp_folderNamedLikeADefaultFile_isNoDefaultFile()
    {
        QVERIFY(QDir(dir->path()).mkdir("DefaultConfig.txt"));
        auto form = makeForm();
        QVERIFY(dialogs->boxes.isEmpty());
        QCOMPARE(form->LogLines(),
                 (QStringList{"DefaultConfig.txt Not Found", "DefaultFileList.txt Not Found"}));
    }

    void optionsLine_flipsSeveralBoxes_andEnableRulesFollow()
    {
        QVERIFY(WriteTestFile(path("eo.txt"), "eo0010110010000000\r\n"));
        auto form = makeForm();
        QVERIFY(form->LoadSettingsFile(path("eo.txt")));
        MainFormUi &ui = form->Ui();
        QVERIFY(ui.DHCPEnabledxfCheckBox->Checked());
        QVERIFY(ui.SerialTimeddxfCheckBox->Checked());
        QVERIFY(!ui.SerialCRLFdxfCheckBox->Checked());
        QVERIFY(ui.EnableWatchdogdxfCheckBox->Checked());
        QVERIFY(ui.ClientEnabledxfCheckBox->Checked());
        QVERIFY(!ui.UseBroadcastdxfCheckBox->Checked());
        for (auto edits : {ui.ipAddrEdits, ui.gateWayAddrEdits, ui.subMaskAddrEdits})
            for (QLineEdit *edit : edits)
                QVERIFY(!edit->isEnabled());
        QVERIFY(ui.SerialTimedCSpinEdit->isEnabled());
        QVERIFY(ui.UseBroadcastdxfCheckBox->isEnabled());
        for (QLineEdit *edit : ui.clientAddrEdits)
            QVERIFY(edit->isEnabled());
    }

    void enableRules_clientAndBroadcast()
    {
        auto form = makeForm();
        MainFormUi &ui = form->Ui();
        ui.ClientEnabledxfCheckBox->click(); // off
        QVERIFY(!ui.UseBroadcastdxfCheckBox->isEnabled());
        for (QLineEdit *edit : ui.clientAddrEdits)
            QVERIFY(!edit->isEnabled());
        ui.ClientEnabledxfCheckBox->click(); // on, broadcast still on
        QVERIFY(ui.UseBroadcastdxfCheckBox->isEnabled());
        for (QLineEdit *edit : ui.clientAddrEdits)
            QVERIFY(!edit->isEnabled());
        ui.UseBroadcastdxfCheckBox->click(); // broadcast off
        for (QLineEdit *edit : ui.clientAddrEdits)
            QVERIFY(edit->isEnabled());
        ui.DHCPEnabledxfCheckBox->click();
        QVERIFY(!ui.IPAddr1Edit->isEnabled());
        ui.DHCPEnabledxfCheckBox->click();
        QVERIFY(ui.IPAddr1Edit->isEnabled());
    }

    void exclusivePair_crlfAndTimed()
    {
        auto form = makeForm();
        MainFormUi &ui = form->Ui();
        ui.SerialTimeddxfCheckBox->click();
        QVERIFY(ui.SerialTimedCSpinEdit->isEnabled());
        ui.SerialCRLFdxfCheckBox->click();
        QVERIFY(!ui.SerialTimeddxfCheckBox->Checked());
        QVERIFY(!ui.SerialTimedCSpinEdit->isEnabled());
        ui.SerialTimeddxfCheckBox->click();
        QVERIFY(!ui.SerialCRLFdxfCheckBox->Checked());
        QVERIFY(ui.SerialTimedCSpinEdit->isEnabled());
        ui.SerialTimeddxfCheckBox->click(); // on -> off: both off
        QVERIFY(!ui.SerialTimeddxfCheckBox->Checked());
        QVERIFY(!ui.SerialCRLFdxfCheckBox->Checked());
        QVERIFY(!ui.SerialTimedCSpinEdit->isEnabled());
    }

    void saveInitialState_writesThe30LineFile_andLoadsBack()
    {
        auto form = makeForm();
        dialogs->fileNames = {path("saved.txt")};
        form->SaveButtonClick();
        QCOMPARE(dialogs->filters.value(0), QString("Config Files|*.txt"));
        const QByteArray expected = "ax15\r\n\r\nax25\r\n\r\nax35\r\n\r\nax45\r\n\r\nba3012\r\n\r\n"
                                    "bb15\r\n\r\nbh60\r\n\r\nbj60\r\n\r\nbt2\r\n\r\n"
                                    "eo0001100000000000\r\n\r\nnc...\r\n\r\nng...\r\n\r\n"
                                    "ni...\r\n\r\nns...\r\n\r\nzc\r\n\r\n";
        QCOMPARE(ReadTestFile(path("saved.txt")), expected);

        auto fresh = makeForm();
        dialogs->fileNames = {path("saved.txt")};
        fresh->LoadButtonClick();
        MainFormUi &ui = fresh->Ui();
        for (auto edits :
             {ui.ipAddrEdits, ui.gateWayAddrEdits, ui.subMaskAddrEdits, ui.clientAddrEdits})
            for (QLineEdit *edit : edits)
                QCOMPARE(edit->text(), QString("0"));
        QCOMPARE(ui.BaudRateComboBox->currentText(), QString("19200"));
        QVERIFY(ui.SerialCRLFdxfCheckBox->Checked());
        QVERIFY(!ui.SerialTimedCSpinEdit->isEnabled());
        QCOMPARE(ui.ClientPortCSpinEdit->Value(), 3012);
        QCOMPARE(ui.SerialTimedCSpinEdit->Value(), 20);
        QVERIFY(ui.UseBroadcastdxfCheckBox->Checked());
    }

    void loadUnreadableFile_reportsAndChangesNothing_data()
    {
        QTest::addColumn<QString>("file"); // "fifo" is made as one
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.txt"
                                 << "";
#ifdef Q_OS_UNIX
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << ": not a regular file";
        QTest::newRow("FIFO") << "fifo"
                              << ": not a regular file";
#endif
    }
    void loadUnreadableFile_reportsAndChangesNothing()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        const QString chosen = file.startsWith('/') ? file : path(file);
#ifdef Q_OS_UNIX
        if (file == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(chosen).constData(), 0600), 0);
#endif
        auto form = makeForm();
        form->Ui().ClientPortCSpinEdit->SetValue(4000);
        dialogs->fileNames = {chosen};
        form->LoadButtonClick(); // returns at once: a FIFO without a writer is never waited on
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot open file " + chosen + reason});
        QCOMPARE(form->Ui().ClientPortCSpinEdit->Value(), 4000);
    }

    void saveToUnwritablePlace_reportsCannotCreate()
    {
        auto form = makeForm();
        const QString target = path("no-such-folder/saved.txt");
        dialogs->fileNames = {target};
        form->SaveButtonClick();
        QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot create file " + target});
    }

    void cancelledDialogs_changeNothing()
    {
        auto form = makeForm();
        form->SaveButtonClick();
        form->LoadButtonClick();
        form->AddButtonClick();
        QVERIFY(dialogs->boxes.isEmpty());
        QVERIFY(!form->PageListChanged());
    }

    // The boxes show the counter's next number; the window never writes the counter at close
    // (every number sent moved it on already), so a file it cannot read is left alone.
    void macCounterFile_fillsBoxes_closeLeavesItAlone_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<bool>("refused");
        QTest::newRow("two lines") << QByteArray("12\r\nAB\r\n") << "12 AB" << false;
        QTest::newRow("lower case, no final end") << QByteArray("12\nab") << "12 AB" << false;
        QTest::newRow("empty file, as set up by hand") << QByteArray() << "00 00" << false;
        QTest::newRow("third line") << QByteArray("12\r\nAB\r\n\r\n") << " " << true;
        QTest::newRow("not hex") << QByteArray("1G\r\nAB\r\n") << " " << true;
    }
    void macCounterFile_fillsBoxes_closeLeavesItAlone()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, boxes);
        QFETCH(bool, refused);
        QVERIFY(QDir(dir->path()).mkdir("mac"));
        QVERIFY(WriteTestFile(path("mac/SetMACAddress.txt"), file));
        auto form = makeForm();
        MainFormUi &ui = form->Ui();
        QVERIFY(form->MacAssignmentModeOn());
        QVERIFY(!ui.SendNewMACButton->isHidden());
        if (refused) {
            QTRY_COMPARE(dialogs->boxes.size(), 1);
            QVERIFY2(dialogs->boxTexts().at(0).startsWith(
                         "MAC counter file " + path("mac/SetMACAddress.txt") + " holds no number"),
                     qPrintable(dialogs->boxTexts().at(0)));
        } else {
            QTRY_COMPARE(ui.NewMAC1Edit->text() + " " + ui.NewMAC2Edit->text(), boxes);
            QVERIFY(dialogs->boxes.isEmpty());
        }
        QCOMPARE(ui.NewMAC1Edit->text() + " " + ui.NewMAC2Edit->text(), boxes);
        ui.NewMAC1Edit->setText("7F");
        ui.NewMAC2Edit->setText("00");
        QVERIFY(form->FormCloseQuery());
        QCOMPARE(ReadTestFile(path("mac/SetMACAddress.txt")), file);
        // Sending from a file that holds no number refuses, and still leaves it alone.
        if (refused) {
            form->SendNewMACButtonClick();
            QTRY_COMPARE(dialogs->boxes.size(), 2);
            QVERIFY(port->writes.isEmpty());
            QCOMPARE(ReadTestFile(path("mac/SetMACAddress.txt")), file);
            QVERIFY(ui.SendNewMACButton->isEnabled());
        }
    }

    // Waiting for the counter's lock: the window stays live with the exchange buttons off;
    // Cancel or Esc ends the wait and nothing is sent, even once the lock comes free; a lock
    // held too long ends in an error naming the lock file.
    void macSend_waitingForTheCounterLock_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Esc") << "escape";
        QTest::newRow("lock held too long") << "timeout";
    }
    void macSend_waitingForTheCounterLock()
    {
        QFETCH(QString, end);
        QVERIFY(QDir(dir->path()).mkdir("mac"));
        const QString counter = path("mac/SetMACAddress.txt");
        QVERIFY(WriteTestFile(counter, "12\r\nAB\r\n"));
        auto form = makeForm();
        MainFormUi &ui = form->Ui();
        QTRY_COMPARE(ui.NewMAC2Edit->text(), QString("AB"));
        auto holder = std::make_unique<FileLock>();
        QString error;
        QVERIFY(holder->Lock(MacCounterLockPath(counter), &error));

        form->SendNewMACButtonClick();
        QTRY_VERIFY(ui.CancelButton->isEnabled());
        for (QPushButton *button :
             {ui.ReadButton, ui.WriteButton, ui.SendNewMACButton, ui.DownloadButton})
            QVERIFY(!button->isEnabled());
        QVERIFY(form->Busy());
        // The event loop runs meanwhile: a queued call gets through at once.
        bool ran = false;
        QMetaObject::invokeMethod(
            form.get(), [&ran] { ran = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(ran, 1000);
        QVERIFY(form->Busy());

        if (end == "cancel") {
            form->CancelButtonClick();
        } else if (end == "escape") {
            QTest::keyClick(form.get(), Qt::Key_Escape);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!form->Busy(), 8000);
            QCOMPARE(dialogs->boxTexts(),
                     QStringList{"Cannot lock file " + MacCounterLockPath(counter) +
                                 ": another program has held it for 5 s"});
        }
        QVERIFY(!form->Busy());
        QVERIFY(ui.SendNewMACButton->isEnabled());
        QVERIFY(!ui.CancelButton->isEnabled());
        holder.reset();
        QTest::qWait(300);
        QVERIFY(port->writes.isEmpty());
        QVERIFY(port->openedDevices.isEmpty());
        QCOMPARE(ReadTestFile(counter), QByteArray("12\r\nAB\r\n"));
        if (end != "timeout")
            QVERIFY(dialogs->boxes.isEmpty());
    }

    void closeCancelledAtPageListQuestion_keepsWindowAndCounterFile()
    {
        QVERIFY(QDir(dir->path()).mkdir("mac"));
        QVERIFY(WriteTestFile(path("mac/SetMACAddress.txt"), "12\r\nAB\r\n"));
        auto form = makeForm(true);
        dialogs->fileLists = {{"/pages/index.htm"}};
        form->AddButtonClick();
        QVERIFY(form->PageListChanged());
        form->Ui().NewMAC2Edit->setText("AC");
        dialogs->answers = {Dialogs::Answer::Cancel};
        QVERIFY(!form->FormCloseQuery());
        QCOMPARE(
            dialogs->questions,
            QStringList{"The Web Page File List has changed\nDo you want to save the new list?"});
        QCOMPARE(ReadTestFile(path("mac/SetMACAddress.txt")), QByteArray("12\r\nAB\r\n"));
    }

    void saveQuestionYes_saveCancelledOrFailed_keepsWindowAndList_data()
    {
        QTest::addColumn<QString>("target"); // "" cancels the save dialog
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("save cancelled") << QString() << QStringList();
        QTest::newRow("save failed")
            << "no-such-folder/list.txt"
            << QStringList{"Cannot create file <dir>/no-such-folder/list.txt"};
    }

    void saveQuestionYes_saveCancelledOrFailed_keepsWindowAndList()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, boxes);
        boxes.replaceInStrings("<dir>", dir->path());
        auto form = makeForm(true);
        dialogs->fileLists = {{"/pages/index.htm"}};
        form->AddButtonClick();

        // At close: the window stays open.
        dialogs->answers = {Dialogs::Answer::Yes};
        dialogs->fileNames = {target.isEmpty() ? QString() : path(target)};
        QVERIFY(!form->FormCloseQuery());
        QCOMPARE(dialogs->boxTexts(), boxes);

        // Before loading another list: the edited list stays.
        QVERIFY(WriteTestFile(path("other.txt"), "/other/page.htm\r\n"));
        dialogs->answers = {Dialogs::Answer::Yes};
        dialogs->fileNames = {target.isEmpty() ? QString() : path(target), path("other.txt")};
        form->LoadPageListButtonClick();
        QCOMPARE(form->PageFiles().Items(), QStringList{"/pages/index.htm"});
        QVERIFY(form->PageListChanged());
    }

    void unreadableDefaultFiles_reportedAndStartUpCarriesOn_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("log");
        // A file whose every read fails, whoever runs the test (permissions do not stop root).
        QTest::newRow("settings") << "DefaultConfig.txt"
                                  << QStringList{"DefaultFileList.txt Not Found"};
        QTest::newRow("page list")
            << "DefaultFileList.txt" << QStringList{"DefaultConfig.txt Not Found"};
        QTest::newRow("counter file")
            << "mac/SetMACAddress.txt"
            << QStringList{"DefaultConfig.txt Not Found", "DefaultFileList.txt Not Found"};
    }

    void unreadableDefaultFiles_reportedAndStartUpCarriesOn()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, log);
        QVERIFY(QDir(dir->path()).mkpath("mac"));
        QVERIFY(QFile::link("/proc/self/mem", path(file)));
        auto form = makeForm();
        QTRY_COMPARE(dialogs->boxTexts(), QStringList{"Cannot open file " + path(file)});
        QCOMPARE(form->LogLines(), log);
    }

    void closeWithoutChanges_asksNothing()
    {
        auto form = makeForm();
        QVERIFY(form->FormCloseQuery());
        QVERIFY(dialogs->questions.isEmpty());
    }

    void webPagesSwitch_showsTheTab()
    {
        auto form = makeForm(true);
        QVERIFY(form->Ui().MainPageControl->isTabVisible(MainFormUi::WebPagesPage));
        QVERIFY(!form->Ui().MainPageControl->isTabVisible(MainFormUi::AnaloguePage));
    }

    void pageList_addRemoveAndGrid()
    {
        auto form = makeForm(true);
        dialogs->fileLists = {{"/w/b.htm", "/w/a.cgi", "/w/B.HTM", "/x/a.cgi"}};
        form->AddButtonClick();
        QCOMPARE(dialogs->filters.value(0), QString("Web Page Files|*.htm;*.cgi"));
        QCOMPARE(form->PageFiles().Items(), (QStringList{"/w/a.cgi", "/w/b.htm", "/x/a.cgi"}));
        QTableWidget *grid = form->Ui().FileListStringGrid;
        QCOMPARE(grid->rowCount(), 4);
        QCOMPARE(grid->item(1, 0)->text(), QString("a.cgi"));
        QCOMPARE(grid->item(1, 1)->text(), QString("/w/"));
        grid->setRangeSelected(QTableWidgetSelectionRange(1, 0, 2, 1), true);
        form->RemoveButtonClick();
        QCOMPARE(form->PageFiles().Items(), QStringList{"/x/a.cgi"});
        QCOMPARE(grid->rowCount(), 2);
        QVERIFY(form->PageListChanged());
    }

    void pageList_saveAndLoad_clearsChangedOnlyOnLoad()
    {
        auto form = makeForm(true);
        dialogs->fileLists = {{"/w/b.htm", "/w/a.htm"}};
        form->AddButtonClick();
        dialogs->fileNames = {path("list.txt")};
        form->SavePageListButtonClick();
        QCOMPARE(ReadTestFile(path("list.txt")), QByteArray("/w/a.htm\r\n/w/b.htm\r\n"));
        QVERIFY(form->PageListChanged());
        dialogs->answers = {Dialogs::Answer::No};
        dialogs->fileNames = {path("list.txt")};
        form->LoadPageListButtonClick();
        QVERIFY(!form->PageListChanged());
        QCOMPARE(form->PageFiles().Count(), 2);
    }

    void help_describesTheButtons()
    {
        auto form = makeForm();
        form->HelpButtonClick();
        QCOMPARE(dialogs->helpTexts.size(), 1);
        QVERIFY(dialogs->helpTexts.at(0).contains("Read From TOLVEX"));
        QVERIFY(dialogs->helpTexts.at(0).contains("Write To TOLVEX"));
    }

    void logLineWithLineEnd_breaksThere_andClearEmpties()
    {
        auto form = makeForm();
        form->AppendLog("Tolvex Version: 1.0.5-UDP\r\n");
        QCOMPARE(form->LogLines().mid(2), (QStringList{"Tolvex Version: 1.0.5-UDP", ""}));
        form->ClearButtonClick();
        QVERIFY(form->LogLines().isEmpty());
    }

    void programFolder_fromThePathAsGiven_data()
    {
        QTest::addColumn<QString>("programPath");
        QTest::addColumn<QString>("folder");
        QTest::newRow("absolute") << "/opt/tolvex/bin/tolvex-config"
                                  << "/opt/tolvex/bin";
        QTest::newRow("relative") << "./tolvex-config"
                                  << ".";
        QTest::newRow("link folder kept") << "/home/op/bench/tolvex-config"
                                          << "/home/op/bench";
        QTest::newRow("folder with blanks") << "/a b/c'd/tolvex-config"
                                            << "/a b/c'd";
        QTest::newRow("root") << "/tolvex-config"
                              << "";
        // Started through the search path: the folder the executable lies in.
        QTest::newRow("no separator") << "tolvex-config" << QCoreApplication::applicationDirPath();
    }

    void programFolder_fromThePathAsGiven()
    {
        QFETCH(QString, programPath);
        QFETCH(QString, folder);
        QCOMPARE(TMainForm::ProgramFolderFromPath(programPath), folder);
    }

    void readWithPortThatCannotOpen_showsTheReason_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << int(PortIo::OpenResult::NoSuchDevice) << "No such device";
        QTest::newRow("busy") << int(PortIo::OpenResult::InUse) << "in use by another program";
        QTest::newRow("forbidden") << int(PortIo::OpenResult::NoPermission) << "dialout";
    }

    void readWithPortThatCannotOpen_showsTheReason()
    {
        QFETCH(int, result);
        QFETCH(QString, reason);
        auto form = makeForm();
        port->openResults = {PortIo::OpenResult(result)};
        form->Ui().SerialPortCSpinEdit->SetValue(7);
        form->ReadButtonClick();
        QCOMPARE(dialogs->plainErrors.size(), 1);
        const QStringList lines = dialogs->plainErrors.at(0).split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QString("Unable to open serial port 7"));
        QVERIFY2(lines.at(1).contains(reason), qPrintable(lines.at(1)));
        QVERIFY(port->writes.isEmpty());
        for (int i = 0; i < 50; ++i)
            form->Timer1Timer();
        QVERIFY(dialogs->boxes.isEmpty());
        QVERIFY(form->Ui().ReadButton->isEnabled());
    }

    void exchangeButtons_disabledWhileAnExchangeRuns_backHoweverItEnds_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("answered") << "answered";
        QTest::newRow("silent unit") << "silent";
        QTest::newRow("device lost") << "lost";
    }

    void exchangeButtons_disabledWhileAnExchangeRuns_backHoweverItEnds()
    {
        QFETCH(QString, end);
        QVERIFY(QDir(dir->path()).mkdir("mac"));
        QVERIFY(WriteTestFile(path("mac/SetMACAddress.txt"), "12\r\nAB\r\n"));
        auto form = makeForm(true);
        MainFormUi &ui = form->Ui();
        const QList<QPushButton *> buttons{ui.ReadButton, ui.WriteButton, ui.SendNewMACButton,
                                           ui.DownloadButton};
        QTRY_COMPARE(ui.NewMAC2Edit->text(), QString("AB"));
        form->SendNewMACButtonClick();
        QTRY_COMPARE(port->writes, QList<QByteArray>{"ma4779\r\n"});
        for (QPushButton *button : buttons)
            QVERIFY(!button->isEnabled());
        QVERIFY(ui.CancelButton->isEnabled());
        // A second press is refused while the first runs: nothing else goes out.
        form->ReadButtonClick();
        QCOMPARE(port->writes.size(), 1);

        if (end == "answered") {
            port->Feed("MA0,4,163,0,18,171,\r\n");
            port->Feed("ZC\r\n");
            QCOMPARE(dialogs->boxTexts(), QStringList{"Data read OK"});
        } else if (end == "silent") {
            for (int i = 0; i < 60 && form->Engine().Running(); ++i)
                form->Timer1Timer();
            QCOMPARE(dialogs->boxTexts(), QStringList{"Cannot communicate with TOLVEX\nError 7"});
            // Every retry resent the "ma" line; it never turned into a read.
            QCOMPARE(port->writes, QList<QByteArray>(4, "ma4779\r\n"));
        } else {
            port->Lose();
            QTRY_VERIFY(!form->Engine().Running());
            QCOMPARE(dialogs->plainErrors.size(), 1);
            QVERIFY(dialogs->plainErrors.at(0).startsWith("Serial port device lost"));
        }
        for (QPushButton *button : buttons)
            QVERIFY(button->isEnabled());
        QVERIFY(!ui.CancelButton->isEnabled());
    }

    void choosingAnAdapter_makesTheComNumberStandForIt()
    {
        auto form = makeForm();
        form->Ui().SerialPortCSpinEdit->SetValue(3);
        SerialPortEntry adapter;
        adapter.device = "/dev/ttyUSB7";
        adapter.stablePath = "/dev/serial/by-id/usb-Maker_Cable_A1-if00-port0";
        form->PortChosen(adapter);
        QCOMPARE(ReadTestFile(path("ComPorts.txt")),
                 QByteArray("COM3=/dev/serial/by-id/usb-Maker_Cable_A1-if00-port0\n"));
        QCOMPARE(form->Ui().PortDeviceLabel->toolTip(), adapter.stablePath);
        form->ReadButtonClick();
        QCOMPARE(port->openedDevices, QStringList{adapter.stablePath});
    }

    void trafficWindow_showsWhatWentOverTheLine()
    {
        auto form = makeForm();
        form->TrafficButtonClick();
        QVERIFY(form->Traffic());
        form->ReadButtonClick();
        port->Feed("SV1.0.5-UDP\r\n");
        const QString shown = form->Traffic()->Lines().join('\n');
        QVERIFY2(shown.contains("sv") && shown.contains("SV1.0.5-UDP"), qPrintable(shown));
        form->CancelButtonClick();
        QVERIFY(!form->Engine().Running());
    }

    void escape_cancelsTheRunningExchange_noBox_buttonsBack()
    {
        auto form = makeForm();
        form->ReadButtonClick();
        QVERIFY(form->Engine().Running());
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QVERIFY(!form->Engine().Running());
        QVERIFY(dialogs->boxes.isEmpty());
        QVERIFY(dialogs->plainErrors.isEmpty());
        QCOMPARE(form->LogLines().last(), QString("Read cancelled by the operator"));
        QVERIFY(!port->isOpen);
        QVERIFY(form->Ui().ReadButton->isEnabled());
    }

    void addressBoxes_showTheWholeNumberTheLineGave()
    {
        QVERIFY(WriteTestFile(path("long.txt"), "nc1234.5.6.70000\r\n"));
        auto form = makeForm();
        QVERIFY(form->LoadSettingsFile(path("long.txt")));
        MainFormUi &ui = form->Ui();
        QCOMPARE(ui.clientAddrEdits[0]->text(), QString("1234"));
        QCOMPARE(ui.clientAddrEdits[3]->text(), QString("70000"));
        QCOMPARE(form->ReadSettings().client[0], QString("1234"));
    }

    void writeWithInvalidSettings_logsFiveLines_thenThereAreErrors()
    {
        auto form = makeForm();
        form->WriteButtonClick();
        QCOMPARE(form->LogLines().mid(2),
                 (QStringList{"Invalid IP Address", "Invalid Gateway Address", "Invalid Submask",
                              "Invalid Client Address",
                              "Connect Timeout must be greater than Connect Update Period"}));
        QCOMPARE(dialogs->boxTexts(), QStringList{"There are errors"});
        QVERIFY(port->openedDevices.isEmpty());
    }
};

QTEST_MAIN(TestMainUnit)
#include "tst_mainunit.moc"
