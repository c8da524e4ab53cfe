#include "app/MainFormUi.h"

#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"
#include "widgets/TdxfProgressBar.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <memory>

class TestMainFormUi : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void members_matchObjectNames();
    void buttons_haveCaptions_data();
    void buttons_haveCaptions();
    void labels_haveCaptions_data();
    void labels_haveCaptions();
    void groupBoxes_holdTheirControls_data();
    void groupBoxes_holdTheirControls();
    void checkBoxes_haveCaptionStateAndGroup_data();
    void checkBoxes_haveCaptionStateAndGroup();
    void spinEdits_haveRangeStepAndValue_data();
    void spinEdits_haveRangeStepAndValue();
    void edits_startEmptyWithLimits_data();
    void edits_startEmptyWithLimits();
    void inputs_haveAccessibleNames_data();
    void inputs_haveAccessibleNames();
    void pages_onlyGeneralAndDataTabsVisible();
    void window_isSizedAndEverythingEnabled();
    void baudRate_fiveItemsNothingSelected();
    void logMemo_readOnlyWithVerticalScrollBar();
    void fileGrid_twoColumnsHeadingRowNotSelectable();
    void progressDisplay_hiddenAtZero();
    void tabKey_visitsPageControlsInOrder_data();
    void tabKey_visitsPageControlsInOrder();
    void tabKey_goesOnToTheTabBarAndBack_data();
    void tabKey_goesOnToTheTabBarAndBack();
    void spinEdits_readToAssistiveToolsAsShown();
    void progressBar_isAProgressBarToAssistiveTools();

private:
    template <typename T> T *control(const char *name) const
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<QWidget> m_form;
    MainFormUi m_ui;
};

void TestMainFormUi::init()
{
    m_form = std::make_unique<QWidget>();
    m_ui = MainFormUi();
    m_ui.SetupUi(m_form.get());
}

void TestMainFormUi::cleanup()
{
    m_form.reset();
}

