#include "app/MainFormUi.h"

#include "app/PortChooser.h"

#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"
#include "widgets/TdxfProgressBar.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <initializer_list>

namespace {

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    return button;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QGroupBox *makeGroup(QWidget *parent, const char *name, const QString &caption)
{
    auto *group = new QGroupBox(caption, parent);
    group->setObjectName(QLatin1String(name));
    group->setAccessibleName(caption);
    return group;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &accessibleName)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessibleName);
    return edit;
}

TdxfCheckBox *makeCheckBox(QWidget *parent, const char *name, const QString &caption, bool checked,
                           int groupIndex = 0)
{
    auto *box = new TdxfCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->SetGroupIndex(groupIndex);
    box->SetAllowAllUp(true);
    box->SetChecked(checked);
    return box;
}

TCSpinEdit *makeSpinEdit(QWidget *parent, const char *name, const QString &accessibleName,
                         int minValue, int maxValue, int value, int increment = 1)
{
    auto *spin = new TCSpinEdit(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setAccessibleName(accessibleName);
    spin->SetMinValue(minValue);
    spin->SetMaxValue(maxValue);
    spin->SetIncrement(increment);
    spin->SetValue(value);
    return spin;
}

// Four edits of one dotted address: accessible names "<caption> 1" to "<caption> 4", narrow
// enough for three digits.
std::array<QLineEdit *, 4> makeAddressEdits(QWidget *parent, const char *prefix,
                                            const QString &caption, int maxLength)
{
    std::array<QLineEdit *, 4> edits{};
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = QByteArray(prefix) + QByteArray::number(i + 1) + "Edit";
        QLineEdit *edit =
            makeEdit(parent, name.constData(), caption + QLatin1Char(' ') + QString::number(i + 1));
        if (maxLength > 0)
            edit->setMaxLength(maxLength);
        const int width = edit->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12;
        edit->setFixedWidth(width);
        edits[size_t(i)] = edit;
    }
    return edits;
}

void addAddressRow(QGridLayout *grid, int row, QLabel *label,
                   const std::array<QLineEdit *, 4> &edits)
{
    grid->addWidget(label, row, 0);
    for (int i = 0; i < 4; ++i)
        grid->addWidget(edits[size_t(i)], row, i + 1);
    grid->setColumnStretch(5, 1);
    label->setBuddy(edits[0]);
}

// Gives the labels one common width so the address rows of separate groups line up.
void alignLabels(std::initializer_list<QLabel *> labels)
{
    int width = 0;
    for (QLabel *label : labels)
        width = qMax(width, label->sizeHint().width());
    for (QLabel *label : labels)
        label->setMinimumWidth(width);
}

void chainTabOrder(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

} // namespace

void MainFormUi::SetupUi(QWidget *form)
{
    if (form->objectName().isEmpty())
        form->setObjectName(QStringLiteral("MainForm"));

    MainPageControl = new QTabWidget(form);
    MainPageControl->setObjectName(QStringLiteral("MainPageControl"));
    MainPageControl->setDocumentMode(true);

    IntroTabSheet = new QWidget;
    IntroTabSheet->setObjectName(QStringLiteral("IntroTabSheet"));
    SetupTabSheet = new QWidget;
    SetupTabSheet->setObjectName(QStringLiteral("SetupTabSheet"));
    ClientTabSheet = new QWidget;
    ClientTabSheet->setObjectName(QStringLiteral("ClientTabSheet"));
    WebPagesTabSheet = new QWidget;
    WebPagesTabSheet->setObjectName(QStringLiteral("WebPagesTabSheet"));
    MainPageControl->addTab(IntroTabSheet, QStringLiteral("General"));
    MainPageControl->addTab(SetupTabSheet, QStringLiteral("Data"));
    MainPageControl->addTab(ClientTabSheet, QStringLiteral("Analogue"));
    MainPageControl->addTab(WebPagesTabSheet, QStringLiteral("Web Pages"));

    setupGeneralPage();
    setupDataPage();
    setupWebPagesPage();
    setupTabOrder();

    MainPageControl->setTabVisible(AnaloguePage, false);
    MainPageControl->setTabVisible(WebPagesPage, false);
    MainPageControl->setCurrentIndex(GeneralPage);

    if (auto *mainWindow = qobject_cast<QMainWindow *>(form)) {
        mainWindow->setCentralWidget(MainPageControl);
    } else {
        auto *formLayout = new QVBoxLayout(form);
        formLayout->setContentsMargins(0, 0, 0, 0);
        formLayout->addWidget(MainPageControl);
    }

    form->resize(696, 480);
    QScreen *screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame(QPoint(0, 0), form->size());
        frame.moveCenter(screen->availableGeometry().center());
        form->move(frame.topLeft());
    }
}

