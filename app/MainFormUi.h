#pragma once

#include <array>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class PortChooser;
class QWidget;
class TCSpinEdit;
class TdxfCheckBox;
class TdxfProgressBar;

// The main window's controls, built in plain code and owned by the form passed to SetupUi. Holds
// no logic and connects no signals: the window wires the handlers. Every control's objectName is
// its member name. After SetupUi every control is enabled and visible except ProgressLabel and
// WebPagedxfProgressBar (hidden) and the two Cancel buttons (disabled), and the "Analogue" and
// "Web Pages" tabs are hidden.
struct MainFormUi
{
    // Builds every control into form, sizes the form to 696 x 480 and centres it on its screen.
    // form may be a plain QWidget or a QMainWindow (the pages then become its central widget).
    void SetupUi(QWidget *form);

    // Page indexes of MainPageControl.
    enum Page
    {
        GeneralPage = 0,
        DataPage = 1,
        AnaloguePage = 2,
        WebPagesPage = 3
    };

    QTabWidget *MainPageControl = nullptr;
    QWidget *IntroTabSheet = nullptr;
    QWidget *SetupTabSheet = nullptr;
    QWidget *ClientTabSheet = nullptr;
    QWidget *WebPagesTabSheet = nullptr;

    // "General" page.
    QGroupBox *ExchangeButtonsGroupBox = nullptr;
    QPushButton *ReadButton = nullptr;
    QPushButton *WriteButton = nullptr;
    QPushButton *SaveButton = nullptr;
    QPushButton *LoadButton = nullptr;
    QLabel *SerialPortLabel = nullptr;
    TCSpinEdit *SerialPortCSpinEdit = nullptr;
    // Empty at start; the window shows there which device the COM number stands for.
    QLabel *PortDeviceLabel = nullptr;
    // The adapters present; choosing one makes the chosen COM number stand for it.
    QLabel *PortChooserLabel = nullptr;
    PortChooser *PortChooserComboBox = nullptr;
    // Enabled only while an exchange or an image build runs; Esc does the same.
    QPushButton *CancelButton = nullptr;
    // Opens the "Traffic" window with every byte sent and received.
    QPushButton *TrafficButton = nullptr;
    QGroupBox *LogsGroupBox = nullptr;
    QPlainTextEdit *LogMemo = nullptr;
    QPushButton *ClearButton = nullptr;
    QPushButton *HelpButton = nullptr;
    QPushButton *ExitButton = nullptr;

    // "Data" page.
    QGroupBox *NetworkGroupBox = nullptr;
    TdxfCheckBox *DHCPEnabledxfCheckBox = nullptr;
    QLabel *IPAddrLabel = nullptr;
    QLineEdit *IPAddr1Edit = nullptr;
    QLineEdit *IPAddr2Edit = nullptr;
    QLineEdit *IPAddr3Edit = nullptr;
    QLineEdit *IPAddr4Edit = nullptr;
    QLabel *GateWayAddrLabel = nullptr;
    QLineEdit *GateWayAddr1Edit = nullptr;
    QLineEdit *GateWayAddr2Edit = nullptr;
    QLineEdit *GateWayAddr3Edit = nullptr;
    QLineEdit *GateWayAddr4Edit = nullptr;
    QLabel *SubMaskAddrLabel = nullptr;
    QLineEdit *SubMaskAddr1Edit = nullptr;
    QLineEdit *SubMaskAddr2Edit = nullptr;
    QLineEdit *SubMaskAddr3Edit = nullptr;
    QLineEdit *SubMaskAddr4Edit = nullptr;

    QGroupBox *ConnectionsGroupBox = nullptr;
    TdxfCheckBox *ClientEnabledxfCheckBox = nullptr;
    TdxfCheckBox *UseBroadcastdxfCheckBox = nullptr;
    QLabel *ClientAddrLabel = nullptr;
    // At most 3 characters each.
    QLineEdit *ClientAddr1Edit = nullptr;
    QLineEdit *ClientAddr2Edit = nullptr;
    QLineEdit *ClientAddr3Edit = nullptr;
    QLineEdit *ClientAddr4Edit = nullptr;

