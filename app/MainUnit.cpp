#include "MainUnit.h"

#include "PortChooser.h"
#include "TrafficView.h"

#include "TolvexVersion.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumberSources.h"
#include "link/PortNames.h"
#include "link/QtSerialPortIo.h"
#include "settings/DateTimeText.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLines.h"
#include "webpages/ImageBuild.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"
#include "widgets/TdxfProgressBar.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

namespace {

const QString kConfigFilter = QStringLiteral("Config Files|*.txt");
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

QString GroupedNumber(qint64 value)
{
    return QLocale(QLocale::English).toString(value);
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
      m_engine(*m_port, *this, *this), m_read(*this), m_write(*this), m_download(*this),
      m_macSourceSetting(options.macCounterPath)
{
    m_ui.SetupUi(this);
    ConnectHandlers();
    connect(&m_engine, &ExchangeEngine::RunningChanged, this, &TMainForm::UpdateExchangeButtons);
    connect(&m_builder, &ImageBuilder::Finished, this, &TMainForm::OnImageBuilt);
    connect(&m_engine, &ExchangeEngine::Finished, this, &TMainForm::OnExchangeFinished);
    ConnectChangeMarks();
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
    const bool on = MacNumberSourcePresent(m_macSourceSetting);
    m_ui.NewMAC1Edit->setVisible(on);
    m_ui.NewMAC2Edit->setVisible(on);
    m_ui.SendNewMACButton->setVisible(on);
    if (!on)
        return;
    m_macFlow =
        std::make_unique<MacFlow>(MakeMacNumberSource(m_macSourceSetting), m_dialogs, *this, *this,
                                  [this](Exchange &exchange) { return StartExchange(exchange); });
    connect(m_macFlow.get(), &MacFlow::WaitingChanged, this, &TMainForm::UpdateExchangeButtons);
    // The boxes show the source's next number once it answered; until then they stay empty.
    m_macFlow->LoadBoxes([this](const QString &box1, const QString &box2) {
        m_ui.NewMAC1Edit->setText(box1);
        m_ui.NewMAC2Edit->setText(box2);
    });
}

bool TMainForm::LoadSettingsFile(const QString &path)
{
    // A queue of its own: loading a file never disturbs an exchange that is sending.
    CommandQueue lines;
    QList<SettingsUpdate> updates;
    QString error;
    if (!::LoadSettingsFile(path, lines, &updates, &error)) {
        m_dialogs.Message(MessageKind::Error, error);
        return false;
    }
    for (const SettingsUpdate &update : updates)
        ApplySettingsUpdate(update);
    return true;
}

// ---- buttons of the "General" page ----

void TMainForm::ReadButtonClick()
{
    StartExchange(m_read);
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
    if (m_builder.Running()) {
        m_builder.Cancel();
        return;
    }
    m_engine.Cancel();
}

void TMainForm::WriteButtonClick()
{
    if (Busy())
        return;
    const QStringList failures = WriteExchange::Validate(ReadSettings());
    for (const QString &line : failures)
        AppendLog(line);
    if (!failures.isEmpty()) {
        ShowMessage(MessageKind::Error, QStringLiteral("There are errors"));
        return;
    }
    AppendLog(QStringLiteral("Data Checked - OK"));
    if (m_reference) {
        for (const SettingsDifference &difference : CompareSettings(*m_reference, ReadSettings()))
            AppendLog(difference.Text());
    }
    m_write.SetSendAllLines(MacAssignmentModeOn());
    StartExchange(m_write);
}

void TMainForm::OnExchangeFinished(const ExchangeResult &result)
{
    Exchange *finished = m_started;
    if (m_engine.Running())
        return; // another exchange already started behind the closing box
    m_started = nullptr;
    const bool read =
        finished == &m_read && (result.outcome == ExchangeResult::Outcome::Succeeded ||
                                result.outcome == ExchangeResult::Outcome::Incomplete);
    // A write that ran through all its lines leaves the unit holding them, but for the
    // mismatches, which are marked red.
    const bool written = finished == &m_write &&
                         (result.Succeeded() || result.error == ExchangeError::WriteMismatch);
    if (m_macFlow && finished == &m_macFlow->Assignment())
        m_macFlow->ExchangeFinished(result);
    if (read || written) {
        m_reference = ReadSettings();
        m_mismatchText.clear();
        RefreshChangeMarks();
        if (written)
            MarkWriteMismatches();
    }
}

QList<QWidget *> TMainForm::FieldWidgets(SettingsField field) const
{
    auto edits = [](const std::array<QLineEdit *, 4> &row) {
        return QList<QWidget *>{row[0], row[1], row[2], row[3]};
    };
    switch (field) {
    case SettingsField::IpAddress:
        return edits(m_ui.ipAddrEdits);
    case SettingsField::GatewayAddress:
        return edits(m_ui.gateWayAddrEdits);
    case SettingsField::Submask:
        return edits(m_ui.subMaskAddrEdits);
    case SettingsField::TargetAddress:
        return edits(m_ui.clientAddrEdits);
    case SettingsField::Dhcp:
        return {m_ui.DHCPEnabledxfCheckBox};
    case SettingsField::EnableClient:
        return {m_ui.ClientEnabledxfCheckBox};
    case SettingsField::UseBroadcast:
        return {m_ui.UseBroadcastdxfCheckBox};
    case SettingsField::Hysteresis1:
    case SettingsField::Hysteresis2:
    case SettingsField::Hysteresis3:
    case SettingsField::Hysteresis4:
        return {m_ui.hysteresisCSpinEdits[size_t(int(field) - int(SettingsField::Hysteresis1))]};
    case SettingsField::BaudRate:
        return {m_ui.BaudRateComboBox};
    case SettingsField::SerialCrlf:
        return {m_ui.SerialCRLFdxfCheckBox};
    case SettingsField::SerialTimed:
        return {m_ui.SerialTimeddxfCheckBox};
    case SettingsField::SerialTimedInterval:
        return {m_ui.SerialTimedCSpinEdit};
    case SettingsField::UpdatePeriod:
        return {m_ui.UpdatePeriodCSpinEdit};
    case SettingsField::PortNumber:
        return {m_ui.ClientPortCSpinEdit};
    case SettingsField::Timeout:
        return {m_ui.ServerTimeoutCSpinEdit};
    case SettingsField::EnableWatchdog:
        return {m_ui.EnableWatchdogdxfCheckBox};
    }
    return {};
}

void TMainForm::ConnectChangeMarks()
{
    for (SettingsField field : AllSettingsFields()) {
        for (QWidget *widget : FieldWidgets(field)) {
            if (auto *edit = qobject_cast<QLineEdit *>(widget))
                connect(edit, &QLineEdit::textChanged, this, &TMainForm::ScheduleChangeMarks);
            else if (auto *box = qobject_cast<QAbstractButton *>(widget))
                connect(box, &QAbstractButton::toggled, this, &TMainForm::ScheduleChangeMarks);
            else if (auto *combo = qobject_cast<QComboBox *>(widget))
                connect(combo, &QComboBox::currentIndexChanged, this,
                        &TMainForm::ScheduleChangeMarks);
            else if (auto *inner = widget->findChild<QLineEdit *>()) // a spin edit's text
                connect(inner, &QLineEdit::textChanged, this, &TMainForm::ScheduleChangeMarks);
        }
    }
}

void TMainForm::ScheduleChangeMarks()
{
    // A read changes many controls in a row; the marks are worked out once, when it settles.
    if (!m_marksPending) {
        m_marksPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_marksPending)
                    RefreshChangeMarks();
            },
            Qt::QueuedConnection);
    }
}

