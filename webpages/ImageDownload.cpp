#include "ImageDownload.h"

#include "XmodemFrame.h"

#include <QFile>

namespace {
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEot = 0x04;
constexpr char kCan = 0x18;
constexpr int kBlockData = 128;
// Receivers commonly wait a second for a repeated EOT before they acknowledge the first, so
// the EOT's acknowledgement gets longer than the usual ten ticks.
constexpr int kEotAckTicks = 30;
} // namespace

bool LoadImageFile(const QString &path, QByteArray *image, QString *logLine)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *logLine = QStringLiteral("Image file read error: ") + file.errorString();
        return false;
    }
    if (file.size() > kLargestImageRead) {
        *logLine =
            QStringLiteral("Image file read error: %1 bytes is far too large").arg(file.size());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *logLine = QStringLiteral("Image file read error: ") + file.errorString();
        return false;
    }
    *image = bytes;
    return true;
}

void ImageDownload::SetImage(const QByteArray &image)
{
    m_image = image;
}

qint64 ImageDownload::BytesAcknowledged() const
{
    return qMin<qint64>(qint64(m_blockCounter - 1) * kBlockData, m_image.size());
}

void ImageDownload::Begin(ExchangeLink &link)
{
    ++m_run;
    m_blockCounter = 1;
    m_step = AwaitVersion;
    link.SendLine(QByteArrayLiteral("sv\r\n"));
}

void ImageDownload::Retry(ExchangeLink &link)
{
    link.SendLine(QByteArrayLiteral("sv\r\n"));
}

void ImageDownload::HandleReply(ExchangeLink &link, const QByteArray &reply)
{
    if (m_step == AwaitVersion) {
        const int run = m_run;
        switch (link.VersionStep(reply, ExchangeError::NotFoundTooManyErrors)) {
        case ExchangeLink::VersionOutcome::Waiting:
            return;
        case ExchangeLink::VersionOutcome::Failed:
            // The version step has ended this run, and the host may have begun the next one
            // meanwhile (from the box or from Finished): that one keeps its step.
            if (run == m_run)
                End();
            else
                m_view.DownloadEnded();
            return;
        case ExchangeLink::VersionOutcome::Accepted:
            break;
        }
        // Not a line that an "Error" answer would resend: those are over with the version.
        link.SendBytes(QByteArrayLiteral("zp\r\n"));
        m_step = AwaitStart;
        return;
    }
    if (reply.isEmpty())
        return;
    const char byte = reply.at(0);
    switch (m_step) {
    case AwaitStart:
        m_view.SetProgressVisible(true);
        if (byte == kNak)
            m_step = SendImageBlock(link) ? AwaitFinalAck : AwaitBlockAck;
        break;
    case AwaitBlockAck:
        // A NAK sends nothing: no block goes out twice, the time-out ends the transfer.
        if (byte == kAck && SendImageBlock(link))
            m_step = AwaitFinalAck;
        break;
    case AwaitFinalAck:
        if (byte == kAck) {
            link.SendBytes(QByteArray(1, kEot), kEotAckTicks);
            m_step = AwaitEotAck;
        }
        break;
    case AwaitEotAck:
        if (byte == kAck) {
            End();
            ExchangeResult result;
            result.boxKind = MessageKind::Information;
            result.boxText =
                QStringLiteral("Download complete\rFile size: %1 bytes").arg(m_image.size());
            link.Finish(result);
        }
        break;
    default:
        break;
    }
}

bool ImageDownload::SendImageBlock(ExchangeLink &link)
{
    const int size = int(m_image.size());
    link.SendBytes(BuildImageBlock(m_image, m_blockCounter));
    m_view.SetProgress(BlockProgress(m_blockCounter, size),
                       qMin<qint64>(qint64(m_blockCounter) * kBlockData, size), size);
    const bool final = IsFinalBlock(m_blockCounter, size);
    ++m_blockCounter;
    return final;
}

void ImageDownload::Abort(ExchangeLink &link, EndCause cause)
{
    // Once "zp" went out the unit waits for blocks; two CANs tell it the transfer is over.
    if (cause != EndCause::PortLost && m_step >= AwaitStart)
        link.SendBytes(QByteArray(2, kCan), 0);
    End();
}

void ImageDownload::End()
{
    m_step = Idle;
    m_view.SetProgressVisible(false);
    m_view.DownloadEnded();
}