void TestMainFormUi::members_matchObjectNames()
{
    const std::pair<const char *, QWidget *> members[] = {
        {"MainPageControl", m_ui.MainPageControl},
        {"IntroTabSheet", m_ui.IntroTabSheet},
        {"SetupTabSheet", m_ui.SetupTabSheet},
        {"ClientTabSheet", m_ui.ClientTabSheet},
        {"WebPagesTabSheet", m_ui.WebPagesTabSheet},
        {"PortDeviceLabel", m_ui.PortDeviceLabel},
        {"LogMemo", m_ui.LogMemo},
        {"BaudRateComboBox", m_ui.BaudRateComboBox},
        {"MACAddressEdit", m_ui.MACAddressEdit},
        {"NewMAC1Edit", m_ui.NewMAC1Edit},
        {"NewMAC2Edit", m_ui.NewMAC2Edit},
        {"SendNewMACButton", m_ui.SendNewMACButton},
        {"MACAddressLabel", m_ui.MACAddressLabel},
        {"ExchangeButtonsGroupBox", m_ui.ExchangeButtonsGroupBox},
        {"SerialPortLabel", m_ui.SerialPortLabel},
        {"LogsGroupBox", m_ui.LogsGroupBox},
        {"NetworkGroupBox", m_ui.NetworkGroupBox},
        {"IPAddrLabel", m_ui.IPAddrLabel},
        {"GateWayAddrLabel", m_ui.GateWayAddrLabel},
        {"SubMaskAddrLabel", m_ui.SubMaskAddrLabel},
        {"ConnectionsGroupBox", m_ui.ConnectionsGroupBox},
        {"ClientAddrLabel", m_ui.ClientAddrLabel},
        {"HysteresisGroupBox", m_ui.HysteresisGroupBox},
        {"Hysteresis1Label", m_ui.Hysteresis1Label},
        {"Hysteresis2Label", m_ui.Hysteresis2Label},
        {"Hysteresis3Label", m_ui.Hysteresis3Label},
        {"Hysteresis4Label", m_ui.Hysteresis4Label},
        {"SerialSettingsGroupBox", m_ui.SerialSettingsGroupBox},
        {"BaudRateLabel", m_ui.BaudRateLabel},
        {"SerialTimedUnitLabel", m_ui.SerialTimedUnitLabel},
        {"ConnectSettingsGroupBox", m_ui.ConnectSettingsGroupBox},
        {"UpdatePeriodLabel", m_ui.UpdatePeriodLabel},
        {"UpdatePeriodUnitLabel", m_ui.UpdatePeriodUnitLabel},
        {"ClientPortLabel", m_ui.ClientPortLabel},
        {"ServerTimeoutLabel", m_ui.ServerTimeoutLabel},
        {"ServerTimeoutUnitLabel", m_ui.ServerTimeoutUnitLabel},
        {"FileListGroupBox", m_ui.FileListGroupBox},
        {"FileListStringGrid", m_ui.FileListStringGrid},
        {"ProgressLabel", m_ui.ProgressLabel},
        {"WebPagedxfProgressBar", m_ui.WebPagedxfProgressBar},
    };
    for (const auto &[name, widget] : members) {
        QVERIFY2(widget && m_form->isAncestorOf(widget), name);
        QCOMPARE(widget->objectName(), QLatin1String(name));
    }
    // Each numbered member is the array entry of the same number, and that entry is named so.
    const std::array<QWidget *, 4> named[] = {
        {m_ui.IPAddr1Edit, m_ui.IPAddr2Edit, m_ui.IPAddr3Edit, m_ui.IPAddr4Edit},
        {m_ui.GateWayAddr1Edit, m_ui.GateWayAddr2Edit, m_ui.GateWayAddr3Edit,
         m_ui.GateWayAddr4Edit},
        {m_ui.SubMaskAddr1Edit, m_ui.SubMaskAddr2Edit, m_ui.SubMaskAddr3Edit,
         m_ui.SubMaskAddr4Edit},
        {m_ui.ClientAddr1Edit, m_ui.ClientAddr2Edit, m_ui.ClientAddr3Edit, m_ui.ClientAddr4Edit},
        {m_ui.Hysteresis1CSpinEdit, m_ui.Hysteresis2CSpinEdit, m_ui.Hysteresis3CSpinEdit,
         m_ui.Hysteresis4CSpinEdit}};
    const std::array<QWidget *, 4> arrays[] = {
        {m_ui.ipAddrEdits[0], m_ui.ipAddrEdits[1], m_ui.ipAddrEdits[2], m_ui.ipAddrEdits[3]},
        {m_ui.gateWayAddrEdits[0], m_ui.gateWayAddrEdits[1], m_ui.gateWayAddrEdits[2],
         m_ui.gateWayAddrEdits[3]},
        {m_ui.subMaskAddrEdits[0], m_ui.subMaskAddrEdits[1], m_ui.subMaskAddrEdits[2],
         m_ui.subMaskAddrEdits[3]},
        {m_ui.clientAddrEdits[0], m_ui.clientAddrEdits[1], m_ui.clientAddrEdits[2],
         m_ui.clientAddrEdits[3]},
        {m_ui.hysteresisCSpinEdits[0], m_ui.hysteresisCSpinEdits[1], m_ui.hysteresisCSpinEdits[2],
         m_ui.hysteresisCSpinEdits[3]}};
    const char *patterns[] = {"IPAddr%1Edit", "GateWayAddr%1Edit", "SubMaskAddr%1Edit",
                              "ClientAddr%1Edit", "Hysteresis%1CSpinEdit"};
    for (size_t set = 0; set < 5; ++set) {
        for (size_t i = 0; i < 4; ++i) {
            QVERIFY(named[set][i]);
            QCOMPARE(named[set][i], arrays[set][i]);
            QCOMPARE(named[set][i]->objectName(), QString::fromLatin1(patterns[set]).arg(i + 1));
        }
    }
}

