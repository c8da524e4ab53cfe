// Figures for the image download: against lrzsz's rx side by side with lrzsz's sx sending the
// same bytes, and against the simulated unit at 19200 baud.

#include "app/MainUnit.h"
#include "support/EventWait.h"
#include "support/PtyTools.h"
#include "support/RxPeer.h"
#include "support/ScriptedDialogs.h"
#include "support/SimUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray Image(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 131 + 7) & 0xFF);
    return image;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// The program's download into rx; seconds from rx's NAK to its ACK of the EOT.
double ProgramToRx(const QByteArray &image)
{
    QTemporaryDir dir;
    RxPeer peer;
    if (!peer.Open(dir.filePath("received.bin")))
        return -1;
    WriteFile(dir.filePath("ComPorts.txt"), "COM1=" + peer.SlavePath().toLocal8Bit() + "\n");
    WriteFile(dir.filePath("WebPages.bin"), image);
    ScriptedDialogs dialogs;
    StartOptions options;
    options.programPath = dir.filePath("tolvex-config");
    options.macCounterPath = dir.filePath("no-counter");
    options.folders = FileFolders{}; // beside the program only
    TMainForm form(options, dialogs);
    form.Download().SetImage(image);
    form.Engine().Start(form.Download());
    if (!WaitFor([&] { return !dialogs.boxes.isEmpty() && peer.RxFinished(); }, 60000) ||
        !dialogs.boxTexts().value(0).startsWith("Download complete"))
        return -1;
    return peer.TransferSeconds();
}

// lrzsz's sx sending the same file to rx, each on a terminal of its own like the program.
double SxToRx(const QByteArray &image)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("image.bin"), image);
    PtyPair sxSide;
    PtyPair rxSide;
    Pipe fromSx;
    Pipe fromRx;
    if (!sxSide.Open() || !rxSide.Open() || !fromSx.Open() || !fromRx.Open())
        return -1;
    Forwarder toRx(fromSx.read, rxSide.master);
    Forwarder toSx(fromRx.read, sxSide.master);
    const pid_t rx =
        SpawnWithIo({"rx", "-b", "-q", "received.bin"}, rxSide.slave, fromRx.write, dir.path());
    const pid_t sx =
        SpawnWithIo({"sx", "-b", "-q", "image.bin"}, sxSide.slave, fromSx.write, dir.path());
    fromRx.CloseWrite();
    fromSx.CloseWrite();
    int rxExit = -1;
    int sxExit = -1;
    const bool ended = WaitFor(
        [&] {
            if (rxExit < 0)
                rxExit = ReapChild(rx);
            if (sxExit < 0)
                sxExit = ReapChild(sx);
            return rxExit >= 0 && sxExit >= 0;
        },
        60000);
    if (!ended || rxExit != 0 || sxExit != 0)
        return -1;
    return toSx.SpanSeconds();
}

void AgainstRx()
{
    const QByteArray image = Image(32511);
    QList<double> ours;
    QList<double> theirs;
    for (int round = 0; round < 5; ++round) {
        ours << ProgramToRx(image);
        theirs << SxToRx(image);
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    const double program = ours.at(2);
    const double sx = theirs.at(2);
    std::printf("32511-byte image to rx, NAK to ACK of EOT, median of 5: program %.4f s, sx %.4f s "
                "= %.3f times (goal <= 1.0)\n",
                program, sx, program / sx);
    std::printf("  (rx waits about 1 s for a repeated EOT before it acknowledges; without that "
                "second: program %.4f s, sx %.4f s)\n",
                program - 1.0, sx - 1.0);
}

void AgainstSimulatedUnit()
{
    QTemporaryDir dir;
    SimUnit sim;
    const QString link = dir.filePath("bench-unit-download");
    if (!sim.start({"--link", link, "--wire-delay"})) {
        std::printf("simulated unit: %s\n", qPrintable(sim.errorString()));
        return;
    }
    WriteFile(dir.filePath("ComPorts.txt"), "COM1=" + link.toLocal8Bit() + "\n");
    const QByteArray image = Image(32700);
    WriteFile(dir.filePath("WebPages.bin"), image);
    ScriptedDialogs dialogs;
    StartOptions options;
    options.programPath = dir.filePath("tolvex-config");
    options.macCounterPath = dir.filePath("no-counter");
    options.folders = FileFolders{}; // beside the program only
    TMainForm form(options, dialogs);
    QElapsedTimer clock;
    clock.start();
    form.Download().SetImage(image);
    form.Engine().Start(form.Download());
    const bool done = WaitFor([&] { return !dialogs.boxes.isEmpty(); }, 60000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const int blocks = 32700 / 128 + 1;
    const double out = 4 + 4 + blocks * 132.0 + 1; // sv, zp, blocks, EOT
    const double in = 13 + 1 + blocks + 1;         // version line, NAK, ACKs, ACK of the EOT
    const double wire = (out + in) / 1920.0;
    std::printf("32700-byte image to the simulated unit at 19200 baud: %.3f s; %.0f bytes out and "
                "%.0f in take %.3f s on the wire; %+.2f%% (goal within 2%%); %s\n",
                seconds, out, in, wire, 100.0 * (seconds - wire) / wire,
                done && dialogs.boxTexts().value(0).startsWith("Download complete")
                    ? "completed"
                    : "NOT completed");
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    AgainstRx();
    AgainstSimulatedUnit();
    return 0;
}
