// The window's bench features as an operator sees them, against the simulated unit: the adapter
// list, the traffic window during a download, a cancelled download and a write whose mismatched
// echoes are marked. Each screen must render with its content; with TOLVEX_SCREENSHOTS set to a
// folder, the pictures are also saved there (docs/screenshots is made this way).

#include "app/MainUnit.h"
#include "app/PortChooser.h"
#include "app/TrafficView.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"
#include "support/TestFiles.h"
#include "widgets/TCSpinEdit.h"

#include <QAbstractItemView>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

class TestScreens : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    SimUnit *sim = nullptr;
    ScriptedDialogs *dialogs = nullptr;
    TMainForm *form = nullptr;

    void bringUp(const QStringList &simArguments = {})
    {
        const QString link =
            dir->filePath(QStringLiteral("unit%1").arg(QRandomGenerator::global()->generate()));
        QVERIFY(sim->start(QStringList{"--link", link} + simArguments));
        QVERIFY(WriteTestFile(dir->filePath("ComPorts.txt"), "COM1=" + link.toLocal8Bit() + "\n"));
        QVERIFY(QFile::link(TOLVEX_BIN_DIR "/MPFS.EXE", dir->filePath("MPFS.EXE")));
        StartOptions options;
        options.programPath = dir->filePath("tolvex-config");
        options.macCounterPath = dir->filePath("no-counter");
        options.folders = FileFolders{}; // beside the program only
        options.showWebPages = true;
        options.watchPorts = false;
        form = new TMainForm(options, *dialogs);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    // Saves the picture when asked to; either way it must not be empty.
    void keep(const QImage &image, const QString &name)
    {
        QVERIFY(!image.isNull() && image.width() > 100 && image.height() > 50);
        const QString folder = qEnvironmentVariable("TOLVEX_SCREENSHOTS");
        if (!folder.isEmpty())
            QVERIFY(image.save(QDir(folder).filePath(name)));
    }
    void addPage(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir->filePath(name);
        QVERIFY(WriteTestFile(path, bytes));
        dialogs->fileLists << QStringList{path};
        form->AddButtonClick();
    }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        sim = new SimUnit;
        dialogs = new ScriptedDialogs;
    }
    void cleanup()
    {
        delete form;
        form = nullptr;
        delete dialogs;
        delete sim;
        delete dir;
    }

    void adapterList()
    {
        bringUp();
        SerialPortEntry usb;
        usb.device = "/dev/ttyUSB0";
        usb.stablePath = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        usb.description = "FT232R USB UART";
        usb.manufacturer = "FTDI";
        usb.serialNumber = "A50285BI";
        usb.hasUsbIds = true;
        usb.vendorId = 0x0403;
        usb.productId = 0x6001;
        SerialPortEntry busy = usb;
        busy.device = "/dev/ttyUSB1";
        busy.stablePath = "/dev/serial/by-id/usb-Prolific_USB-Serial_Controller-if00-port0";
        busy.description = "USB-Serial Controller";
        busy.manufacturer = "Prolific Technology Inc.";
        busy.serialNumber.clear();
        busy.vendorId = 0x067b;
        busy.productId = 0x2303;
        busy.holder = PortHolder::OtherProgram;
        busy.holderPid = 4711;
        busy.holderName = "minicom";
        PortChooser *chooser = form->Ui().PortChooserComboBox;
        // This machine's own ports stay out of the picture.
        QObject::disconnect(chooser, &PortChooser::ListOpening, nullptr, nullptr);
        chooser->SetPorts({usb, busy});
        QCOMPARE(chooser->count(), 2);
        QVERIFY(chooser->itemText(1).contains("minicom"));
        chooser->setCurrentIndex(0);

        // The window with the list dropped down below the chooser.
        QImage window = form->grab().toImage();
        chooser->showPopup();
        QWidget *popup = chooser->view()->window();
        QVERIFY(QTest::qWaitFor([&] { return popup->isVisible(); }, 2000));
        const QImage list = popup->grab().toImage();
        chooser->hidePopup();
        QPainter painter(&window);
        const QPoint at = chooser->mapTo(form, QPoint(0, chooser->height()));
        painter.drawImage(at, list);
        painter.end();
        keep(window, "port-list.png");
    }

    void trafficDuringADownload_thenCancelled()
    {
        bringUp({"--wire-delay"});
        addPage("index.htm", QByteArray("<html><body><h1>TOLVEX</h1></body></html>\n"));
        addPage("inputs.cgi", QByteArray(12000, 'i'));
        form->TrafficButtonClick();
        TrafficView *traffic = form->Traffic();
        QVERIFY(traffic);
        traffic->resize(640, 420);
        form->Ui().MainPageControl->setCurrentIndex(MainFormUi::WebPagesPage);
        form->DownloadButtonClick();
        QVERIFY(QTest::qWaitFor([&] { return form->Download().DownloadStep() >= 3; }, 10000));
        QVERIFY(QTest::qWaitFor(
            [&] { return form->Ui().ImageSizeLabel->text().contains(" s left"); }, 10000));
        QTest::qWait(1500);
        QVERIFY(traffic->Lines().join('\n').contains("block"));
        keep(traffic->grab().toImage(), "traffic-download.png");
        keep(form->grab().toImage(), "download-running.png");

        form->Ui().CancelButton->click();
        QVERIFY(sim->waitForEvent("XMODEM END cancelled", 3000));
        QVERIFY(dialogs->boxes.isEmpty());
        QVERIFY(form->Ui().ImageSizeLabel->text().contains("Stopped after"));
        keep(form->grab().toImage(), "download-cancelled.png");
        form->Ui().MainPageControl->setCurrentIndex(MainFormUi::GeneralPage);
        QCOMPARE(form->LogLines().last(), QString("Download cancelled by the operator"));
        keep(form->grab().toImage(), "download-cancelled-log.png");
    }

    void writeWithMismatchesMarked()
    {
        bringUp({"--wrong-echo", "ba,ni"});
        form->ReadButtonClick();
        QVERIFY(QTest::qWaitFor([&] { return !dialogs->boxes.isEmpty(); }, 10000));
        MainFormUi &ui = form->Ui();
        const QStringList values{"192", "168", "0",   "100", "192", "168", "0", "1",
                                 "255", "255", "255", "0",   "10",  "0",   "0", "7"};
        int i = 0;
        for (auto edits :
             {ui.ipAddrEdits, ui.gateWayAddrEdits, ui.subMaskAddrEdits, ui.clientAddrEdits})
            for (QLineEdit *edit : edits)
                edit->setText(values.at(i++));
        ui.ClientPortCSpinEdit->SetValue(4001);
        ui.UpdatePeriodCSpinEdit->SetValue(30);
        ui.ServerTimeoutCSpinEdit->SetValue(90);
        ui.MainPageControl->setCurrentIndex(MainFormUi::DataPage);
        keep(form->grab().toImage(), "data-edited.png");

        dialogs->boxes.clear();
        form->WriteButtonClick();
        QVERIFY(QTest::qWaitFor([&] { return !dialogs->boxes.isEmpty(); }, 10000));
        QVERIFY2(dialogs->boxTexts().value(0).endsWith("Error 6"),
                 qPrintable(dialogs->boxTexts().join(" | ")));
        QCOMPARE(form->MarkOf(SettingsField::PortNumber), TMainForm::FieldMark::Mismatch);
        QCOMPARE(form->MarkOf(SettingsField::IpAddress), TMainForm::FieldMark::Mismatch);
        keep(form->grab().toImage(), "write-mismatches.png");
        ui.MainPageControl->setCurrentIndex(MainFormUi::GeneralPage);
        keep(form->grab().toImage(), "write-mismatches-log.png");
    }
};

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
