#include "ImageDownload.h"

#include "XmodemFrame.h"

#include <QFile>

namespace {
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kEot = 0x04;
// Receivers commonly wait a second for a repeated EOT before they acknowledge the first, so
// the EOT's acknowledgement gets longer than the usual ten ticks.
constexpr int kEotAckTicks = 30;
// Far beyond any image the build admits; a larger file is not read into memory.
constexpr qint64 kLargestImageRead = 16 * 1024 * 1024;
} // namespace

ImageDownload::ImageDownload(ExchangeEngine &engine, ExchangeHost &host)
    : m_engine(engine), m_host(host)
{
    m_engine.RegisterExchange(ExchangeEngine::StateDownload, this);
}

void ImageDownload::StartDownload()
{
    m_engine.SetErrorRetryCount(0);
    if (!m_engine.PortOpen() && !m_engine.OpenSerialPort()) {
        m_host.DeleteBuildFiles();
        return;
    }
    m_engine.SetLastCommand(QByteArrayLiteral("sv\r\n"));
    m_engine.WriteSerialPort(m_engine.LastCommand());
    m_engine.SetExchangeState(ExchangeEngine::StateDownload);
    m_downloadStep = AwaitVersion;
}

void ImageDownload::HandleReply(const QByteArray &reply)
{
    if (m_downloadStep == AwaitVersion) {
        HandleVersionReply(reply);
        return;
    }
    if (reply.isEmpty())
        return;
    const char byte = reply.at(0);
    switch (m_downloadStep) {
    case AwaitStart:
        m_host.SetProgressVisible(true);
        if (byte == kNak && m_imageLoaded)
            m_downloadStep = SendImageBlock() ? AwaitFinalAck : AwaitBlockAck;
        break;
    case AwaitBlockAck:
        if (byte == kAck && SendImageBlock())
            m_downloadStep = AwaitFinalAck;
        break;
    case AwaitFinalAck:
        if (byte == kAck) {
            m_engine.WriteSerialPort(QByteArray(1, kEot));
            m_engine.SetReplyTimeout(kEotAckTicks);
            m_downloadStep = AwaitEotAck;
        }
        break;
    case AwaitEotAck:
        if (byte == kAck)
            Complete();
        break;
    default:
        break;
    }
}

void ImageDownload::HandleVersionReply(const QByteArray &reply)
{
    const int error = m_engine.CheckErrorReply(reply);
    if (error == -1) {
        // This one closes the port before its box.
        m_engine.SetReplyTimeout(0);
        m_engine.CloseSerialPort();
        m_host.ShowMessage(MessageKind::Error, QStringLiteral("TOLVEX not found\rError 1"));
        m_host.AppendLog(QStringLiteral("TOLVEX not found"));
        m_downloadStep = Idle;
        m_engine.SetExchangeState(ExchangeEngine::StateNone);
        return;
    }
    if (error == 1)
        return;

    const int version = m_engine.CheckVersionReply(reply.mid(2));
    if (version == ExchangeEngine::kResent)
        return;
    if (version < 1) {
        Fail(QStringLiteral("TOLVEX not found\rError 2"), QStringLiteral("TOLVEX not found"));
        return;
    }
    if (version >= ExchangeEngine::kFirstUnsupportedVersion) {
        Fail(QStringLiteral("TOLVEX version not supported\r"
                            "Please download the latest version of this application"),
             QStringLiteral("TOLVEX version not supported"));
        return;
    }
    m_engine.WriteSerialPort(QByteArrayLiteral("zp\r\n"));
    LoadImage();
    m_downloadStep = AwaitStart;
}

void ImageDownload::Fail(const QString &text, const QString &logLine)
{
    m_engine.SetReplyTimeout(0);
    m_host.ShowMessage(MessageKind::Error, text);
    m_host.AppendLog(logLine);
    m_engine.CloseSerialPort();
    m_downloadStep = Idle;
    m_engine.SetExchangeState(ExchangeEngine::StateNone);
}

void ImageDownload::LoadImage()
{
    m_imageLoaded = false;
    QFile file(m_host.ImageFilePath());
    QByteArray bytes;
    bool ok = file.open(QIODevice::ReadOnly) && file.size() <= kLargestImageRead;
    if (ok) {
        bytes = file.readAll();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        m_host.ShowMessage(MessageKind::Error, QStringLiteral("Cannot open file\nError 3"));
        m_host.AppendLog(QStringLiteral("Image file read error"));
        return;
    }
    m_imageBuffer = bytes;
    m_imageLoaded = true;
    m_blockCounter = 1;
    m_engine.SetBlockMode(true);
}

bool ImageDownload::SendImageBlock()
{
    const int size = int(m_imageBuffer.size());
    m_engine.WriteSerialPort(BuildImageBlock(m_imageBuffer, m_blockCounter));
    m_host.SetProgressPosition(BlockProgress(m_blockCounter, size));
    const bool final = IsFinalBlock(m_blockCounter, size);
    ++m_blockCounter;
    return final;
}

void ImageDownload::Complete()
{
    m_engine.SetReplyTimeout(0);
    m_engine.CloseSerialPort();
    m_downloadStep = Idle;
    m_engine.SetExchangeState(ExchangeEngine::StateNone);
    m_host.SetProgressVisible(false);
    m_engine.SetBlockMode(false);
    m_host.DeleteBuildFiles();
    m_host.ShowMessage(
        MessageKind::Information,
        QStringLiteral("Download complete\rFile size: %1 bytes").arg(m_host.ImageFileSize()));
}