TMainForm::FieldMark TMainForm::MarkOf(SettingsField field)
{
    if (m_marksPending)
        RefreshChangeMarks();
    return m_marks.value(field, FieldMark::None);
}

void TMainForm::SetFieldMark(SettingsField field, FieldMark mark, const QString &toolTip)
{
    if (m_marks.value(field, FieldMark::None) == mark && mark != FieldMark::Mismatch)
        return;
    m_marks.insert(field, mark);
    for (QWidget *widget : FieldWidgets(field)) {
        switch (mark) {
        case FieldMark::None:
            widget->setStyleSheet(QString());
            widget->setToolTip(QString());
            break;
        case FieldMark::Edited:
            widget->setStyleSheet(QStringLiteral("background-color: #fff1a8;"));
            widget->setToolTip(QStringLiteral("Changed since the last read"));
            break;
        case FieldMark::Mismatch:
            widget->setStyleSheet(QStringLiteral("background-color: #f6b3b3; color: #7a0000;"));
            widget->setToolTip(toolTip);
            break;
        }
    }
}

void TMainForm::RefreshChangeMarks()
{
    m_marksPending = false;
    const SettingsSnapshot now = ReadSettings();
    for (SettingsField field : AllSettingsFields()) {
        const QString text = SettingsFieldText(now, field);
        if (m_mismatchText.contains(field)) {
            if (m_mismatchText.value(field) == text)
                continue; // marked red until edited or read again
            m_mismatchText.remove(field);
        }
        const bool edited = m_reference && SettingsFieldText(*m_reference, field) != text;
        SetFieldMark(field, edited ? FieldMark::Edited : FieldMark::None);
    }
}