void TestMainFormUi::buttons_haveCaptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");

    QTest::newRow("read") << "ReadButton"
                          << "Read From TOLVEX";
    QTest::newRow("write") << "WriteButton"
                           << "Write To TOLVEX";
    QTest::newRow("save") << "SaveButton"
                          << "Save File";
    QTest::newRow("load") << "LoadButton"
                          << "Load File";
    QTest::newRow("clear") << "ClearButton"
                           << "Clear";
    QTest::newRow("help") << "HelpButton"
                          << "Help";
    QTest::newRow("exit") << "ExitButton"
                          << "Exit";
    QTest::newRow("send mac") << "SendNewMACButton"
                              << "Send New MAC";
    QTest::newRow("add") << "AddButton"
                         << "Add";
    QTest::newRow("remove") << "RemoveButton"
                            << "Remove";
    QTest::newRow("load list") << "LoadPageListButton"
                               << "Load From File";
    QTest::newRow("save list") << "SavePageListButton"
                               << "Save To File";
    QTest::newRow("download") << "DownloadButton"
                              << "Download To TOLVEX";
}

void TestMainFormUi::buttons_haveCaptions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    auto *button = control<QPushButton>(name.toLatin1().constData());
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->accessibleName(), caption);
}

void TestMainFormUi::labels_haveCaptions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("buddy");

    QTest::newRow("comm port") << "SerialPortLabel"
                               << "Use Comm Port"
                               << "SerialPortCSpinEdit";
    QTest::newRow("ip") << "IPAddrLabel"
                        << "IP Address"
                        << "IPAddr1Edit";
    QTest::newRow("gateway") << "GateWayAddrLabel"
                             << "Gateway Address"
                             << "GateWayAddr1Edit";
    QTest::newRow("submask") << "SubMaskAddrLabel"
                             << "Submask"
                             << "SubMaskAddr1Edit";
    QTest::newRow("target") << "ClientAddrLabel"
                            << "Target IP Address"
                            << "ClientAddr1Edit";
    QTest::newRow("input 1") << "Hysteresis1Label"
                             << "Input 1"
                             << "Hysteresis1CSpinEdit";
    QTest::newRow("input 2") << "Hysteresis2Label"
                             << "Input 2"
                             << "Hysteresis2CSpinEdit";
    QTest::newRow("input 3") << "Hysteresis3Label"
                             << "Input 3"
                             << "Hysteresis3CSpinEdit";
    QTest::newRow("input 4") << "Hysteresis4Label"
                             << "Input 4"
                             << "Hysteresis4CSpinEdit";
    QTest::newRow("baud") << "BaudRateLabel"
                          << "Baud Rate"
                          << "BaudRateComboBox";
    QTest::newRow("ms") << "SerialTimedUnitLabel"
                        << "mS"
                        << "";
    QTest::newRow("update period") << "UpdatePeriodLabel"
                                   << "Update Period"
                                   << "UpdatePeriodCSpinEdit";
    QTest::newRow("seconds 1") << "UpdatePeriodUnitLabel"
                               << "Seconds"
                               << "";
    QTest::newRow("port number") << "ClientPortLabel"
                                 << "Port Number"
                                 << "ClientPortCSpinEdit";
    QTest::newRow("timeout") << "ServerTimeoutLabel"
                             << "Timeout"
                             << "ServerTimeoutCSpinEdit";
    QTest::newRow("seconds 2") << "ServerTimeoutUnitLabel"
                               << "Seconds"
                               << "";
    QTest::newRow("mac") << "MACAddressLabel"
                         << "MAC Address"
                         << "MACAddressEdit";
    QTest::newRow("progress") << "ProgressLabel"
                              << "Progress"
                              << "";
    QTest::newRow("port device") << "PortDeviceLabel"
                                 << ""
                                 << "";
}

void TestMainFormUi::labels_haveCaptions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, buddy);
    auto *label = control<QLabel>(name.toLatin1().constData());
    QVERIFY(label);
    QCOMPARE(label->text(), caption);
    if (!buddy.isEmpty()) {
        QVERIFY(label->buddy());
        QCOMPARE(label->buddy()->objectName(), buddy);
    }
}

