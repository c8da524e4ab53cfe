#include "MainUnit.h"

#include "PortChooser.h"
#include "TrafficView.h"

#include "TolvexVersion.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumberSources.h"
#include "link/PortNames.h"
#include "link/QtSerialPortIo.h"
#include "pool/MacSourceFactory.h"
#include "settings/DateTimeText.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

namespace {

const QString kWebPageFilter = QStringLiteral("Web Page Files|*.htm;*.cgi");

const QString kHelpText = QStringLiteral(
    "Read From TOLVEX: reads every setting from the unit into the \"Data\" page.\n"
    "Write To TOLVEX: checks the settings, writes them to the unit and compares every answer; "
    "differences are listed in the log.\n"
    "Save File: saves the settings of the \"Data\" page to a text file.\n"
    "Load File: loads settings from a text file into the \"Data\" page.\n"
    "Use Comm Port: the COM port the unit is connected to.\n"
    "Clear: empties the log.\n"
    "Exit: closes the program.\n\n"
    "DefaultConfig.txt beside the program is loaded at start.");

// The port behind a tracing wrapper, unless the caller already gave one.
std::unique_ptr<TracingPortIo> WrapForTrace(std::unique_ptr<PortIo> port)
{
    if (auto *traced = dynamic_cast<TracingPortIo *>(port.get())) {
        port.release();
        return std::unique_ptr<TracingPortIo>(traced);
    }
    return std::make_unique<TracingPortIo>(std::move(port));
}

} // namespace

QString StartOptions::DefaultMacCounterPath()
{
    return ::DefaultMacCounterPath();
}