void MainFormUi::setupGeneralPage()
{
    QWidget *page = IntroTabSheet;

    ExchangeButtonsGroupBox = makeGroup(page, "ExchangeButtonsGroupBox",
                                        QStringLiteral("Server E-Mail and Client Options"));
    ReadButton =
        makeButton(ExchangeButtonsGroupBox, "ReadButton", QStringLiteral("Read From TOLVEX"));
    WriteButton =
        makeButton(ExchangeButtonsGroupBox, "WriteButton", QStringLiteral("Write To TOLVEX"));
    SaveButton = makeButton(ExchangeButtonsGroupBox, "SaveButton", QStringLiteral("Save File"));
    LoadButton = makeButton(ExchangeButtonsGroupBox, "LoadButton", QStringLiteral("Load File"));
    CancelButton = makeButton(ExchangeButtonsGroupBox, "CancelButton", QStringLiteral("Cancel"));
    CancelButton->setEnabled(false);
    auto *buttonsLayout = new QVBoxLayout(ExchangeButtonsGroupBox);
    for (QPushButton *button : {ReadButton, WriteButton, SaveButton, LoadButton, CancelButton})
        buttonsLayout->addWidget(button);

    SerialPortLabel = makeLabel(page, "SerialPortLabel", QStringLiteral("Use Comm Port"));
    SerialPortCSpinEdit =
        makeSpinEdit(page, "SerialPortCSpinEdit", QStringLiteral("Use Comm Port"), 1, 255, 1);
    SerialPortLabel->setBuddy(SerialPortCSpinEdit);
    PortDeviceLabel = makeLabel(page, "PortDeviceLabel", QString());
    PortDeviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(SerialPortLabel);
    portRow->addWidget(SerialPortCSpinEdit);
    portRow->addWidget(PortDeviceLabel, 1);

    PortChooserLabel = makeLabel(page, "PortChooserLabel", QStringLiteral("Adapter"));
    PortChooserComboBox = new PortChooser(page);
    PortChooserComboBox->setObjectName(QStringLiteral("PortChooserComboBox"));
    PortChooserComboBox->setAccessibleName(QStringLiteral("Adapter"));
    PortChooserLabel->setBuddy(PortChooserComboBox);
    auto *chooserRow = new QHBoxLayout;
    chooserRow->addWidget(PortChooserLabel);
    chooserRow->addWidget(PortChooserComboBox, 1);

    TrafficButton = makeButton(page, "TrafficButton", QStringLiteral("Traffic"));

    HelpButton = makeButton(page, "HelpButton", QStringLiteral("Help"));
    ExitButton = makeButton(page, "ExitButton", QStringLiteral("Exit"));
    auto *bottomRow = new QHBoxLayout;
    bottomRow->addWidget(HelpButton);
    bottomRow->addWidget(ExitButton);
    bottomRow->addStretch(1);
    bottomRow->addWidget(TrafficButton);

    auto *leftColumn = new QVBoxLayout;
    leftColumn->addWidget(ExchangeButtonsGroupBox);
    leftColumn->addSpacing(8);
    leftColumn->addLayout(portRow);
    leftColumn->addLayout(chooserRow);
    leftColumn->addStretch(1);
    leftColumn->addLayout(bottomRow);

    LogsGroupBox = makeGroup(page, "LogsGroupBox", QStringLiteral("Logs"));
    LogMemo = new QPlainTextEdit(LogsGroupBox);
    LogMemo->setObjectName(QStringLiteral("LogMemo"));
    LogMemo->setAccessibleName(QStringLiteral("Logs"));
    LogMemo->setReadOnly(true);
    LogMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the log instead of being swallowed by it, so keyboard users are not trapped.
    LogMemo->setTabChangesFocus(true);
    QPalette memoPalette = LogMemo->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Window));
    LogMemo->setPalette(memoPalette);
    ClearButton = makeButton(LogsGroupBox, "ClearButton", QStringLiteral("Clear"));
    auto *logLayout = new QVBoxLayout(LogsGroupBox);
    logLayout->addWidget(LogMemo, 1);
    logLayout->addWidget(ClearButton, 0, Qt::AlignRight);

    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->addLayout(leftColumn, 1);
    pageLayout->addWidget(LogsGroupBox, 1);
}