void TestMainFormUi::groupBoxes_holdTheirControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("children");

    QTest::newRow("buttons") << "ExchangeButtonsGroupBox"
                             << "Server E-Mail and Client Options"
                             << "IntroTabSheet"
                             << QStringList{"ReadButton", "WriteButton", "SaveButton",
                                            "LoadButton"};
    QTest::newRow("logs") << "LogsGroupBox"
                          << "Logs"
                          << "IntroTabSheet" << QStringList{"LogMemo", "ClearButton"};
    QTest::newRow("general") << "NetworkGroupBox"
                             << "General"
                             << "SetupTabSheet"
                             << QStringList{"DHCPEnabledxfCheckBox", "IPAddrLabel",
                                            "IPAddr1Edit",           "IPAddr4Edit",
                                            "GateWayAddrLabel",      "GateWayAddr1Edit",
                                            "GateWayAddr4Edit",      "SubMaskAddrLabel",
                                            "SubMaskAddr1Edit",      "SubMaskAddr4Edit"};
    QTest::newRow("connections") << "ConnectionsGroupBox"
                                 << "Connections"
                                 << "SetupTabSheet"
                                 << QStringList{"ClientEnabledxfCheckBox",
                                                "UseBroadcastdxfCheckBox", "ClientAddrLabel",
                                                "ClientAddr1Edit", "ClientAddr4Edit"};
    QTest::newRow("hysteresis") << "HysteresisGroupBox"
                                << "Analogue Update Hysteresis"
                                << "SetupTabSheet"
                                << QStringList{"Hysteresis1Label", "Hysteresis1CSpinEdit",
                                               "Hysteresis4Label", "Hysteresis4CSpinEdit"};
    QTest::newRow("serial") << "SerialSettingsGroupBox"
                            << "Serial Port"
                            << "SetupTabSheet"
                            << QStringList{"BaudRateLabel",         "BaudRateComboBox",
                                           "SerialCRLFdxfCheckBox", "SerialTimeddxfCheckBox",
                                           "SerialTimedCSpinEdit",  "SerialTimedUnitLabel"};
    QTest::newRow("connect") << "ConnectSettingsGroupBox"
                             << "Connect Settings"
                             << "SetupTabSheet"
                             << QStringList{"UpdatePeriodLabel",        "UpdatePeriodCSpinEdit",
                                            "UpdatePeriodUnitLabel",    "ClientPortLabel",
                                            "ClientPortCSpinEdit",      "ServerTimeoutLabel",
                                            "ServerTimeoutCSpinEdit",   "ServerTimeoutUnitLabel",
                                            "EnableWatchdogdxfCheckBox"};
    QTest::newRow("file list") << "FileListGroupBox"
                               << "File List"
                               << "WebPagesTabSheet" << QStringList{"FileListStringGrid"};
}

void TestMainFormUi::groupBoxes_holdTheirControls()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QString, page);
    QFETCH(QStringList, children);
    auto *group = control<QGroupBox>(name.toLatin1().constData());
    QVERIFY(group);
    QCOMPARE(group->title(), title);
    QCOMPARE(group->accessibleName(), title);
    QVERIFY(control<QWidget>(page.toLatin1().constData())->isAncestorOf(group));
    for (const QString &child : children) {
        QWidget *widget = control<QWidget>(child.toLatin1().constData());
        QVERIFY2(widget && group->isAncestorOf(widget), qPrintable(child));
    }
}

void TestMainFormUi::checkBoxes_haveCaptionStateAndGroup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<int>("groupIndex");

    QTest::newRow("dhcp") << "DHCPEnabledxfCheckBox"
                          << "Get Address Automatically" << false << 0;
    QTest::newRow("client") << "ClientEnabledxfCheckBox"
                            << "Enable Client" << true << 0;
    QTest::newRow("broadcast") << "UseBroadcastdxfCheckBox"
                               << "Use Broadcast Address" << true << 0;
    QTest::newRow("crlf") << "SerialCRLFdxfCheckBox"
                          << "Use CR/LF" << false << 1;
    QTest::newRow("timed") << "SerialTimeddxfCheckBox"
                           << "Timed" << false << 1;
    QTest::newRow("watchdog") << "EnableWatchdogdxfCheckBox"
                              << "Enable Watchdog" << false << 0;
}

