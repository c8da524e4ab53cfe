#pragma once

#include "link/ExchangeEngine.h"

#include <QByteArray>

// "Download To TOLVEX" after a successful build: the version query, "zp", then the image in
// acknowledged 132-byte blocks (checksum XMODEM with 0xFF padding, no block ever sent twice),
// then EOT.
class ImageDownload : public Exchange
{
public:
    enum Step
    {
        Idle = 0,
        AwaitVersion = 1,
        AwaitStart = 2, // "zp" sent, image loaded, waiting for the unit's NAK
        AwaitBlockAck = 3,
        AwaitFinalAck = 4,
        AwaitEotAck = 5,
    };

    ImageDownload(ExchangeEngine &engine, ExchangeHost &host);

    void StartDownload();
    // HandleDownloadReply: a reply line in the version step, single bytes after it.
    void HandleReply(const QByteArray &reply) override;

    int DownloadStep() const { return m_downloadStep; }
    int ImageSize() const { return int(m_imageBuffer.size()); }
    // The number the next block carries on the wire: 1 after a load, wrapping 255 -> 0.
    int BlockNumber() const { return m_blockCounter & 0xFF; }

private:
    void HandleVersionReply(const QByteArray &reply);
    void Fail(const QString &text, const QString &logLine);
    void LoadImage();
    // Sends the block the counter points at; true when it was the final block.
    bool SendImageBlock();
    void Complete();

    ExchangeEngine &m_engine;
    ExchangeHost &m_host;
    int m_downloadStep = Idle;
    QByteArray m_imageBuffer;
    bool m_imageLoaded = false;
    // Counts blocks without wrapping, so images past 255 blocks keep their data offsets.
    int m_blockCounter = 1;
};
