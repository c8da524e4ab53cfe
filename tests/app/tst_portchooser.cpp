// The adapter list: what each item says, keeping the choice while the list changes under it,
// and telling the window only about the operator's own choices.

#include "app/PortChooser.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

namespace {

SerialPortEntry Port(const QString &device, const QString &stablePath = QString(),
                     const QString &description = QString())
{
    SerialPortEntry port;
    port.device = device;
    port.stablePath = stablePath;
    port.description = description;
    return port;
}

const QString kById = QStringLiteral("/dev/serial/by-id/usb-Maker_Cable_A1-if00-port0");

} // namespace

class TestPortChooser : public QObject
{
    Q_OBJECT
private slots:
    void itemText_data();
    void itemText();
    void toolTip_namesEverythingKnown();
    void emptyList_saysSo();
    void operatorChoice_emitsPortChosen();
    void listUpdates_keepTheChoiceQuietly();
    void unpluggedAndBack_isChosenAgain();
    void selectPath_byDeviceOrStablePath();
    void openingTheList_asksForAFreshList();
    void accessibleNameAndItems();
};

void TestPortChooser::itemText_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("holder");
    QTest::addColumn<QString>("holderName");
    QTest::addColumn<bool>("denied");
    QTest::addColumn<QString>("text");

    const int free = int(PortHolder::Unknown);
    const int other = int(PortHolder::OtherProgram);
    const int own = int(PortHolder::ThisProgram);
    QTest::newRow("everything") << "FT232R USB UART"
                                << "FTDI"
                                << "A9GJ3XV1" << free << "" << false
                                << "/dev/ttyUSB0: FT232R USB UART, FTDI, serial A9GJ3XV1";
    QTest::newRow("bare device") << ""
                                 << ""
                                 << "" << free << "" << false << "/dev/ttyUSB0";
    QTest::newRow("maker repeats the description")
        << "Prolific"
        << "Prolific"
        << "" << free << "" << false << "/dev/ttyUSB0: Prolific";
    QTest::newRow("in use, named")
        << "USB Serial"
        << ""
        << "" << other << "minicom" << false << "/dev/ttyUSB0: USB Serial (in use by minicom)";
    QTest::newRow("in use, unnamed") << ""
                                     << ""
                                     << "" << other << "" << false << "/dev/ttyUSB0 (in use)";
    QTest::newRow("this program's own exchange")
        << ""
        << ""
        << "" << own << "tolvex-config" << false << "/dev/ttyUSB0";
    QTest::newRow("no permission") << ""
                                   << ""
                                   << "" << free << "" << true << "/dev/ttyUSB0 (no permission)";
}

void TestPortChooser::itemText()
{
    QFETCH(QString, description);
    QFETCH(QString, manufacturer);
    QFETCH(QString, serial);
    QFETCH(int, holder);
    QFETCH(QString, holderName);
    QFETCH(bool, denied);
    QFETCH(QString, text);

    SerialPortEntry port = Port("/dev/ttyUSB0", QString(), description);
    port.manufacturer = manufacturer;
    port.serialNumber = serial;
    port.holder = PortHolder(holder);
    port.holderName = holderName;
    port.accessDenied = denied;
    QCOMPARE(PortChooser::ItemText(port), text);

    PortChooser chooser;
    chooser.SetPorts({port});
    QCOMPARE(chooser.itemText(0), text);
}

void TestPortChooser::toolTip_namesEverythingKnown()
{
    SerialPortEntry port = Port("/dev/ttyUSB0", kById, "FT232R USB UART");
    port.manufacturer = "FTDI";
    port.serialNumber = "A9GJ3XV1";
    port.hasUsbIds = true;
    port.vendorId = 0x0403;
    port.productId = 0x6001;
    port.holder = PortHolder::OtherProgram;
    port.holderName = "minicom";
    port.holderPid = 4242;
    QCOMPARE(PortChooser::ItemToolTip(port),
             "Device: /dev/ttyUSB0\nStable path: " + kById +
                 "\nDescription: FT232R USB UART\nManufacturer: FTDI\nSerial number: "
                 "A9GJ3XV1\nUSB vendor:product: 0403:6001\nIn use by another program: "
                 "minicom (process 4242)");
    port.holder = PortHolder::Unknown;
    port.accessDenied = true;
    QVERIFY(PortChooser::ItemToolTip(port).endsWith("dialout group, then log in again)"));

    // A USB adapter's latency timer, in the list and in the tip.
    port.accessDenied = false;
    port.latencyTimerMs = 16;
    QCOMPARE(PortChooser::ItemText(port),
             "/dev/ttyUSB0: FT232R USB UART, FTDI, serial A9GJ3XV1 [latency 16 ms]");
    QVERIFY(PortChooser::ItemToolTip(port).endsWith(
        "\nAdapter latency timer: 16 ms (each answer may wait this long in the adapter; 1 ms "
        "is best)"));
}