void TestMainFormUi::checkBoxes_haveCaptionStateAndGroup()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, checked);
    QFETCH(int, groupIndex);
    auto *box = control<TdxfCheckBox>(name.toLatin1().constData());
    QVERIFY(box);
    QCOMPARE(box->Caption(), caption);
    QCOMPARE(box->accessibleName(), caption);
    QCOMPARE(box->Checked(), checked);
    QCOMPARE(box->GroupIndex(), groupIndex);
    QVERIFY(box->AllowAllUp());
}

void TestMainFormUi::spinEdits_haveRangeStepAndValue_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("increment");
    QTest::addColumn<int>("value");

    QTest::newRow("comm port") << "SerialPortCSpinEdit" << 1 << 255 << 1 << 1;
    for (int i = 1; i <= 4; ++i) {
        const QString name = QStringLiteral("Hysteresis%1CSpinEdit").arg(i);
        QTest::newRow(qPrintable(name)) << name << 0 << 1024 << 1 << 5;
    }
    QTest::newRow("timed") << "SerialTimedCSpinEdit" << 20 << 2000 << 10 << 20;
    QTest::newRow("update period") << "UpdatePeriodCSpinEdit" << 1 << 1000 << 1 << 60;
    QTest::newRow("client port") << "ClientPortCSpinEdit" << 1 << 65535 << 1 << 3012;
    QTest::newRow("timeout") << "ServerTimeoutCSpinEdit" << 1 << 1000 << 1 << 60;
}

void TestMainFormUi::spinEdits_haveRangeStepAndValue()
{
    QFETCH(QString, name);
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, increment);
    QFETCH(int, value);
    auto *spin = control<TCSpinEdit>(name.toLatin1().constData());
    QVERIFY(spin);
    QCOMPARE(spin->MinValue(), minValue);
    QCOMPARE(spin->MaxValue(), maxValue);
    QCOMPARE(spin->Increment(), increment);
    QCOMPARE(spin->text(), QString::number(value));
    QCOMPARE(spin->Value(), value);
}

void TestMainFormUi::edits_startEmptyWithLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<bool>("readOnly");

    const int unlimited = QLineEdit().maxLength();
    for (const char *prefix : {"IPAddr", "GateWayAddr", "SubMaskAddr", "ClientAddr"}) {
        for (int i = 1; i <= 4; ++i) {
            const QString name = QStringLiteral("%1%2Edit").arg(QLatin1String(prefix)).arg(i);
            const bool client = QLatin1String(prefix) == QLatin1String("ClientAddr");
            QTest::newRow(qPrintable(name)) << name << (client ? 3 : unlimited) << false;
        }
    }
    QTest::newRow("mac") << "MACAddressEdit" << unlimited << true;
    QTest::newRow("new mac 1") << "NewMAC1Edit" << unlimited << false;
    QTest::newRow("new mac 2") << "NewMAC2Edit" << unlimited << false;
}

void TestMainFormUi::edits_startEmptyWithLimits()
{
    QFETCH(QString, name);
    QFETCH(int, maxLength);
    QFETCH(bool, readOnly);
    auto *edit = control<QLineEdit>(name.toLatin1().constData());
    QVERIFY(edit);
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(edit->maxLength(), maxLength);
    QCOMPARE(edit->isReadOnly(), readOnly);
}

