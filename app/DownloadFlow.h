#pragma once

#include "Dialogs.h"
#include "MainFormUi.h"
#include "settings/FileLocations.h"
#include "webpages/ImageDownload.h"
#include "webpages/ImageMaker.h"
#include "webpages/PageFileList.h"

#include <QObject>

// "Download To TOLVEX" in the window: the image is made from the page list by the core's
// ImageMaker (the same road the production tool takes), failures reach the window's boxes and
// log in its own words, and the download's progress shows on the "Web Pages" page. The window
// starts the download exchange when ImageReady comes, on the engine it shares with the others.
class DownloadFlow : public QObject, public DownloadView
{
    Q_OBJECT
public:
    DownloadFlow(MainFormUi &ui, Dialogs &dialogs, ExchangeLog &log, QObject *parent = nullptr);

    // Makes the image of `pages` in the work folder `folders` give (the program's folder, or a
    // per-user folder where that cannot be written); BuildEnded follows, then ImageReady when
    // the image is loaded, or the failure's box and log lines.
    void Start(const FileFolders &folders, const PageFileList &pages);
    bool Building() const { return m_maker.Running(); }
    // Stops a running build (the box "Image build cancelled" follows).
    void CancelBuild() { m_maker.Cancel(); }

    ImageDownload &Download() { return m_download; }
    ImageMaker &Maker() { return m_maker; }

    // DownloadView
    void SetProgressVisible(bool visible) override;
    void SetProgress(int percent, qint64 bytesSent, qint64 total) override;
    void DownloadEnded() override;

signals:
    // The build ended, however it ended; emitted before any box, so the buttons are right
    // while it is open.
    void BuildEnded();
    // The image is in Download(): start it.
    void ImageReady();

private:
    void OnImageMade(const ImageMakerResult &result);
    // The image's size against the unit's limit, with `state` on a second line.
    void ShowImageSize(const QString &state);

    MainFormUi &m_ui;
    Dialogs &m_dialogs;
    ExchangeLog &m_log;
    ImageMaker m_maker;
    ImageDownload m_download;
    // When the running download started, for the time left.
    qint64 m_downloadStartMs = 0;
    qint64 m_imageSize = -1;
};
