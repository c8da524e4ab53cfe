#pragma once

#include "Dialogs.h"
#include "DownloadFlow.h"
#include "MacFlow.h"
#include "MainFormUi.h"
#include "SettingsFlow.h"
#include "link/ExchangeEngine.h"
#include "link/PortDiscovery.h"
#include "link/TrafficTrace.h"
#include "settings/FileLocations.h"
#include "webpages/PageFileList.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class QCloseEvent;
class TrafficView;
class QKeyEvent;

// How the program was started. The entry fills it from the command line; tests fill it to run
// the window beside their own files.
struct StartOptions
{
    // The program's path as given on the command line; its folder is ProgramFolder.
    QString programPath;
    // Where MAC numbers come from (the counter file); the window gives MAC addresses when it
    // exists.
    QString macCounterPath = DefaultMacCounterPath();
    // A MAC pool to take numbers from instead (a URL as the production tool takes it); the
    // window is then in MAC assignment mode whatever the counter file.
    QString macPoolUrl;
    // Shows the "Web Pages" tab, which the window otherwise keeps hidden.
    bool showWebPages = false;
    // Runs the 100 ms tick from a timer; tests that drive the tick themselves turn it off.
    bool runTimer = true;
    // Keeps the adapter list current while the program runs; tests that need no list turn it
    // off.
    bool watchPorts = true;
    // Where files are looked for; the running system's folders when not given (tests give
    // their own, so nothing of the machine's configuration leaks in). An empty program folder
    // is filled from `programPath`.
    std::optional<FileFolders> folders;

    static QString DefaultMacCounterPath();
};

// The one window: it holds every control (and so every setting of the unit) and the log, and
// wires its controls to the flows that do the work: SettingsFlow (read, write, settings files,
// change marks) and DownloadFlow (image and download). The protocol code sees the window only
// through the log and boxes and the chosen port; questions and file choices go through Dialogs.
// While an exchange or an image build runs, the four exchange buttons are disabled.
class TMainForm : public QWidget, public ExchangeLog, public PortChoice
{
    Q_OBJECT
public:
    // `port` may be null for the real serial port.
    TMainForm(const StartOptions &options, Dialogs &dialogs, std::unique_ptr<PortIo> port = nullptr,
              QWidget *parent = nullptr);
    ~TMainForm() override;

    // The folder of the program's path: the text up to the last separator, that separator
    // dropped unless it ends a drive root. A path without a folder falls back to the folder
    // the running executable lies in.
    static QString ProgramFolderFromPath(const QString &programPath);

    // Handlers, public so tests can press the buttons without a mouse.
    void ReadButtonClick();
    void WriteButtonClick();
    void SaveButtonClick();
    void LoadButtonClick();
    void ClearButtonClick();
    void ExitButtonClick();
    void HelpButtonClick();
    void DHCPEnabledxfCheckBoxClick();
    void ClientEnabledxfCheckBoxClick();
    void SerialTimeddxfCheckBoxClick();
    void SendNewMACButtonClick();
    void AddButtonClick();
    void RemoveButtonClick();
    void LoadPageListButtonClick();
    void SavePageListButtonClick();
    void DownloadButtonClick();
    void Timer1Timer();
    // Ends the running exchange or image build, or a wait for the MAC number source, at the
    // operator's wish (the Cancel button, Esc).
    void CancelButtonClick();
    // Opens the "Traffic" window.
    void TrafficButtonClick();
    // Makes the chosen COM number stand for the adapter the operator picked.
    void PortChosen(const SerialPortEntry &port);
    // Whether the window may close; asks about an unsaved page list.
    bool FormCloseQuery();

    using FieldMark = SettingsFlow::FieldMark;
    FieldMark MarkOf(SettingsField field) { return m_settings.MarkOf(field); }
    QList<QWidget *> FieldWidgets(SettingsField field) const
    {
        return m_settings.FieldWidgets(field);
    }
    bool LoadSettingsFile(const QString &path) { return m_settings.LoadSettingsFile(path); }
    SettingsSnapshot ReadSettings() { return m_settings.ReadSettings(); }
    // The log as lines, for tests and the help text.
    QStringList LogLines() const;

    MainFormUi &Ui() { return m_ui; }
    ExchangeEngine &Engine() { return m_engine; }
    SettingsFlow &Settings() { return m_settings; }
    ImageDownload &Download() { return m_downloadFlow.Download(); }
    WriteExchange &Write() { return m_settings.Write(); }
    TracingPortIo &Trace() { return *m_port; }
    // The "Traffic" window once opened, else null.
    TrafficView *Traffic() const { return m_trafficView; }
    ImageMaker &Builder() { return m_downloadFlow.Maker(); }
    // An exchange runs, an image is being built or the MAC number source is being asked.
    bool Busy() const
    {
        return m_engine.Running() || m_downloadFlow.Building() ||
               (m_macFlow && m_macFlow->Waiting());
    }
    const PageFileList &PageFiles() const { return m_pageFileList; }
    bool PageListChanged() const { return m_pageListChanged; }
    bool MacAssignmentModeOn() const { return m_macFlow != nullptr; }
    // The MAC flow in MAC assignment mode, else null.
    MacFlow *Mac() const { return m_macFlow.get(); }
    QString ProgramFolder() const { return m_programFolder; }

    // ExchangeLog
    void AppendLog(const QString &line) override;
    void ShowMessage(MessageKind kind, const QString &text) override;
    void ShowPortError(const QString &text) override;
    QString DateTimeText() override;
    // PortChoice
    int PortNumber() override;
    QString PortDevice(int number) override;
    // Where the default files, the port map and the builder are looked for.
    const FileFolders &Folders() const { return m_folders; }

protected:
    void closeEvent(QCloseEvent *event) override;
    // Esc cancels what runs, as the Cancel button does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate(const StartOptions &options);
    void ConnectHandlers();
    void LoadDefaultFiles();
    void DecideMacAssignmentMode();
    void RefreshFileListGrid();
    // Asks to save a changed page list; false when the operator cancelled or the save failed,
    // so the list is never lost.
    bool AskToSavePageList();
    // Saves the page list where the operator chooses; false when cancelled or failed.
    bool SavePageList();
    void OnExchangeFinished(const ExchangeResult &result);
    void UpdateExchangeButtons();
    bool StartExchange(Exchange &exchange);
    void UpdatePortDeviceLabel();

    Dialogs &m_dialogs;
    MainFormUi m_ui;
    // Every byte to and from the unit passes here; it costs nothing while no one listens.
    std::unique_ptr<TracingPortIo> m_port;
    ExchangeEngine m_engine;
    SettingsFlow m_settings;
    DownloadFlow m_downloadFlow;
    QTimer m_timer1;
    PortWatcher m_portWatcher;
    TrafficView *m_trafficView = nullptr;

    QString m_programFolder;
    FileFolders m_folders;
    QString m_macSourceSetting;
    QString m_macPoolUrl;
    std::unique_ptr<MacFlow> m_macFlow;
    PageFileList m_pageFileList;
    bool m_pageListChanged = false;
    Exchange *m_started = nullptr;
    QString m_shownPortText;
};