void TestMainFormUi::inputs_haveAccessibleNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("accessibleName");

    const std::pair<const char *, const char *> addresses[] = {{"IPAddr", "IP Address"},
                                                               {"GateWayAddr", "Gateway Address"},
                                                               {"SubMaskAddr", "Submask"},
                                                               {"ClientAddr", "Target IP Address"}};
    for (const auto &[prefix, caption] : addresses) {
        for (int i = 1; i <= 4; ++i) {
            const QString name = QStringLiteral("%1%2Edit").arg(QLatin1String(prefix)).arg(i);
            QTest::newRow(qPrintable(name))
                << name << QStringLiteral("%1 %2").arg(QLatin1String(caption)).arg(i);
        }
    }
    for (int i = 1; i <= 4; ++i) {
        const QString name = QStringLiteral("Hysteresis%1CSpinEdit").arg(i);
        QTest::newRow(qPrintable(name)) << name << QStringLiteral("Input %1").arg(i);
    }
    QTest::newRow("timed") << "SerialTimedCSpinEdit"
                           << "Timed Interval";
    QTest::newRow("update") << "UpdatePeriodCSpinEdit"
                            << "Update Period";
    QTest::newRow("timeout") << "ServerTimeoutCSpinEdit"
                             << "Timeout";
    QTest::newRow("client port") << "ClientPortCSpinEdit"
                                 << "Port Number";
    QTest::newRow("comm port") << "SerialPortCSpinEdit"
                               << "Use Comm Port";
    QTest::newRow("baud") << "BaudRateComboBox"
                          << "Baud Rate";
    QTest::newRow("mac") << "MACAddressEdit"
                         << "MAC Address";
    QTest::newRow("new mac 1") << "NewMAC1Edit"
                               << "New MAC 1";
    QTest::newRow("new mac 2") << "NewMAC2Edit"
                               << "New MAC 2";
    QTest::newRow("log") << "LogMemo"
                         << "Logs";
    QTest::newRow("grid") << "FileListStringGrid"
                          << "File List";
    QTest::newRow("progress") << "WebPagedxfProgressBar"
                              << "Progress";
    QTest::newRow("cancel download") << "CancelDownloadButton"
                                     << "Cancel Download";
}

void TestMainFormUi::inputs_haveAccessibleNames()
{
    QFETCH(QString, name);
    QFETCH(QString, accessibleName);
    QWidget *widget = control<QWidget>(name.toLatin1().constData());
    QVERIFY(widget);
    QCOMPARE(widget->accessibleName(), accessibleName);
}

void TestMainFormUi::pages_onlyGeneralAndDataTabsVisible()
{
    QTabWidget *pages = m_ui.MainPageControl;
    QCOMPARE(pages->count(), 4);
    const QStringList captions{"General", "Data", "Analogue", "Web Pages"};
    const QList<QWidget *> sheets{m_ui.IntroTabSheet, m_ui.SetupTabSheet, m_ui.ClientTabSheet,
                                  m_ui.WebPagesTabSheet};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(pages->tabText(i), captions[i]);
        QCOMPARE(pages->widget(i), sheets[i]);
    }
    QVERIFY(pages->isTabVisible(0));
    QVERIFY(pages->isTabVisible(1));
    QVERIFY(!pages->isTabVisible(2));
    QVERIFY(!pages->isTabVisible(3));
    QCOMPARE(pages->currentIndex(), 0);
    QVERIFY(m_form->isAncestorOf(pages));
}

void TestMainFormUi::window_isSizedAndEverythingEnabled()
{
    QCOMPARE(m_form->size(), QSize(696, 480));
    // The window's content must fit the stated size without being squeezed.
    QVERIFY(m_form->minimumSizeHint().width() <= 696);
    QVERIFY(m_form->minimumSizeHint().height() <= 480);
    for (QWidget *widget : m_form->findChildren<QWidget *>()) {
        // The tab bar's own scroll arrows are the style's business.
        if (qobject_cast<QTabBar *>(widget->parentWidget()))
            continue;
        // Cancel has nothing to cancel until an exchange runs.
        QCOMPARE(widget->isEnabled(),
                 widget != m_ui.CancelButton && widget != m_ui.CancelDownloadButton);
    }
    for (QWidget *widget :
         {static_cast<QWidget *>(m_ui.NewMAC1Edit), static_cast<QWidget *>(m_ui.NewMAC2Edit),
          static_cast<QWidget *>(m_ui.SendNewMACButton),
          static_cast<QWidget *>(m_ui.MACAddressLabel),
          static_cast<QWidget *>(m_ui.MACAddressEdit)})
        QVERIFY2(!widget->isHidden(), qPrintable(widget->objectName()));
    QVERIFY(m_ui.NewMAC2Edit->width() > m_ui.NewMAC1Edit->width());
}

void TestMainFormUi::baudRate_fiveItemsNothingSelected()
{
    QComboBox *combo = m_ui.BaudRateComboBox;
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->count(), 5);
    const QStringList items{"2400", "4800", "9600", "19200", "38400"};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(combo->itemText(i), items[i]);
    QCOMPARE(combo->currentIndex(), -1);
}

