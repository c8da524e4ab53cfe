// The "Traffic" window: it listens only while open, shows every event as a trace line as it
// comes, and saves what it shows.

#include "app/TrafficView.h"

#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A port that takes every write and delivers what the test feeds it.
class FeedPort : public PortIo
{
public:
    OpenResult Open(const QString &) override { return OpenResult::Opened; }
    void Close() override {}
    bool Write(const QByteArray &) override { return true; }
    void Feed(const QByteArray &bytes) { Deliver(bytes); }
};

// The lines without their time stamps.
QStringList Unstamped(const QStringList &lines)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d  "));
    QStringList result;
    for (const QString &line : lines)
        result << (stamp.match(line).hasMatch() ? line.mid(14) : QStringLiteral("<date>"));
    return result;
}

} // namespace

class TestTrafficView : public QObject
{
    Q_OBJECT

    FeedPort *feed = nullptr;
    std::unique_ptr<TracingPortIo> port;
    ScriptedDialogs dialogs;

private slots:
    void init()
    {
        auto inner = std::make_unique<FeedPort>();
        feed = inner.get();
        port = std::make_unique<TracingPortIo>(std::move(inner));
        dialogs = ScriptedDialogs();
    }
    void cleanup() { port.reset(); }

    void listensOnlyWhileOpen();
    void showsEachEventAsItComes();
    void save_writesWhatIsShown();
    void save_cancelledOrFailed();
    void clear_startsAfresh();
    void controls_namedAndInTabOrder();
    void destroyedWhileOpen_stopsListening();
};

void TestTrafficView::listensOnlyWhileOpen()
{
    TrafficView view(*port, dialogs);
    QVERIFY(!port->HasListeners());
    port->Write("before\r\n");
    QVERIFY(view.Lines().isEmpty());

    view.show();
    QVERIFY(view.IsListening());
    QVERIFY(port->HasListeners());
    port->Write("sv\r\n");
    view.close();
    QVERIFY(!view.IsListening());
    QVERIFY(!port->HasListeners());
    port->Write("while closed\r\n");

    view.show();
    port->Write("zp\r\n");
    QCOMPARE(Unstamped(view.Lines()),
             (QStringList{"<date>", "TX  \"sv\\r\\n\"",
                          "--  not traced while this window was closed", "TX  \"zp\\r\\n\""}));
}

void TestTrafficView::showsEachEventAsItComes()
{
    TrafficView view(*port, dialogs);
    view.show();
    port->Open("/dev/ttyUSB0");
    port->Write("sv\r\n");
    QCOMPARE(view.Lines().size(), 3);
    feed->Feed("SV1.0");
    QCOMPARE(view.Lines().size(), 3); // half a line waits for the rest
    feed->Feed("-UDP\r\n");
    QCOMPARE(view.Lines().size(), 4);
    port->Write(QByteArray(1, 0x04));
    feed->Feed(QByteArray(1, 0x06));
    port->Close();
    QCOMPARE(Unstamped(view.Lines()),
             (QStringList{"<date>", "--  open /dev/ttyUSB0: opened", "TX  \"sv\\r\\n\"",
                          "RX  \"SV1.0-UDP\\r\\n\"", "TX  EOT", "RX  ACK to EOT", "--  close"}));
    QVERIFY(view.TraceMemo->isReadOnly());
}

void TestTrafficView::save_writesWhatIsShown()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench trace.txt"));
    TrafficView view(*port, dialogs);
    view.show();
    port->Write("sv\r\n");
    feed->Feed("SV1"); // not finished: saved as it is
    dialogs.fileNames << path;
    view.SaveButton->click();
    QCOMPARE(dialogs.filters, QStringList{"Text Files|*.txt"});
    QVERIFY(dialogs.boxes.isEmpty());
    const QStringList lines = view.Lines();
    QCOMPARE(Unstamped(lines), (QStringList{"<date>", "TX  \"sv\\r\\n\"", "RX  \"SV1\""}));
    QCOMPARE(ReadTestFile(path), (lines.join('\n') + '\n').toUtf8());
}

void TestTrafficView::save_cancelledOrFailed()
{
    QTemporaryDir dir;
    TrafficView view(*port, dialogs);
    view.show();
    port->Write("sv\r\n");
    view.SaveButtonClick(); // no name: cancelled
    QVERIFY(dialogs.boxes.isEmpty());
    QVERIFY(QDir(dir.path()).isEmpty());

    const QString missing = dir.filePath(QStringLiteral("gone/trace.txt"));
    dialogs.fileNames << missing;
    view.SaveButtonClick();
    QCOMPARE(dialogs.boxes.size(), 1);
    QCOMPARE(dialogs.boxes.first().kind, MessageKind::Error);
    QCOMPARE(dialogs.boxes.first().text, "Cannot create file " + missing);
    QCOMPARE(view.Lines().size(), 2); // the trace is still there to save elsewhere
}

void TestTrafficView::clear_startsAfresh()
{
    TrafficView view(*port, dialogs);
    view.show();
    port->Write("sv\r\n");
    feed->Feed("half");
    view.ClearButton->click();
    QVERIFY(view.Lines().isEmpty());
    port->Write("zp\r\n");
    QCOMPARE(Unstamped(view.Lines()), (QStringList{"<date>", "TX  \"zp\\r\\n\""}));
}

void TestTrafficView::controls_namedAndInTabOrder()
{
    TrafficView view(*port, dialogs);
    QCOMPARE(view.windowTitle(), QStringLiteral("Traffic"));
    QVERIFY(view.isWindow());
    QCOMPARE(view.TraceMemo->accessibleName(), QStringLiteral("Traffic"));
    QCOMPARE(view.SaveButton->text(), QStringLiteral("Save"));
    QCOMPARE(view.SaveButton->accessibleName(), QStringLiteral("Save"));
    QCOMPARE(view.ClearButton->accessibleName(), QStringLiteral("Clear"));

    QWidget parent;
    TrafficView owned(*port, dialogs, &parent);
    QVERIFY(owned.isWindow()); // a window of its own beside the main window

    view.show();
    QApplication::setActiveWindow(&view);
    view.TraceMemo->setFocus(Qt::TabFocusReason);
    QStringList visited;
    for (int i = 0; i < 3; ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, (QStringList{"TraceMemo", "SaveButton", "ClearButton"}));
}

void TestTrafficView::destroyedWhileOpen_stopsListening()
{
    {
        TrafficView view(*port, dialogs);
        view.show();
        QVERIFY(port->HasListeners());
    }
    QVERIFY(!port->HasListeners());
    port->Write("sv\r\n"); // nobody left to tell: no crash
}

QTEST_MAIN(TestTrafficView)
#include "tst_trafficview.moc"