void TMainForm::MarkWriteMismatches()
{
    const SettingsSnapshot now = ReadSettings();
    for (const WriteExchange::Mismatch &mismatch : m_write.Mismatches()) {
        const QString code = mismatch.line.left(
            mismatch.line.startsWith(QLatin1String("ax"), Qt::CaseInsensitive) ? 3 : 2);
        for (SettingsField field : FieldsOfLineCode(code)) {
            // The options line holds five switches: mark those its messages name.
            if (code.compare(QLatin1String("eo"), Qt::CaseInsensitive) == 0) {
                const QString name = field == SettingsField::SerialTimed
                                         ? QStringLiteral("Serial Port Timed")
                                         : SettingsFieldName(field);
                bool named = false;
                for (const QString &message : mismatch.messages)
                    named = named || message.startsWith(name);
                if (!named)
                    continue;
            }
            m_mismatchText.insert(field, SettingsFieldText(now, field));
            SetFieldMark(field, FieldMark::Mismatch,
                         QStringLiteral("TOLVEX answered: ") + mismatch.answer);
        }
    }
}

void TMainForm::UpdateExchangeButtons()
{
    const bool idle = !Busy();
    for (QPushButton *button :
         {m_ui.ReadButton, m_ui.WriteButton, m_ui.SendNewMACButton, m_ui.DownloadButton})
        button->setEnabled(idle);
    m_ui.CancelButton->setEnabled(!idle);
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

void TMainForm::ShowImageSize(const QString &state)
{
    if (m_imageSize < 0) {
        m_ui.ImageSizeLabel->clear();
        return;
    }
    QString text = QStringLiteral("Image: %1 of %2 bytes")
                       .arg(GroupedNumber(m_imageSize), GroupedNumber(kMaxImageSize));
    if (!state.isEmpty())
        text += QStringLiteral("\n") + state;
    m_ui.ImageSizeLabel->setText(text);
}

void TMainForm::SaveButtonClick()
{
    const QString path = m_dialogs.SaveFileName(kConfigFilter);
    if (path.isEmpty())
        return;
    CommandQueue lines;
    BuildSettingsLines(ReadSettings(), true, lines);
    QString error;
    if (!SaveSettingsFile(path, lines, &error))
        m_dialogs.Message(MessageKind::Error, error);
}

void TMainForm::LoadButtonClick()
{
    const QString path = m_dialogs.OpenFileName(kConfigFilter);
    if (path.isEmpty())
        return;
    LoadSettingsFile(path);
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
    for (AddressGroup group : {AddressGroup::Ip, AddressGroup::Gateway, AddressGroup::Submask})
        for (QLineEdit *edit : AddressEdits(group))
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
    QString folderError;
    const QString workFolder = PrepareWorkFolder(m_folders, &folderError);
    if (workFolder.isEmpty()) {
        m_dialogs.Message(MessageKind::Error, folderError);
        AppendLog(QStringLiteral("Unable to create Temp Folder: ") + folderError);
        return;
    }
    m_workFolder = workFolder;
    QStringList logLines;
    const bool copied = CopyPagesToTempFolder(WorkFolder(), m_pageFileList, &logLines);
    for (const QString &line : logLines)
        AppendLog(line);
    if (!copied) {
        m_dialogs.Message(MessageKind::Error, QStringLiteral("Error Copying Files"));
        return;
    }
    // The builder runs in its own process; the window stays usable and repaints meanwhile.
    m_builder.Start(FindBuilder(m_folders), WorkFolder(), m_pageFileList);
    UpdateExchangeButtons();
}

void TMainForm::OnImageBuilt(const ImageBuildResult &result)
{
    UpdateExchangeButtons();
    if (!result.ok) {
        m_dialogs.Message(MessageKind::Error, result.boxText);
        AppendLog(result.logLine);
        return;
    }
    QByteArray image;
    QString logLine;
    if (!LoadImageFile(BuilderOutputPath(WorkFolder()), &image, &logLine)) {
        DeleteBuildFiles();
        m_dialogs.Message(MessageKind::Error, QStringLiteral("Cannot open file\nError 3"));
        AppendLog(logLine);
        return;
    }
    m_download.SetImage(image);
    m_imageSize = image.size();
    ShowImageSize(QString());
    m_downloadStartMs = QDateTime::currentMSecsSinceEpoch();
    StartExchange(m_download);
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
        m_builder.Cancel();
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

TCSpinEdit *TMainForm::SpinFor(SpinId id) const
{
    switch (id) {
    case SpinId::Hysteresis1:
    case SpinId::Hysteresis2:
    case SpinId::Hysteresis3:
    case SpinId::Hysteresis4:
        return m_ui.hysteresisCSpinEdits[size_t(int(id) - int(SpinId::Hysteresis1))];
    case SpinId::ClientPort:
        return m_ui.ClientPortCSpinEdit;
    case SpinId::ServerTimeout:
        return m_ui.ServerTimeoutCSpinEdit;
    case SpinId::UpdatePeriod:
        return m_ui.UpdatePeriodCSpinEdit;
    case SpinId::SerialTimed:
        return m_ui.SerialTimedCSpinEdit;
    }
    return m_ui.ClientPortCSpinEdit;
}

std::array<QLineEdit *, 4> TMainForm::AddressEdits(AddressGroup group) const
{
    switch (group) {
    case AddressGroup::Ip:
        return m_ui.ipAddrEdits;
    case AddressGroup::Gateway:
        return m_ui.gateWayAddrEdits;
    case AddressGroup::Submask:
        return m_ui.subMaskAddrEdits;
    case AddressGroup::Client:
        return m_ui.clientAddrEdits;
    }
    return m_ui.ipAddrEdits;
}

SettingsSnapshot TMainForm::ReadSettings()
{
    SettingsSnapshot s;
    for (AddressGroup group :
         {AddressGroup::Ip, AddressGroup::Gateway, AddressGroup::Submask, AddressGroup::Client}) {
        const std::array<QLineEdit *, 4> edits = AddressEdits(group);
        for (size_t k = 0; k < 4; ++k)
            s.address(group)[k] = edits[k]->text();
    }
    for (size_t k = 0; k < 4; ++k)
        s.hysteresis[k] = m_ui.hysteresisCSpinEdits[k]->Value();
    s.clientPort = m_ui.ClientPortCSpinEdit->Value();
    s.serverTimeout = m_ui.ServerTimeoutCSpinEdit->Value();
    s.updatePeriod = m_ui.UpdatePeriodCSpinEdit->Value();
    s.serialTimedInterval = m_ui.SerialTimedCSpinEdit->Value();
    s.baudIndex = m_ui.BaudRateComboBox->currentIndex();
    s.dhcpEnabled = m_ui.DHCPEnabledxfCheckBox->Checked();
    s.useBroadcast = m_ui.UseBroadcastdxfCheckBox->Checked();
    s.clientEnabled = m_ui.ClientEnabledxfCheckBox->Checked();
    s.serialTimed = m_ui.SerialTimeddxfCheckBox->Checked();
    s.serialCrlf = m_ui.SerialCRLFdxfCheckBox->Checked();
    s.enableWatchdog = m_ui.EnableWatchdogdxfCheckBox->Checked();
    s.macAddress = m_ui.MACAddressEdit->text();
    return s;
}

void TMainForm::ApplySettingsUpdate(const SettingsUpdate &update)
{
    switch (update.kind) {
    case SettingsUpdate::Kind::None:
        break;
    case SettingsUpdate::Kind::Spin:
        SpinFor(update.spin)->SetValue(update.value);
        break;
    case SettingsUpdate::Kind::Baud:
        m_ui.BaudRateComboBox->setCurrentIndex(update.baudIndex);
        break;
    case SettingsUpdate::Kind::Options:
        m_ui.DHCPEnabledxfCheckBox->SetChecked(update.dhcpEnabled);
        m_ui.UseBroadcastdxfCheckBox->SetChecked(update.useBroadcast);
        m_ui.ClientEnabledxfCheckBox->SetChecked(update.clientEnabled);
        if (update.timed)
            m_ui.SerialTimeddxfCheckBox->SetChecked(true);
        else
            m_ui.SerialCRLFdxfCheckBox->SetChecked(true);
        m_ui.EnableWatchdogdxfCheckBox->SetChecked(update.enableWatchdog);
        break;
    case SettingsUpdate::Kind::Mac:
        m_ui.MACAddressEdit->setText(update.macText);
        break;
    case SettingsUpdate::Kind::Address: {
        const std::array<QLineEdit *, 4> edits = AddressEdits(update.group);
        for (size_t k = 0; k < 4; ++k) {
            // The box shows the whole number the unit holds, even past the length an operator
            // may type; otherwise the next write would send a cut value.
            const QString text = QString::number(update.dotted[k]);
            if (text.size() > edits[k]->maxLength())
                edits[k]->setMaxLength(int(text.size()));
            edits[k]->setText(text);
        }
        break;
    }
    }
}

void TMainForm::SetProgressVisible(bool visible)
{
    m_ui.ProgressLabel->setVisible(visible);
    m_ui.WebPagedxfProgressBar->setVisible(visible);
}

void TMainForm::SetProgress(int percent, qint64 bytesSent, qint64 total)
{
    m_ui.WebPagedxfProgressBar->SetPosition(percent);
    // The time left from the pace so far; none before the pace is known.
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_downloadStartMs;
    QString state =
        QStringLiteral("Sent %1 of %2 bytes").arg(GroupedNumber(bytesSent), GroupedNumber(total));
    if (bytesSent > 0 && bytesSent < total && elapsed > 0) {
        const qint64 leftMs = elapsed * (total - bytesSent) / bytesSent;
        state += QStringLiteral(", about %1 s left").arg((leftMs + 999) / 1000);
    }
    ShowImageSize(state);
}

void TMainForm::DownloadEnded()
{
    DeleteBuildFiles();
    const qint64 sent = m_download.BytesAcknowledged();
    ShowImageSize(sent >= m_imageSize
                      ? QStringLiteral("Downloaded")
                      : QStringLiteral("Stopped after %1 bytes").arg(GroupedNumber(sent)));
}

void TMainForm::DeleteBuildFiles()
{
    if (WorkFolder().isEmpty())
        return;
    ::DeleteBuildFiles(WorkFolder(), m_pageFileList);
}