void TestMainFormUi::logMemo_readOnlyWithVerticalScrollBar()
{
    QVERIFY(m_ui.LogMemo->isReadOnly());
    QVERIFY(m_ui.LogMemo->toPlainText().isEmpty());
    QCOMPARE(m_ui.LogMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestMainFormUi::fileGrid_twoColumnsHeadingRowNotSelectable()
{
    QTableWidget *grid = m_ui.FileListStringGrid;
    QCOMPARE(grid->columnCount(), 2);
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(grid->columnWidth(0), 87);
    QCOMPARE(grid->columnWidth(1), 275);
    QCOMPARE(grid->rowHeight(0), 15);
    QCOMPARE(grid->rowHeight(1), 15);
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (int column = 0; column < 2; ++column) {
        QTableWidgetItem *heading = grid->item(0, column);
        QVERIFY(heading);
        QVERIFY(heading->text().isEmpty());
        QVERIFY(!(heading->flags() & Qt::ItemIsSelectable));
    }
    // Selecting everything covers file rows only, never the heading row.
    grid->selectAll();
    for (const QTableWidgetItem *item : grid->selectedItems())
        QVERIFY(item->row() != 0);
}

void TestMainFormUi::progressDisplay_hiddenAtZero()
{
    QVERIFY(m_ui.ProgressLabel->isHidden());
    QVERIFY(m_ui.WebPagedxfProgressBar->isHidden());
    QCOMPARE(m_ui.WebPagedxfProgressBar->Min(), 0);
    QCOMPARE(m_ui.WebPagedxfProgressBar->Max(), 100);
    QCOMPARE(m_ui.WebPagedxfProgressBar->Position(), 0);
    // Hidden widgets stay hidden once the window is shown.
    m_form->show();
    m_ui.MainPageControl->setCurrentIndex(MainFormUi::WebPagesPage);
    QVERIFY(!m_ui.ProgressLabel->isVisible());
    QVERIFY(!m_ui.WebPagedxfProgressBar->isVisible());
    QVERIFY(m_ui.DownloadButton->isVisible());
}

void TestMainFormUi::tabKey_visitsPageControlsInOrder_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("order");

    auto address = [](const char *prefix) {
        QStringList names;
        for (int i = 1; i <= 4; ++i)
            names << QStringLiteral("%1%2Edit").arg(QLatin1String(prefix)).arg(i);
        return names;
    };
    QStringList data{"DHCPEnabledxfCheckBox"};
    data << address("IPAddr") << address("GateWayAddr") << address("SubMaskAddr");
    data << "ClientEnabledxfCheckBox"
         << "UseBroadcastdxfCheckBox" << address("ClientAddr");
    for (int i = 1; i <= 4; ++i)
        data << QStringLiteral("Hysteresis%1CSpinEdit").arg(i);
    data << "BaudRateComboBox"
         << "SerialCRLFdxfCheckBox"
         << "SerialTimeddxfCheckBox"
         << "SerialTimedCSpinEdit"
         << "UpdatePeriodCSpinEdit"
         << "ClientPortCSpinEdit"
         << "ServerTimeoutCSpinEdit"
         << "EnableWatchdogdxfCheckBox"
         << "MACAddressEdit"
         << "NewMAC1Edit"
         << "NewMAC2Edit"
         << "SendNewMACButton";

    QTest::newRow("general") << int(MainFormUi::GeneralPage)
                             << QStringList{
                                    "ReadButton", "WriteButton",         "SaveButton",
                                    "LoadButton", "SerialPortCSpinEdit", "PortChooserComboBox",
                                    "HelpButton", "ExitButton",          "TrafficButton",
                                    "LogMemo",    "ClearButton"}; // Cancel: disabled while idle
    QTest::newRow("data") << int(MainFormUi::DataPage) << data;
    QTest::newRow("web pages") << int(MainFormUi::WebPagesPage)
                               << QStringList{"FileListStringGrid", "AddButton",
                                              "RemoveButton",       "LoadPageListButton",
                                              "SavePageListButton", "DownloadButton"};
}

void TestMainFormUi::tabKey_visitsPageControlsInOrder()
{
    QFETCH(int, page);
    QFETCH(QStringList, order);

    m_ui.MainPageControl->setCurrentIndex(page);
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    QWidget *first = control<QWidget>(order.first().toLatin1().constData());
    first->setFocus(Qt::TabFocusReason);

    // Names the control that has the focus, counting a spin edit's inner line edit as the spin
    // edit itself.
    auto focusedControl = [this]() -> QString {
        for (QWidget *w = QApplication::focusWidget(); w && w != m_form.get();
             w = w->parentWidget()) {
            if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
                return w->objectName();
        }
        return QString();
    };

    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
        visited << focusedControl();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, order);

    // Every control of the page that takes the focus is in that order.
    QStringList focusable;
    QWidget *sheet = m_ui.MainPageControl->widget(page);
    for (QWidget *widget : sheet->findChildren<QWidget *>()) {
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isVisibleTo(sheet) &&
            widget->isEnabled() && !widget->focusProxy() &&
            !widget->objectName().startsWith(QLatin1String("qt_")))
            focusable << widget->objectName();
    }
    focusable.sort();
    QStringList sortedOrder = order;
    sortedOrder.sort();
    QCOMPARE(focusable, sortedOrder);
}