void MainFormUi::setupDataPage()
{
    QWidget *page = SetupTabSheet;

    // "General": network address of the unit.
    NetworkGroupBox = makeGroup(page, "NetworkGroupBox", QStringLiteral("General"));
    DHCPEnabledxfCheckBox = makeCheckBox(NetworkGroupBox, "DHCPEnabledxfCheckBox",
                                         QStringLiteral("Get Address Automatically"), false);
    IPAddrLabel = makeLabel(NetworkGroupBox, "IPAddrLabel", QStringLiteral("IP Address"));
    ipAddrEdits = makeAddressEdits(NetworkGroupBox, "IPAddr", QStringLiteral("IP Address"), 0);
    GateWayAddrLabel =
        makeLabel(NetworkGroupBox, "GateWayAddrLabel", QStringLiteral("Gateway Address"));
    gateWayAddrEdits =
        makeAddressEdits(NetworkGroupBox, "GateWayAddr", QStringLiteral("Gateway Address"), 0);
    SubMaskAddrLabel = makeLabel(NetworkGroupBox, "SubMaskAddrLabel", QStringLiteral("Submask"));
    subMaskAddrEdits =
        makeAddressEdits(NetworkGroupBox, "SubMaskAddr", QStringLiteral("Submask"), 0);
    auto *generalGrid = new QGridLayout(NetworkGroupBox);
    generalGrid->addWidget(DHCPEnabledxfCheckBox, 0, 0, 1, 6);
    addAddressRow(generalGrid, 1, IPAddrLabel, ipAddrEdits);
    addAddressRow(generalGrid, 2, GateWayAddrLabel, gateWayAddrEdits);
    addAddressRow(generalGrid, 3, SubMaskAddrLabel, subMaskAddrEdits);
    IPAddr1Edit = ipAddrEdits[0];
    IPAddr2Edit = ipAddrEdits[1];
    IPAddr3Edit = ipAddrEdits[2];
    IPAddr4Edit = ipAddrEdits[3];
    GateWayAddr1Edit = gateWayAddrEdits[0];
    GateWayAddr2Edit = gateWayAddrEdits[1];
    GateWayAddr3Edit = gateWayAddrEdits[2];
    GateWayAddr4Edit = gateWayAddrEdits[3];
    SubMaskAddr1Edit = subMaskAddrEdits[0];
    SubMaskAddr2Edit = subMaskAddrEdits[1];
    SubMaskAddr3Edit = subMaskAddrEdits[2];
    SubMaskAddr4Edit = subMaskAddrEdits[3];

    // "Connections": the unit's client connection.
    ConnectionsGroupBox = makeGroup(page, "ConnectionsGroupBox", QStringLiteral("Connections"));
    ClientEnabledxfCheckBox = makeCheckBox(ConnectionsGroupBox, "ClientEnabledxfCheckBox",
                                           QStringLiteral("Enable Client"), true);
    UseBroadcastdxfCheckBox = makeCheckBox(ConnectionsGroupBox, "UseBroadcastdxfCheckBox",
                                           QStringLiteral("Use Broadcast Address"), true);
    ClientAddrLabel =
        makeLabel(ConnectionsGroupBox, "ClientAddrLabel", QStringLiteral("Target IP Address"));
    clientAddrEdits =
        makeAddressEdits(ConnectionsGroupBox, "ClientAddr", QStringLiteral("Target IP Address"), 3);
    auto *connectionsGrid = new QGridLayout(ConnectionsGroupBox);
    connectionsGrid->addWidget(ClientEnabledxfCheckBox, 0, 0, 1, 6);
    connectionsGrid->addWidget(UseBroadcastdxfCheckBox, 1, 0, 1, 6);
    addAddressRow(connectionsGrid, 2, ClientAddrLabel, clientAddrEdits);
    ClientAddr1Edit = clientAddrEdits[0];
    ClientAddr2Edit = clientAddrEdits[1];
    ClientAddr3Edit = clientAddrEdits[2];
    ClientAddr4Edit = clientAddrEdits[3];
    alignLabels({IPAddrLabel, GateWayAddrLabel, SubMaskAddrLabel, ClientAddrLabel});

    // "Analogue Update Hysteresis": two inputs to a row.
    HysteresisGroupBox =
        makeGroup(page, "HysteresisGroupBox", QStringLiteral("Analogue Update Hysteresis"));
    auto *hysteresisGrid = new QGridLayout(HysteresisGroupBox);
    std::array<QLabel *, 4> inputLabels{};
    for (int i = 0; i < 4; ++i) {
        const QString caption = QStringLiteral("Input ") + QString::number(i + 1);
        const QByteArray name = "Hysteresis" + QByteArray::number(i + 1) + "CSpinEdit";
        const QByteArray labelName = "Hysteresis" + QByteArray::number(i + 1) + "Label";
        inputLabels[size_t(i)] = makeLabel(HysteresisGroupBox, labelName.constData(), caption);
        hysteresisCSpinEdits[size_t(i)] =
            makeSpinEdit(HysteresisGroupBox, name.constData(), caption, 0, 1024, 5);
        inputLabels[size_t(i)]->setBuddy(hysteresisCSpinEdits[size_t(i)]);
        const int row = i / 2;
        const int column = (i % 2) * 3;
        hysteresisGrid->addWidget(inputLabels[size_t(i)], row, column);
        hysteresisGrid->addWidget(hysteresisCSpinEdits[size_t(i)], row, column + 1);
    }
    hysteresisGrid->setColumnMinimumWidth(2, 16);
    hysteresisGrid->setColumnStretch(5, 1);
    Hysteresis1Label = inputLabels[0];
    Hysteresis2Label = inputLabels[1];
    Hysteresis3Label = inputLabels[2];
    Hysteresis4Label = inputLabels[3];
    Hysteresis1CSpinEdit = hysteresisCSpinEdits[0];
    Hysteresis2CSpinEdit = hysteresisCSpinEdits[1];
    Hysteresis3CSpinEdit = hysteresisCSpinEdits[2];
    Hysteresis4CSpinEdit = hysteresisCSpinEdits[3];

    // "Serial Port": the unit's own serial line.
    SerialSettingsGroupBox =
        makeGroup(page, "SerialSettingsGroupBox", QStringLiteral("Serial Port"));
    BaudRateLabel = makeLabel(SerialSettingsGroupBox, "BaudRateLabel", QStringLiteral("Baud Rate"));
    BaudRateComboBox = new QComboBox(SerialSettingsGroupBox);
    BaudRateComboBox->setObjectName(QStringLiteral("BaudRateComboBox"));
    BaudRateComboBox->setAccessibleName(QStringLiteral("Baud Rate"));
    BaudRateComboBox->setEditable(false);
    BaudRateComboBox->addItems({QStringLiteral("2400"), QStringLiteral("4800"),
                                QStringLiteral("9600"), QStringLiteral("19200"),
                                QStringLiteral("38400")});
    BaudRateComboBox->setCurrentIndex(-1);
    BaudRateLabel->setBuddy(BaudRateComboBox);
    SerialCRLFdxfCheckBox = makeCheckBox(SerialSettingsGroupBox, "SerialCRLFdxfCheckBox",
                                         QStringLiteral("Use CR/LF"), false, 1);
    SerialTimeddxfCheckBox = makeCheckBox(SerialSettingsGroupBox, "SerialTimeddxfCheckBox",
                                          QStringLiteral("Timed"), false, 1);
    SerialTimedCSpinEdit = makeSpinEdit(SerialSettingsGroupBox, "SerialTimedCSpinEdit",
                                        QStringLiteral("Timed Interval"), 20, 2000, 20, 10);
    SerialTimedUnitLabel =
        makeLabel(SerialSettingsGroupBox, "SerialTimedUnitLabel", QStringLiteral("mS"));
    auto *serialGrid = new QGridLayout(SerialSettingsGroupBox);
    serialGrid->addWidget(BaudRateLabel, 0, 0);
    serialGrid->addWidget(BaudRateComboBox, 0, 1, 1, 2);
    serialGrid->addWidget(SerialCRLFdxfCheckBox, 1, 0, 1, 3);
    serialGrid->addWidget(SerialTimeddxfCheckBox, 2, 0);
    serialGrid->addWidget(SerialTimedCSpinEdit, 2, 1);
    serialGrid->addWidget(SerialTimedUnitLabel, 2, 2);
    serialGrid->setColumnStretch(3, 1);

    // "Connect Settings": timing of the client connection.
    ConnectSettingsGroupBox =
        makeGroup(page, "ConnectSettingsGroupBox", QStringLiteral("Connect Settings"));
    UpdatePeriodLabel =
        makeLabel(ConnectSettingsGroupBox, "UpdatePeriodLabel", QStringLiteral("Update Period"));
    UpdatePeriodCSpinEdit = makeSpinEdit(ConnectSettingsGroupBox, "UpdatePeriodCSpinEdit",
                                         QStringLiteral("Update Period"), 1, 1000, 60);
    UpdatePeriodUnitLabel =
        makeLabel(ConnectSettingsGroupBox, "UpdatePeriodUnitLabel", QStringLiteral("Seconds"));
    ClientPortLabel =
        makeLabel(ConnectSettingsGroupBox, "ClientPortLabel", QStringLiteral("Port Number"));
    ClientPortCSpinEdit = makeSpinEdit(ConnectSettingsGroupBox, "ClientPortCSpinEdit",
                                       QStringLiteral("Port Number"), 1, 65535, 3012);
    ServerTimeoutLabel =
        makeLabel(ConnectSettingsGroupBox, "ServerTimeoutLabel", QStringLiteral("Timeout"));
    ServerTimeoutCSpinEdit = makeSpinEdit(ConnectSettingsGroupBox, "ServerTimeoutCSpinEdit",
                                          QStringLiteral("Timeout"), 1, 1000, 60);
    ServerTimeoutUnitLabel =
        makeLabel(ConnectSettingsGroupBox, "ServerTimeoutUnitLabel", QStringLiteral("Seconds"));
    EnableWatchdogdxfCheckBox = makeCheckBox(ConnectSettingsGroupBox, "EnableWatchdogdxfCheckBox",
                                             QStringLiteral("Enable Watchdog"), false);
    UpdatePeriodLabel->setBuddy(UpdatePeriodCSpinEdit);
    ClientPortLabel->setBuddy(ClientPortCSpinEdit);
    ServerTimeoutLabel->setBuddy(ServerTimeoutCSpinEdit);
    auto *connectGrid = new QGridLayout(ConnectSettingsGroupBox);
    connectGrid->addWidget(UpdatePeriodLabel, 0, 0);
    connectGrid->addWidget(UpdatePeriodCSpinEdit, 0, 1);
    connectGrid->addWidget(UpdatePeriodUnitLabel, 0, 2);
    connectGrid->addWidget(ClientPortLabel, 1, 0);
    connectGrid->addWidget(ClientPortCSpinEdit, 1, 1);
    connectGrid->addWidget(ServerTimeoutLabel, 2, 0);
    connectGrid->addWidget(ServerTimeoutCSpinEdit, 2, 1);
    connectGrid->addWidget(ServerTimeoutUnitLabel, 2, 2);
    connectGrid->addWidget(EnableWatchdogdxfCheckBox, 3, 0, 1, 3);
    connectGrid->setColumnStretch(3, 1);

    // The MAC address row along the bottom.
    MACAddressLabel = makeLabel(page, "MACAddressLabel", QStringLiteral("MAC Address"));
    MACAddressEdit = makeEdit(page, "MACAddressEdit", QStringLiteral("MAC Address"));
    MACAddressEdit->setReadOnly(true);
    MACAddressEdit->setMinimumWidth(
        MACAddressEdit->fontMetrics().horizontalAdvance(QStringLiteral("00-00-00-00-00-00")) + 16);
    MACAddressLabel->setBuddy(MACAddressEdit);
    NewMAC1Edit = makeEdit(page, "NewMAC1Edit", QStringLiteral("New MAC 1"));
    NewMAC2Edit = makeEdit(page, "NewMAC2Edit", QStringLiteral("New MAC 2"));
    const int hexWidth = NewMAC1Edit->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 12;
    NewMAC1Edit->setFixedWidth(hexWidth);
    NewMAC2Edit->setFixedWidth(hexWidth * 2);
    SendNewMACButton = makeButton(page, "SendNewMACButton", QStringLiteral("Send New MAC"));
    auto *macRow = new QHBoxLayout;
    macRow->addWidget(MACAddressLabel);
    macRow->addWidget(MACAddressEdit);
    macRow->addSpacing(12);
    macRow->addWidget(NewMAC1Edit);
    macRow->addWidget(NewMAC2Edit);
    macRow->addWidget(SendNewMACButton);
    macRow->addStretch(1);

    auto *leftColumn = new QVBoxLayout;
    leftColumn->addWidget(NetworkGroupBox);
    leftColumn->addWidget(ConnectionsGroupBox);
    leftColumn->addWidget(HysteresisGroupBox);
    leftColumn->addStretch(1);
    auto *rightColumn = new QVBoxLayout;
    rightColumn->addWidget(SerialSettingsGroupBox);
    rightColumn->addWidget(ConnectSettingsGroupBox);
    rightColumn->addStretch(1);

    auto *pageLayout = new QGridLayout(page);
    pageLayout->addLayout(leftColumn, 0, 0);
    pageLayout->addLayout(rightColumn, 0, 1);
    pageLayout->addLayout(macRow, 1, 0, 1, 2);
    pageLayout->setColumnStretch(0, 1);
    pageLayout->setColumnStretch(1, 1);
    pageLayout->setRowStretch(0, 1);
}