    QGroupBox *HysteresisGroupBox = nullptr;
    QLabel *Hysteresis1Label = nullptr;
    TCSpinEdit *Hysteresis1CSpinEdit = nullptr;
    QLabel *Hysteresis2Label = nullptr;
    TCSpinEdit *Hysteresis2CSpinEdit = nullptr;
    QLabel *Hysteresis3Label = nullptr;
    TCSpinEdit *Hysteresis3CSpinEdit = nullptr;
    QLabel *Hysteresis4Label = nullptr;
    TCSpinEdit *Hysteresis4CSpinEdit = nullptr;

    QGroupBox *SerialSettingsGroupBox = nullptr;
    QLabel *BaudRateLabel = nullptr;
    // Not editable; nothing selected (index -1) until a value is loaded.
    QComboBox *BaudRateComboBox = nullptr;
    // "Use CR/LF" and "Timed" form exclusive group 1, both may be off.
    TdxfCheckBox *SerialCRLFdxfCheckBox = nullptr;
    TdxfCheckBox *SerialTimeddxfCheckBox = nullptr;
    TCSpinEdit *SerialTimedCSpinEdit = nullptr;
    QLabel *SerialTimedUnitLabel = nullptr;

    QGroupBox *ConnectSettingsGroupBox = nullptr;
    QLabel *UpdatePeriodLabel = nullptr;
    TCSpinEdit *UpdatePeriodCSpinEdit = nullptr;
    QLabel *UpdatePeriodUnitLabel = nullptr;
    QLabel *ClientPortLabel = nullptr;
    TCSpinEdit *ClientPortCSpinEdit = nullptr;
    QLabel *ServerTimeoutLabel = nullptr;
    TCSpinEdit *ServerTimeoutCSpinEdit = nullptr;
    QLabel *ServerTimeoutUnitLabel = nullptr;
    TdxfCheckBox *EnableWatchdogdxfCheckBox = nullptr;

    QLabel *MACAddressLabel = nullptr;
    // Read-only: filled from the unit.
    QLineEdit *MACAddressEdit = nullptr;
    // Created visible; the window hides them outside MAC assignment mode.
    QLineEdit *NewMAC1Edit = nullptr;
    QLineEdit *NewMAC2Edit = nullptr;
    QPushButton *SendNewMACButton = nullptr;

    // "Web Pages" page.
    QGroupBox *FileListGroupBox = nullptr;
    // Two columns (widths 87 and 275), rows 15 pixels high, no header views shown. Row 0 is an
    // ordinary row that serves as the fixed heading row: it is created with two non-selectable
    // items and empty text, and the window writes "Name" and "Location" into them with
    // item(0, column)->setText(). File rows start at row 1, so rowCount() is entries + 1. The grid
    // is not editable; a rectangular range of cells can be selected.
    QTableWidget *FileListStringGrid = nullptr;
    QPushButton *AddButton = nullptr;
    QPushButton *RemoveButton = nullptr;
    QPushButton *LoadPageListButton = nullptr;
    QPushButton *SavePageListButton = nullptr;
    QPushButton *DownloadButton = nullptr;
    // The Cancel of this page, where the operator watches a download: enabled, like the one on
    // the "General" page, only while an exchange or an image build runs.
    QPushButton *CancelDownloadButton = nullptr;
    // Both hidden at start; the image download shows them.
    QLabel *ProgressLabel = nullptr;
    TdxfProgressBar *WebPagedxfProgressBar = nullptr;
    // The built image's size against the unit's limit, and during the download the bytes sent
    // and the time left; empty before the first build.
    QLabel *ImageSizeLabel = nullptr;

    // The same controls as above, in address order (number 1 first).
    std::array<QLineEdit *, 4> ipAddrEdits{};
    std::array<QLineEdit *, 4> gateWayAddrEdits{};
    std::array<QLineEdit *, 4> subMaskAddrEdits{};
    std::array<QLineEdit *, 4> clientAddrEdits{};
    std::array<TCSpinEdit *, 4> hysteresisCSpinEdits{};

private:
    void setupGeneralPage();
    void setupDataPage();
    void setupWebPagesPage();
    void setupTabOrder();
};