void TestMainFormUi::tabKey_goesOnToTheTabBarAndBack_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("first");
    QTest::newRow("general") << int(MainFormUi::GeneralPage) << "ClearButton"
                             << "ReadButton";
    QTest::newRow("data") << int(MainFormUi::DataPage) << "SendNewMACButton"
                          << "DHCPEnabledxfCheckBox";
    QTest::newRow("web pages") << int(MainFormUi::WebPagesPage) << "DownloadButton"
                               << "FileListStringGrid";
}

void TestMainFormUi::tabKey_goesOnToTheTabBarAndBack()
{
    QFETCH(int, page);
    QFETCH(QString, last);
    QFETCH(QString, first);

    m_ui.MainPageControl->setCurrentIndex(page);
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    control<QWidget>(last.toLatin1().constData())->setFocus(Qt::TabFocusReason);
    // From the page's last control to the tab bar, where the arrow keys change the page...
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_ui.MainPageControl->tabBar());
    // ...and on into the page again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget *focused = QApplication::focusWidget();
    QVERIFY(focused);
    QWidget *expected = control<QWidget>(first.toLatin1().constData());
    QVERIFY2(focused == expected || expected->isAncestorOf(focused),
             qPrintable(focused->objectName()));
}

void TestMainFormUi::spinEdits_readToAssistiveToolsAsShown()
{
    const QList<TCSpinEdit *> spins = m_form->findChildren<TCSpinEdit *>();
    QCOMPARE(spins.size(), 9);
    for (TCSpinEdit *spin : spins) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(spin);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::SpinBox);
        QCOMPARE(iface->text(QAccessible::Name), spin->accessibleName());
        QVERIFY2(iface->valueInterface(), qPrintable(spin->objectName()));
        QCOMPARE(iface->valueInterface()->currentValue().toInt(), spin->Value());
        QCOMPARE(iface->text(QAccessible::Value), QString::number(spin->Value()));
        QCOMPARE(iface->valueInterface()->minimumValue().toInt(), spin->MinValue());
        QCOMPARE(iface->valueInterface()->maximumValue().toInt(), spin->MaxValue());
    }
    // A value set through the interface is what the window then reads.
    QAccessibleInterface *port = QAccessible::queryAccessibleInterface(m_ui.ClientPortCSpinEdit);
    port->valueInterface()->setCurrentValue(4001);
    QCOMPARE(m_ui.ClientPortCSpinEdit->Value(), 4001);
}

void TestMainFormUi::progressBar_isAProgressBarToAssistiveTools()
{
    m_ui.WebPagedxfProgressBar->SetPosition(37);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(m_ui.WebPagedxfProgressBar);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::ProgressBar);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Progress"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("37%"));
    QCOMPARE(iface->valueInterface()->currentValue().toInt(), 37);
    QCOMPARE(iface->valueInterface()->maximumValue().toInt(), 100);
}

QTEST_MAIN(TestMainFormUi)
#include "tst_mainformui.moc"