TMainForm::TMainForm(const StartOptions &options, Dialogs &dialogs, std::unique_ptr<PortIo> port,
                     QWidget *parent)
    : QWidget(parent), m_dialogs(dialogs),
      m_port(WrapForTrace(port ? std::move(port) : std::make_unique<QtSerialPortIo>())),
      m_engine(*m_port, *this, *this), m_settings(m_ui, dialogs, *this),
      m_downloadFlow(m_ui, dialogs, *this), m_macSourceSetting(options.macCounterPath),
      m_macPoolUrl(options.macPoolUrl)
{
    m_ui.SetupUi(this);
    ConnectHandlers();
    connect(&m_engine, &ExchangeEngine::RunningChanged, this, &TMainForm::UpdateExchangeButtons);
    connect(&m_downloadFlow, &DownloadFlow::BuildEnded, this, &TMainForm::UpdateExchangeButtons);
    connect(&m_downloadFlow, &DownloadFlow::ImageReady, this,
            [this] { StartExchange(m_downloadFlow.Download()); });
    connect(&m_engine, &ExchangeEngine::Finished, this, &TMainForm::OnExchangeFinished);
    m_settings.ConnectControls();
    connect(&m_portWatcher, &PortWatcher::PortsChanged, m_ui.PortChooserComboBox,
            &PortChooser::SetPorts);
    connect(m_ui.PortChooserComboBox, &PortChooser::ListOpening, &m_portWatcher,
            &PortWatcher::Refresh);
    connect(m_ui.PortChooserComboBox, &PortChooser::PortChosen, this, &TMainForm::PortChosen);
    if (options.watchPorts)
        m_portWatcher.Start();
    FormCreate(options);
    if (options.runTimer) {
        m_timer1.setInterval(ExchangeEngine::kTickMs);
        connect(&m_timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
        m_timer1.start();
    }
}

TMainForm::~TMainForm()
{
    // Hidden while whole: hiding moves the focus, and a control's focus-out handler (the port
    // number's) reaches into the window, which must not be half destroyed by then.
    hide();
    delete m_trafficView;
    // Whatever still runs ends here: a download tells the unit its transfer is over.
    m_engine.Cancel();
}

QString TMainForm::ProgramFolderFromPath(const QString &programPath)
{
#ifdef Q_OS_WIN
    int cut = -1;
    for (int i = int(programPath.size()) - 1; i >= 0; --i) {
        const QChar c = programPath.at(i);
        if (c == QLatin1Char('\\') || c == QLatin1Char('/') || c == QLatin1Char(':')) {
            cut = i;
            break;
        }
    }
#else
    const int cut = int(programPath.lastIndexOf(QLatin1Char('/')));
#endif
    if (cut < 0) {
        // Started through the search path: the folder is where the executable lies.
        return QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                            : QStringLiteral(".");
    }
    QString folder = programPath.left(cut + 1);
    const QChar last = folder.back();
    const bool isSeparator = last != QLatin1Char(':');
    const QChar before = folder.size() >= 2 ? folder.at(folder.size() - 2) : QChar();
    if (isSeparator && before != QLatin1Char(':') && before != QLatin1Char('\\'))
        folder.chop(1);
    return folder;
}

void TMainForm::ConnectHandlers()
{
    auto onClick = [this](QPushButton *button, void (TMainForm::*handler)()) {
        connect(button, &QPushButton::clicked, this, handler);
    };
    onClick(m_ui.ReadButton, &TMainForm::ReadButtonClick);
    onClick(m_ui.WriteButton, &TMainForm::WriteButtonClick);
    onClick(m_ui.SaveButton, &TMainForm::SaveButtonClick);
    onClick(m_ui.LoadButton, &TMainForm::LoadButtonClick);
    onClick(m_ui.ClearButton, &TMainForm::ClearButtonClick);
    onClick(m_ui.ExitButton, &TMainForm::ExitButtonClick);
    onClick(m_ui.HelpButton, &TMainForm::HelpButtonClick);
    onClick(m_ui.SendNewMACButton, &TMainForm::SendNewMACButtonClick);
    onClick(m_ui.AddButton, &TMainForm::AddButtonClick);
    onClick(m_ui.RemoveButton, &TMainForm::RemoveButtonClick);
    onClick(m_ui.LoadPageListButton, &TMainForm::LoadPageListButtonClick);
    onClick(m_ui.SavePageListButton, &TMainForm::SavePageListButtonClick);
    onClick(m_ui.DownloadButton, &TMainForm::DownloadButtonClick);
    onClick(m_ui.CancelButton, &TMainForm::CancelButtonClick);
    onClick(m_ui.CancelDownloadButton, &TMainForm::CancelButtonClick);
    onClick(m_ui.TrafficButton, &TMainForm::TrafficButtonClick);

    connect(m_ui.DHCPEnabledxfCheckBox, &TdxfCheckBox::OnClick, this,
            &TMainForm::DHCPEnabledxfCheckBoxClick);
    connect(m_ui.ClientEnabledxfCheckBox, &TdxfCheckBox::OnClick, this,
            &TMainForm::ClientEnabledxfCheckBoxClick);
    connect(m_ui.UseBroadcastdxfCheckBox, &TdxfCheckBox::OnClick, this,
            &TMainForm::ClientEnabledxfCheckBoxClick);
    connect(m_ui.SerialTimeddxfCheckBox, &TdxfCheckBox::OnClick, this,
            &TMainForm::SerialTimeddxfCheckBoxClick);
    connect(m_ui.SerialCRLFdxfCheckBox, &TdxfCheckBox::OnClick, this,
            &TMainForm::SerialTimeddxfCheckBoxClick);
    connect(m_ui.SerialPortCSpinEdit, &QAbstractSpinBox::editingFinished, this,
            &TMainForm::UpdatePortDeviceLabel);
}

void TMainForm::FormCreate(const StartOptions &options)
{
    m_ui.MainPageControl->setCurrentIndex(MainFormUi::GeneralPage);
    setWindowTitle(QStringLiteral("Tolvex Interface Version ") + QStringLiteral(TOLVEX_VERSION));
    m_programFolder = ProgramFolderFromPath(options.programPath);
    m_folders = SystemFileFolders(m_programFolder);
    if (options.folders) {
        m_folders = *options.folders;
        if (m_folders.program.isEmpty())
            m_folders.program = m_programFolder;
    }
    m_ui.FileListStringGrid->item(0, 0)->setText(QStringLiteral("Name"));
    m_ui.FileListStringGrid->item(0, 1)->setText(QStringLiteral("Location"));
    LoadDefaultFiles();
    m_pageListChanged = false;
    DecideMacAssignmentMode();
    if (options.showWebPages)
        m_ui.MainPageControl->setTabVisible(MainFormUi::WebPagesPage, true);
    UpdatePortDeviceLabel();
}

void TMainForm::LoadDefaultFiles()
{
    const QString config = FindDefaultFile(m_folders, kDefaultConfigFileName);
    if (!config.isEmpty()) {
        if (LoadSettingsFile(config))
            AppendLog(QStringLiteral("Default Data Loaded"));
    } else {
        AppendLog(QStringLiteral("DefaultConfig.txt") + QStringLiteral(" Not Found"));
    }

    const QString pageList = FindDefaultFile(m_folders, kDefaultPageListFileName);
    if (!pageList.isEmpty()) {
        QString error;
        if (LoadPageList(pageList, &m_pageFileList, &error)) {
            AppendLog(QStringLiteral("Default Web Page File List Loaded"));
            RefreshFileListGrid();
        } else {
            m_dialogs.Message(MessageKind::Error, error);
        }
    } else {
        AppendLog(QStringLiteral("DefaultFileList.txt") + QStringLiteral(" Not Found"));
    }
}

void TMainForm::DecideMacAssignmentMode()
{
    std::unique_ptr<MacNumberSource> source;
    if (!m_macPoolUrl.isEmpty()) {
        // Nothing is reached yet: a pool that cannot be reached says so at the boxes' filling.
        QString error;
        source = OpenMacNumberSource(m_macPoolUrl, &error);
        if (!source)
            m_dialogs.Message(MessageKind::Error, error);
    } else if (MacNumberSourcePresent(m_macSourceSetting)) {
        source = MakeMacNumberSource(m_macSourceSetting);
    }
    const bool on = source != nullptr;
    m_ui.NewMAC1Edit->setVisible(on);
    m_ui.NewMAC2Edit->setVisible(on);
    m_ui.SendNewMACButton->setVisible(on);
    if (!on)
        return;
    m_macFlow =
        std::make_unique<MacFlow>(std::move(source), m_dialogs, *this, m_settings,
                                  [this](Exchange &exchange) { return StartExchange(exchange); });
    connect(m_macFlow.get(), &MacFlow::WaitingChanged, this, &TMainForm::UpdateExchangeButtons);
    // The boxes show the source's next number once it answered; until then they stay empty.
    m_macFlow->LoadBoxes([this](const QString &box1, const QString &box2) {
        m_ui.NewMAC1Edit->setText(box1);
        m_ui.NewMAC2Edit->setText(box2);
    });
}

// ---- buttons of the "General" page ----

void TMainForm::ReadButtonClick()
{
    StartExchange(m_settings.Read());
}

bool TMainForm::StartExchange(Exchange &exchange)
{
    if (Busy())
        return false;
    m_started = &exchange;
    return m_engine.Start(exchange);
}

void TMainForm::CancelButtonClick()
{
    if (m_macFlow && m_macFlow->Waiting()) {
        m_macFlow->Cancel();
        return;
    }
    if (m_downloadFlow.Building()) {
        m_downloadFlow.CancelBuild();
        return;
    }
    m_engine.Cancel();
}

void TMainForm::WriteButtonClick()
{
    if (Busy())
        return;
    if (m_settings.PrepareWrite(MacAssignmentModeOn()))
        StartExchange(m_settings.Write());
}

void TMainForm::OnExchangeFinished(const ExchangeResult &result)
{
    Exchange *finished = m_started;
    if (m_engine.Running())
        return; // another exchange already started behind the closing box
    m_started = nullptr;
    if (m_macFlow && finished == &m_macFlow->Assignment())
        m_macFlow->ExchangeFinished(result);
    m_settings.ExchangeFinished(finished, result);
}

void TMainForm::UpdateExchangeButtons()
{
    const bool idle = !Busy();
    for (QPushButton *button :
         {m_ui.ReadButton, m_ui.WriteButton, m_ui.SendNewMACButton, m_ui.DownloadButton})
        button->setEnabled(idle);
    m_ui.CancelButton->setEnabled(!idle);
    m_ui.CancelDownloadButton->setEnabled(!idle);
}

void TMainForm::TrafficButtonClick()
{
    if (!m_trafficView)
        m_trafficView = new TrafficView(*m_port, m_dialogs);
    m_trafficView->show();
    m_trafficView->raise();
    m_trafficView->activateWindow();
}

void TMainForm::PortChosen(const SerialPortEntry &port)
{
    const int shown = m_ui.SerialPortCSpinEdit->Value();
    // 255 stands for COM1, as everywhere else.
    const int number = shown >= 1 && shown <= 254 ? shown : 1;
    QString error;
    const QString folder = PreparePortMapFolder(m_folders, &error);
    if (folder.isEmpty() || !SetComPortDevice(JoinPath(folder, kPortMapFileName), number,
                                              port.PreferredPath(), &error)) {
        ShowMessage(MessageKind::Error, error);
        return;
    }
    AppendLog(QStringLiteral("COM%1 now stands for %2").arg(number).arg(port.PreferredPath()));
    UpdatePortDeviceLabel();
}

void TMainForm::SaveButtonClick()
{
    m_settings.SaveToFile();
}

void TMainForm::LoadButtonClick()
{
    m_settings.LoadFromFile();
}

void TMainForm::ClearButtonClick()
{
    m_ui.LogMemo->clear();
}

void TMainForm::ExitButtonClick()
{
    close();
}

void TMainForm::HelpButtonClick()
{
    m_dialogs.Help(windowTitle(), kHelpText);
}

// ---- enable rules ----

void TMainForm::DHCPEnabledxfCheckBoxClick()
{
    const bool manual = !m_ui.DHCPEnabledxfCheckBox->Checked();
    for (const auto &row : {m_ui.ipAddrEdits, m_ui.gateWayAddrEdits, m_ui.subMaskAddrEdits})
        for (QLineEdit *edit : row)
            edit->setEnabled(manual);
}

void TMainForm::ClientEnabledxfCheckBoxClick()
{
    const bool client = m_ui.ClientEnabledxfCheckBox->Checked();
    m_ui.UseBroadcastdxfCheckBox->setEnabled(client);
    const bool target = client && !m_ui.UseBroadcastdxfCheckBox->Checked();
    for (QLineEdit *edit : m_ui.clientAddrEdits)
        edit->setEnabled(target);
}

void TMainForm::SerialTimeddxfCheckBoxClick()
{
    m_ui.SerialTimedCSpinEdit->setEnabled(m_ui.SerialTimeddxfCheckBox->Checked());
}

// ---- MAC assignment ----

void TMainForm::SendNewMACButtonClick()
{
    if (Busy() || !m_macFlow)
        return;
    m_macFlow->Send(m_ui.NewMAC1Edit->text(), m_ui.NewMAC2Edit->text());
}

// ---- web pages ----

void TMainForm::RefreshFileListGrid()
{
    QTableWidget *grid = m_ui.FileListStringGrid;
    grid->setRowCount(m_pageFileList.Count() + 1);
    for (int i = 0; i < m_pageFileList.Count(); ++i) {
        const PagePathParts parts = SplitPagePath(m_pageFileList.At(i));
        for (int column = 0; column < 2; ++column) {
            QTableWidgetItem *item = grid->item(i + 1, column);
            if (!item) {
                item = new QTableWidgetItem;
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                grid->setItem(i + 1, column, item);
            }
            item->setText(column == 0 ? parts.name : parts.location);
        }
    }
}

void TMainForm::AddButtonClick()
{
    const QStringList files = m_dialogs.OpenFileNames(kWebPageFilter);
    if (files.isEmpty())
        return;
    for (const QString &file : files)
        m_pageFileList.Add(file);
    RefreshFileListGrid();
    m_pageListChanged = true;
}

void TMainForm::RemoveButtonClick()
{
    QTableWidget *grid = m_ui.FileListStringGrid;
    QList<PagePathParts> rows;
    for (const QTableWidgetSelectionRange &range : grid->selectedRanges()) {
        for (int row = qMax(1, range.topRow()); row <= range.bottomRow(); ++row) {
            const QTableWidgetItem *name = grid->item(row, 0);
            const QTableWidgetItem *location = grid->item(row, 1);
            rows.append({location ? location->text() : QString(), name ? name->text() : QString()});
        }
    }
    RemovePageRows(&m_pageFileList, rows);
    RefreshFileListGrid();
    m_pageListChanged = true;
}

bool TMainForm::AskToSavePageList()
{
    if (!m_pageListChanged)
        return true;
    switch (m_dialogs.AskYesNoCancel(
        QStringLiteral("The Web Page File List has changed\nDo you want to save the new list?"))) {
    case Dialogs::Answer::Cancel:
        return false;
    case Dialogs::Answer::Yes:
        return SavePageList();
    case Dialogs::Answer::No:
        return true;
    }
    return true;
}

void TMainForm::LoadPageListButtonClick()
{
    if (!AskToSavePageList())
        return;
    const QString path = m_dialogs.OpenFileName(QString());
    if (path.isEmpty())
        return;
    QString error;
    if (!LoadPageList(path, &m_pageFileList, &error)) {
        m_dialogs.Message(MessageKind::Error, error);
        return;
    }
    RefreshFileListGrid();
    m_pageListChanged = false;
}

void TMainForm::SavePageListButtonClick()
{
    SavePageList();
}

bool TMainForm::SavePageList()
{
    const QString path = m_dialogs.SaveFileName(QString());
    if (path.isEmpty())
        return false;
    QString error;
    if (!::SavePageList(path, m_pageFileList, &error)) {
        m_dialogs.Message(MessageKind::Error, error);
        return false;
    }
    return true;
}

void TMainForm::DownloadButtonClick()
{
    if (Busy())
        return;
    // The builder runs in its own process; the window stays usable and repaints meanwhile.
    m_downloadFlow.Start(m_folders, m_pageFileList);
    UpdateExchangeButtons();
}

// ---- tick and closing ----

void TMainForm::Timer1Timer()
{
    m_engine.Tick();
    if (m_ui.SerialPortCSpinEdit->text() != m_shownPortText)
        UpdatePortDeviceLabel();
}

void TMainForm::UpdatePortDeviceLabel()
{
    m_shownPortText = m_ui.SerialPortCSpinEdit->text();
    const std::optional<int> number = TCSpinEdit::ParseWholeNumber(m_shownPortText);
    const int clamped = qBound(1, number.value_or(1), 255);
    const QString device = PortDevice(clamped);
    // A long device path is shortened in the middle; the whole path is in the tool tip.
    const QFontMetrics metrics(m_ui.PortDeviceLabel->font());
    m_ui.PortDeviceLabel->setText(
        metrics.elidedText(QStringLiteral("= ") + device, Qt::ElideMiddle, 170));
    m_ui.PortDeviceLabel->setToolTip(device);
    m_ui.PortDeviceLabel->setAccessibleDescription(device);
    m_ui.PortChooserComboBox->SelectPath(device);
}

bool TMainForm::FormCloseQuery()
{
    // The MAC counter is not written here: every number sent moved it on already, and boxes
    // typed but never sent give nobody a number.
    return AskToSavePageList();
}

void TMainForm::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && Busy()) {
        CancelButtonClick();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (FormCloseQuery()) {
        m_engine.Cancel();
        m_downloadFlow.CancelBuild();
        event->accept();
    } else {
        event->ignore();
    }
}

QStringList TMainForm::LogLines() const
{
    const QString text = m_ui.LogMemo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// ---- what the exchanges see of the window ----

void TMainForm::AppendLog(const QString &line)
{
    QString text = line;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_ui.LogMemo->appendPlainText(text);
}

void TMainForm::ShowMessage(MessageKind kind, const QString &text)
{
    m_dialogs.Message(kind, text);
}

void TMainForm::ShowPortError(const QString &text)
{
    m_dialogs.PlainError(text);
}

QString TMainForm::DateTimeText()
{
    return LocalDateTimeText(QDateTime::currentDateTime());
}

int TMainForm::PortNumber()
{
    return m_ui.SerialPortCSpinEdit->Value();
}

QString TMainForm::PortDevice(int number)
{
    return ResolvePortDeviceWithMap(ComPortName(number),
                                    FindDefaultFile(m_folders, kPortMapFileName));
}
