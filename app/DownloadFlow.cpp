#include "DownloadFlow.h"

#include "widgets/TdxfProgressBar.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>

namespace {

QString GroupedNumber(qint64 value)
{
    return QLocale(QLocale::English).toString(value);
}

} // namespace

DownloadFlow::DownloadFlow(MainFormUi &ui, Dialogs &dialogs, ExchangeLog &log, QObject *parent)
    : QObject(parent), m_ui(ui), m_dialogs(dialogs), m_log(log), m_download(*this)
{
    connect(&m_maker, &ImageMaker::Finished, this, &DownloadFlow::OnImageMade);
}

void DownloadFlow::Start(const FileFolders &folders, const PageFileList &pages)
{
    QString folderError;
    const QString workFolder = PrepareWorkFolder(folders, &folderError);
    if (workFolder.isEmpty()) {
        m_dialogs.Message(MessageKind::Error, folderError);
        m_log.AppendLog(QStringLiteral("Unable to create Temp Folder: ") + folderError);
        return;
    }
    m_maker.Start(FindBuilder(folders), pages, workFolder);
}

void DownloadFlow::OnImageMade(const ImageMakerResult &result)
{
    emit BuildEnded();
    if (!result.ok) {
        if (result.logBeforeBox) {
            for (const QString &line : result.logLines)
                m_log.AppendLog(line);
        }
        m_dialogs.Message(MessageKind::Error, result.boxText);
        if (!result.logBeforeBox) {
            for (const QString &line : result.logLines)
                m_log.AppendLog(line);
        }
        return;
    }
    m_download.SetImage(result.image);
    m_imageSize = result.image.size();
    ShowImageSize(QString());
    m_downloadStartMs = QDateTime::currentMSecsSinceEpoch();
    emit ImageReady();
}

void DownloadFlow::ShowImageSize(const QString &state)
{
    if (m_imageSize < 0) {
        m_ui.ImageSizeLabel->clear();
        return;
    }
    QString text = QStringLiteral("Image: %1 of %2 bytes")
                       .arg(GroupedNumber(m_imageSize), GroupedNumber(kMaxImageSize));
    if (!state.isEmpty())
        text += QStringLiteral("\n") + state;
    m_ui.ImageSizeLabel->setText(text);
}

void DownloadFlow::SetProgressVisible(bool visible)
{
    m_ui.ProgressLabel->setVisible(visible);
    m_ui.WebPagedxfProgressBar->setVisible(visible);
}

void DownloadFlow::SetProgress(int percent, qint64 bytesSent, qint64 total)
{
    m_ui.WebPagedxfProgressBar->SetPosition(percent);
    // The time left from the pace so far; none before the pace is known.
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - m_downloadStartMs;
    QString state =
        QStringLiteral("Sent %1 of %2 bytes").arg(GroupedNumber(bytesSent), GroupedNumber(total));
    if (bytesSent > 0 && bytesSent < total && elapsed > 0) {
        const qint64 leftMs = elapsed * (total - bytesSent) / bytesSent;
        state += QStringLiteral(", about %1 s left").arg((leftMs + 999) / 1000);
    }
    ShowImageSize(state);
}

void DownloadFlow::DownloadEnded()
{
    // The page copies and the image went when the image was loaded; only the state is left.
    const qint64 sent = m_download.BytesAcknowledged();
    ShowImageSize(sent >= m_imageSize
                      ? QStringLiteral("Downloaded")
                      : QStringLiteral("Stopped after %1 bytes").arg(GroupedNumber(sent)));
}