void TestPortChooser::emptyList_saysSo()
{
    PortChooser chooser;
    QCOMPARE(chooser.count(), 0);
    QCOMPARE(chooser.currentIndex(), -1);
    QCOMPARE(chooser.placeholderText(), QStringLiteral("No serial adapters found"));
    QVERIFY(!chooser.Current());
    chooser.SetPorts({Port("/dev/ttyS0")});
    QCOMPARE(chooser.placeholderText(), QStringLiteral("Choose an adapter"));
    QCOMPARE(chooser.currentIndex(), -1);
}

void TestPortChooser::operatorChoice_emitsPortChosen()
{
    PortChooser chooser;
    QSignalSpy chosen(&chooser, &PortChooser::PortChosen);
    chooser.SetPorts({Port("/dev/ttyS0"), Port("/dev/ttyUSB0", kById, "Cable")});
    chooser.show();
    chooser.setFocus();
    QTest::keyClick(&chooser, Qt::Key_Down);
    QTest::keyClick(&chooser, Qt::Key_Down);
    QCOMPARE(chosen.count(), 2);
    const auto port = chosen.last().at(0).value<SerialPortEntry>();
    QCOMPARE(port.device, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(port.PreferredPath(), kById);
    QCOMPARE(chooser.Current()->device, QStringLiteral("/dev/ttyUSB0"));
    QVERIFY(chooser.toolTip().contains(kById));
}

void TestPortChooser::listUpdates_keepTheChoiceQuietly()
{
    PortChooser chooser;
    QSignalSpy chosen(&chooser, &PortChooser::PortChosen);
    chooser.SetPorts({Port("/dev/ttyUSB0", kById, "Cable")});
    chooser.SelectPath(kById);
    QCOMPARE(chooser.currentIndex(), 0);

    // Another adapter is plugged in and sorts first; the holder of ours changes.
    SerialPortEntry ours = Port("/dev/ttyUSB0", kById, "Cable");
    ours.holder = PortHolder::OtherProgram;
    chooser.SetPorts({Port("/dev/ttyACM0", QString(), "Modem"), ours});
    QCOMPARE(chooser.currentIndex(), 1);
    QCOMPARE(chooser.currentText(), QStringLiteral("/dev/ttyUSB0: Cable (in use)"));
    QCOMPARE(chosen.count(), 0);
}

void TestPortChooser::unpluggedAndBack_isChosenAgain()
{
    PortChooser chooser;
    chooser.SetPorts({Port("/dev/ttyS0"), Port("/dev/ttyUSB0", kById, "Cable")});
    chooser.SelectPath(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(chooser.currentIndex(), 1);
    chooser.SetPorts({Port("/dev/ttyS0")});
    QCOMPARE(chooser.currentIndex(), -1);
    QVERIFY(!chooser.Current());
    // Back in another socket: another device name, the same stable path.
    chooser.SetPorts({Port("/dev/ttyS0"), Port("/dev/ttyUSB1", kById, "Cable")});
    QCOMPARE(chooser.currentIndex(), 1);
    QCOMPARE(chooser.Current()->device, QStringLiteral("/dev/ttyUSB1"));
}

void TestPortChooser::selectPath_byDeviceOrStablePath()
{
    PortChooser chooser;
    chooser.SetPorts({Port("/dev/ttyS0"), Port("/dev/ttyUSB0", kById)});
    chooser.SelectPath(kById);
    QCOMPARE(chooser.currentIndex(), 1);
    chooser.SelectPath(QStringLiteral("/dev/ttyS0"));
    QCOMPARE(chooser.currentIndex(), 0);
    // A COM number that stands for a device not present now.
    chooser.SelectPath(QStringLiteral("/dev/ttyS7"));
    QCOMPARE(chooser.currentIndex(), -1);
    chooser.SetPorts({Port("/dev/ttyS0"), Port("/dev/ttyS7")});
    QCOMPARE(chooser.currentIndex(), 1);
}

void TestPortChooser::openingTheList_asksForAFreshList()
{
    PortChooser chooser;
    QSignalSpy opening(&chooser, &PortChooser::ListOpening);
    // The window refreshes the list in answer; the popup shows the fresh one.
    connect(&chooser, &PortChooser::ListOpening, &chooser,
            [&] { chooser.SetPorts({Port("/dev/ttyUSB3")}); });
    chooser.show();
    chooser.showPopup();
    QCOMPARE(opening.count(), 1);
    QCOMPARE(chooser.count(), 1);
    chooser.hidePopup();
}

void TestPortChooser::accessibleNameAndItems()
{
    PortChooser chooser;
    chooser.SetPorts({Port("/dev/ttyUSB0", kById, "Cable")});
    chooser.setCurrentIndex(0);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&chooser);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::ComboBox);
    // Qt reads a combo box's name from its label on Linux; elsewhere from here.
    QCOMPARE(chooser.accessibleName(), QStringLiteral("Serial Adapters"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("/dev/ttyUSB0: Cable"));
}

QTEST_MAIN(TestPortChooser)
#include "tst_portchooser.moc"
