// Figures for USB adapters' latency timers: the production tool's download of a full image to a
// simulated unit at 19200 baud whose adapter holds its answers (each block's ACK) 0, 1 and 16 ms,
// against the time the wire itself needs.

#include "support/SimUnit.h"
#include "support/TolvexRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kImageSize = 32700;

// Seconds of the download step as the tool reports it; -1 when it failed.
double DownloadSeconds(const QString &image, int latencyMs, const QTemporaryDir &dir)
{
    SimUnit sim;
    const QString link = dir.filePath(QStringLiteral("unit-latency-%1").arg(latencyMs));
    if (!sim.start({"--link", link, "--wire-delay", "--adapter-latency-ms",
                    QString::number(latencyMs)}))
        return -1;
    TolvexRun run;
    if (!run.Run({"--json", "-p", link, "download", "--image", image}, 120000) ||
        run.ExitCode() != 0)
        return -1;
    const QList<QJsonObject> ends = run.Events("step-end");
    return ends.isEmpty() ? -1 : ends.first().value("durationMs").toDouble() / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QByteArray bytes(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i)
        bytes[i] = char((i * 131 + 7) & 0xFF);
    const QString image = dir.filePath("image.bin");
    QFile file(image);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.close();

    // 128-byte blocks of 132 bytes on the wire, each answered by one ACK byte; 10 bits a byte.
    const int blocks = (kImageSize + 127) / 128;
    const double wire = blocks * (132.0 + 1.0) * 10.0 / 19200.0;
    std::printf("download of a %d-byte image (%d blocks) at 19200 baud; the wire alone: %.2f s\n",
                kImageSize, blocks, wire);
    for (int latency : {0, 1, 16}) {
        const double seconds = DownloadSeconds(image, latency, dir);
        if (seconds < 0) {
            std::printf("  adapter latency timer %2d ms: FAILED\n", latency);
            continue;
        }
        std::printf("  adapter latency timer %2d ms: %.2f s = %.3f times the wire time\n",
                    latency, seconds, seconds / wire);
    }
    return 0;
}
