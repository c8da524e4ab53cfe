#pragma once

#include "ImageBuild.h"
#include "PageFileList.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

// Two pages whose copies would take the same file name in the temp folder, and so one would
// silently replace the other in the image. Names are compared ignoring letter case, as the
// list itself and the file systems the program runs on treat them.
struct SharedPageName
{
    QString first;  // the earlier entry in list order
    QString second; // the later one
    bool Found() const { return !second.isNull(); }
};

// The first pair of entries that share a file name; none found when every name is unique.
SharedPageName FindSharedPageName(const PageFileList &pages);

// How making an image ended. On success `image` holds the bytes to send and no build file is
// left on disk; on failure the texts say why, in the window's words (`boxText` for the error box,
// `logLines` for the log, in the order `logBeforeBox` gives) and in one text for hosts without
// boxes (`message`).
struct ImageMakerResult
{
    bool ok = false;
    QByteArray image;
    QString boxText;
    QStringList logLines;
    bool logBeforeBox = false;
    QString message;
};

// The whole road from a page list to an image in memory, for every host: refuse a list whose
// pages share a file name, copy the pages into the work folder, run the builder (in its own
// process, so the caller's thread never waits), check the image's size, load it, and delete the
// copies and the image whatever happened. Finished is emitted once per Start, also for a failure
// found before the builder runs (then from inside Start, so the host can report it at once).
class ImageMaker : public QObject
{
    Q_OBJECT
public:
    explicit ImageMaker(QObject *parent = nullptr);
    ~ImageMaker() override;

    // Makes the image of `pages` with `builderProgram` in `workFolder`; an empty work folder means
    // a temporary folder of this object's own, made at the first start and removed with it, so
    // runs side by side never pack each other's pages. False (nothing done) while one runs.
    bool Start(const QString &builderProgram, const PageFileList &pages,
               const QString &workFolder = QString(), int timeoutMs = kBuilderTimeoutMs);
    bool Running() const { return m_builder.Running(); }
    // Stops a running build; Finished follows with "Image build cancelled".
    void Cancel() { m_builder.Cancel(); }
    // The work folder of the running or last start.
    QString WorkFolder() const { return m_workFolder; }

signals:
    void Finished(const ImageMakerResult &result);

private:
    void OnBuilt(const ImageBuildResult &built);
    void Fail(ImageMakerResult result);

    ImageBuilder m_builder;
    std::unique_ptr<QTemporaryDir> m_ownFolder;
    QString m_workFolder;
    PageFileList m_pages;
};
