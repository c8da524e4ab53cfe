#pragma once

#include "Dialogs.h"
#include "MacFlow.h"
#include "MainFormUi.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/SettingsStore.h"
#include "exchanges/WriteExchange.h"
#include "link/ExchangeEngine.h"
#include "link/PortDiscovery.h"
#include "link/TrafficTrace.h"
#include "settings/FileLocations.h"
#include "settings/SettingsCompare.h"
#include "webpages/ImageBuild.h"
#include "webpages/ImageDownload.h"
#include "webpages/PageFileList.h"

#include <QMap>
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

// The one window: it holds every control (and so every setting of the unit) and the log. The
// protocol code sees it only through the small interfaces it implements (log and boxes, the
// chosen port, the settings, the download's progress); questions and file choices go through
// Dialogs. While an exchange or an image build runs, the four exchange buttons are disabled.
class TMainForm : public QWidget,
                  public ExchangeLog,
                  public PortChoice,
                  public SettingsStore,
                  public DownloadView
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

    // How a field is marked: changed since the last read or write, or its echo did not match.
    enum class FieldMark
    {
        None,
        Edited,
        Mismatch
    };
    // Brings pending marks up to date first.
    FieldMark MarkOf(SettingsField field);
    // The controls that show a field.
    QList<QWidget *> FieldWidgets(SettingsField field) const;

    // Applies a settings file to the controls; false (nothing changed) when it cannot be read.
    bool LoadSettingsFile(const QString &path);
    // The log as lines, for tests and the help text.
    QStringList LogLines() const;

    MainFormUi &Ui() { return m_ui; }
    ExchangeEngine &Engine() { return m_engine; }
    ImageDownload &Download() { return m_download; }
    WriteExchange &Write() { return m_write; }
    TracingPortIo &Trace() { return *m_port; }
    // The "Traffic" window once opened, else null.
    TrafficView *Traffic() const { return m_trafficView; }
    ImageBuilder &Builder() { return m_builder; }
    // An exchange runs, an image is being built or the MAC number source is being asked.
    bool Busy() const
    {
        return m_engine.Running() || m_builder.Running() || (m_macFlow && m_macFlow->Waiting());
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
    // SettingsStore
    SettingsSnapshot ReadSettings() override;
    void ApplySettingsUpdate(const SettingsUpdate &update) override;
    // DownloadView
    void SetProgressVisible(bool visible) override;
    void SetProgress(int percent, qint64 bytesSent, qint64 total) override;
    void DownloadEnded() override;

    // Deletes the page copies and the image made for a download.
    void DeleteBuildFiles();
    // Where the page copies and the image are made.
    QString WorkFolder() const { return m_workFolder; }
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
    void OnImageBuilt(const ImageBuildResult &result);
    void OnExchangeFinished(const ExchangeResult &result);
    void UpdateExchangeButtons();
    bool StartExchange(Exchange &exchange);
    // Marks follow every change of a field's control.
    void ConnectChangeMarks();
    void RefreshChangeMarks();
    void ScheduleChangeMarks();
    void SetFieldMark(SettingsField field, FieldMark mark, const QString &toolTip = QString());
    void MarkWriteMismatches();
    void ShowImageSize(const QString &state);
    void UpdatePortDeviceLabel();
    TCSpinEdit *SpinFor(SpinId id) const;
    std::array<QLineEdit *, 4> AddressEdits(AddressGroup group) const;

    Dialogs &m_dialogs;
    MainFormUi m_ui;
    // Every byte to and from the unit passes here; it costs nothing while no one listens.
    std::unique_ptr<TracingPortIo> m_port;
    ExchangeEngine m_engine;
    ReadExchange m_read;
    WriteExchange m_write;
    ImageDownload m_download;
    ImageBuilder m_builder;
    QTimer m_timer1;
    PortWatcher m_portWatcher;
    TrafficView *m_trafficView = nullptr;
    // When the running download started, for the time left.
    qint64 m_downloadStartMs = 0;
    qint64 m_imageSize = -1;

    QString m_programFolder;
    FileFolders m_folders;
    // Where the running or last build made its files.
    QString m_workFolder;
    QString m_macSourceSetting;
    std::unique_ptr<MacFlow> m_macFlow;
    PageFileList m_pageFileList;
    bool m_pageListChanged = false;
    Exchange *m_started = nullptr;
    // The settings as the unit held them after the last read or successful write.
    std::optional<SettingsSnapshot> m_reference;
    QMap<SettingsField, FieldMark> m_marks;
    bool m_marksPending = false;
    // For a mismatch mark: the field's text when it was marked; an edit clears the mark.
    QMap<SettingsField, QString> m_mismatchText;
    QString m_shownPortText;
};