void MainFormUi::setupWebPagesPage()
{
    QWidget *page = WebPagesTabSheet;

    FileListGroupBox = makeGroup(page, "FileListGroupBox", QStringLiteral("File List"));
    FileListStringGrid = new QTableWidget(2, 2, FileListGroupBox);
    FileListStringGrid->setObjectName(QStringLiteral("FileListStringGrid"));
    FileListStringGrid->setAccessibleName(QStringLiteral("File List"));
    FileListStringGrid->horizontalHeader()->hide();
    FileListStringGrid->verticalHeader()->hide();
    FileListStringGrid->horizontalHeader()->resizeSection(0, 87);
    FileListStringGrid->horizontalHeader()->resizeSection(1, 275);
    FileListStringGrid->verticalHeader()->setMinimumSectionSize(15);
    FileListStringGrid->verticalHeader()->setDefaultSectionSize(15);
    FileListStringGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FileListStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FileListStringGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    FileListStringGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    // Tab moves on to the buttons rather than from cell to cell.
    FileListStringGrid->setTabKeyNavigation(false);
    for (int column = 0; column < 2; ++column) {
        auto *heading = new QTableWidgetItem;
        heading->setFlags(Qt::ItemIsEnabled);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        heading->setBackground(FileListStringGrid->palette().button());
        FileListStringGrid->setItem(0, column, heading);
    }
    auto *gridLayout = new QVBoxLayout(FileListGroupBox);
    gridLayout->addWidget(FileListStringGrid);

    AddButton = makeButton(page, "AddButton", QStringLiteral("Add"));
    RemoveButton = makeButton(page, "RemoveButton", QStringLiteral("Remove"));
    LoadPageListButton = makeButton(page, "LoadPageListButton", QStringLiteral("Load From File"));
    SavePageListButton = makeButton(page, "SavePageListButton", QStringLiteral("Save To File"));
    DownloadButton = makeButton(page, "DownloadButton", QStringLiteral("Download To TOLVEX"));
    CancelDownloadButton = makeButton(page, "CancelDownloadButton", QStringLiteral("Cancel"));
    CancelDownloadButton->setAccessibleName(QStringLiteral("Cancel Download"));
    CancelDownloadButton->setEnabled(false);
    ProgressLabel = makeLabel(page, "ProgressLabel", QStringLiteral("Progress"));
    WebPagedxfProgressBar = new TdxfProgressBar(page);
    WebPagedxfProgressBar->setObjectName(QStringLiteral("WebPagedxfProgressBar"));
    WebPagedxfProgressBar->setAccessibleName(QStringLiteral("Progress"));
    WebPagedxfProgressBar->SetMin(0);
    WebPagedxfProgressBar->SetMax(100);
    WebPagedxfProgressBar->SetPosition(0);
    ProgressLabel->hide();
    WebPagedxfProgressBar->hide();
    ImageSizeLabel = makeLabel(page, "ImageSizeLabel", QString());
    ImageSizeLabel->setAccessibleName(QStringLiteral("Image size"));
    ImageSizeLabel->setWordWrap(true);
    // Wraps within the buttons' width, so the column does not jump as the text changes.
    ImageSizeLabel->setFixedWidth(190);

    auto *rightColumn = new QVBoxLayout;
    for (QPushButton *button : {AddButton, RemoveButton, LoadPageListButton, SavePageListButton})
        rightColumn->addWidget(button);
    rightColumn->addSpacing(16);
    rightColumn->addWidget(DownloadButton);
    rightColumn->addWidget(CancelDownloadButton);
    rightColumn->addSpacing(16);
    rightColumn->addWidget(ProgressLabel);
    rightColumn->addWidget(WebPagedxfProgressBar);
    rightColumn->addWidget(ImageSizeLabel);
    rightColumn->addStretch(1);

    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->addWidget(FileListGroupBox, 1);
    pageLayout->addLayout(rightColumn);
}

