#pragma once

#include "link/Exchange.h"

#include <QByteArray>

// Where the download shows its progress. The window has a bar and a label; the production
// tool prints a live line.
class DownloadView
{
public:
    virtual ~DownloadView() = default;

    virtual void SetProgressVisible(bool visible) = 0;
    // After each block: the bar's percentage and the image bytes sent so far of `total`.
    virtual void SetProgress(int percent, qint64 bytesSent, qint64 total) = 0;
    // The download ended, however it ended: the page copies and the image made for it go.
    virtual void DownloadEnded() = 0;
};

// The largest image file read into memory; far beyond any image the build admits.
constexpr qint64 kLargestImageRead = 16 * 1024 * 1024;

// Reads the image to send (a regular file of at most kLargestImageRead bytes). On failure
// *logLine says why ("Image file read error: " and the reader's message); the box is
// "Cannot open file\nError 3".
bool LoadImageFile(const QString &path, QByteArray *image, QString *logLine);

// "Download To TOLVEX" with a loaded image: the version query, "zp", then the image in
// acknowledged 132-byte blocks (checksum XMODEM with 0xFF padding, no block ever sent twice),
// then EOT. Only the version query is retried after a time-out; once "zp" went out, a
// time-out, a cancel or a NAK to a block sends CAN CAN so the unit leaves its transfer, and the
// download fails.
class ImageDownload : public Exchange
{
public:
    enum Step
    {
        Idle = 0,
        AwaitVersion = 1,
        AwaitStart = 2, // "zp" sent, waiting for the unit's NAK
        AwaitBlockAck = 3,
        AwaitFinalAck = 4,
        AwaitEotAck = 5,
    };

    explicit ImageDownload(DownloadView &view) : m_view(view) {}

    // The image the next run sends.
    void SetImage(const QByteArray &image);
    int ImageSize() const { return int(m_image.size()); }

    QString Name() const override { return QStringLiteral("Download"); }
    void Begin(ExchangeLink &link) override;
    // A reply line in the version step, single bytes after it.
    void HandleReply(ExchangeLink &link, const QByteArray &reply) override;
    bool RetryAllowed() const override { return m_step == AwaitVersion; }
    void Retry(ExchangeLink &link) override;
    void Abort(ExchangeLink &link, EndCause cause) override;
    bool SingleBytes() const override { return m_step >= AwaitStart; }
    // Progress hidden, build files deleted, ready for the next run.
    void Ended() override;

    int DownloadStep() const { return m_step; }
    // The number the next block carries on the wire: 1 at the start, wrapping 255 -> 0.
    int BlockNumber() const { return m_blockCounter & 0xFF; }
    // Image bytes acknowledged by the unit so far.
    qint64 BytesAcknowledged() const;

private:
    // Sends the block the counter points at; true when it was the final block.
    bool SendImageBlock(ExchangeLink &link);
    // The unit answered the last block with NAK: CAN CAN, and the download fails (Error 7)
    // naming that block.
    void RefuseBlock(ExchangeLink &link);

    DownloadView &m_view;
    int m_step = Idle;
    QByteArray m_image;
    // Counts blocks without wrapping, so images past 255 blocks keep their data offsets.
    int m_blockCounter = 1;
};
