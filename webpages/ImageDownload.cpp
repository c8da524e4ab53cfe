#include "ImageDownload.h"

#include "XmodemFrame.h"

#include "settings/TextFile.h"

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
    QString error;
    if (!ReadRegularFile(path, kLargestImageRead, image, &error)) {
        *logLine = QStringLiteral("Image file read error: ") + error;
        return false;
    }
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
        switch (link.VersionStep(reply, ExchangeError::NotFoundTooManyErrors)) {
        case ExchangeLink::VersionOutcome::Waiting:
            return;
        case ExchangeLink::VersionOutcome::Failed:
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
        if (byte == kNak) {
            RefuseBlock(link);
            return;
        }
        if (byte == kAck && SendImageBlock(link))
            m_step = AwaitFinalAck;
        break;
    case AwaitFinalAck:
        if (byte == kNak) {
            RefuseBlock(link);
            return;
        }
        if (byte == kAck) {
            link.SendBytes(QByteArray(1, kEot), kEotAckTicks);
            m_step = AwaitEotAck;
        }
        break;
    case AwaitEotAck:
        if (byte == kAck) {
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

void ImageDownload::RefuseBlock(ExchangeLink &link)
{
    // No block goes out twice: the unit is told the transfer is over, and the failure names
    // the block it refused rather than passing for a unit that fell silent.
    link.SendBytes(QByteArray(2, kCan), 0);
    ExchangeResult result;
    result.outcome = ExchangeResult::Outcome::Failed;
    result.error = ExchangeError::NoCommunication;
    result.boxKind = MessageKind::Error;
    result.boxText = QStringLiteral("Cannot communicate with TOLVEX\nError 7");
    result.logLine = QStringLiteral("Cannot communicate with TOLVEX");
    result.diagnosis = QStringLiteral("The unit refused block %1 (NAK); blocks are not sent again")
                           .arg(m_blockCounter - 1);
    link.Finish(result);
}

void ImageDownload::Abort(ExchangeLink &link, EndCause cause)
{
    // Once "zp" went out the unit waits for blocks; two CANs tell it the transfer is over.
    if (cause != EndCause::PortLost && m_step >= AwaitStart)
        link.SendBytes(QByteArray(2, kCan), 0);
}

void ImageDownload::Ended()
{
    m_step = Idle;
    m_view.SetProgressVisible(false);
    m_view.DownloadEnded();
}