void MainFormUi::setupTabOrder()
{
    chainTabOrder({ReadButton, WriteButton, SaveButton, LoadButton, CancelButton,
                   SerialPortCSpinEdit, PortChooserComboBox, HelpButton, ExitButton, TrafficButton,
                   LogMemo, ClearButton});
    chainTabOrder({DHCPEnabledxfCheckBox,
                   IPAddr1Edit,
                   IPAddr2Edit,
                   IPAddr3Edit,
                   IPAddr4Edit,
                   GateWayAddr1Edit,
                   GateWayAddr2Edit,
                   GateWayAddr3Edit,
                   GateWayAddr4Edit,
                   SubMaskAddr1Edit,
                   SubMaskAddr2Edit,
                   SubMaskAddr3Edit,
                   SubMaskAddr4Edit,
                   ClientEnabledxfCheckBox,
                   UseBroadcastdxfCheckBox,
                   ClientAddr1Edit,
                   ClientAddr2Edit,
                   ClientAddr3Edit,
                   ClientAddr4Edit,
                   Hysteresis1CSpinEdit,
                   Hysteresis2CSpinEdit,
                   Hysteresis3CSpinEdit,
                   Hysteresis4CSpinEdit,
                   BaudRateComboBox,
                   SerialCRLFdxfCheckBox,
                   SerialTimeddxfCheckBox,
                   SerialTimedCSpinEdit,
                   UpdatePeriodCSpinEdit,
                   ClientPortCSpinEdit,
                   ServerTimeoutCSpinEdit,
                   EnableWatchdogdxfCheckBox,
                   MACAddressEdit,
                   NewMAC1Edit,
                   NewMAC2Edit,
                   SendNewMACButton});
    chainTabOrder({FileListStringGrid, AddButton, RemoveButton, LoadPageListButton,
                   SavePageListButton, DownloadButton, CancelDownloadButton});
}
