#include "ImageMaker.h"

#include "ImageDownload.h"

#include <QHash>
#include <QTemporaryDir>

SharedPageName FindSharedPageName(const PageFileList &pages)
{
    QHash<QString, QString> byName;
    for (const QString &entry : pages.Items()) {
        const QString name = SplitPagePath(entry).name.toCaseFolded();
        const auto found = byName.constFind(name);
        if (found != byName.cend())
            return {found.value(), entry};
        byName.insert(name, entry);
    }
    return {};
}

ImageMaker::ImageMaker(QObject *parent) : QObject(parent)
{
    connect(&m_builder, &ImageBuilder::Finished, this, &ImageMaker::OnBuilt);
}

ImageMaker::~ImageMaker() = default;

bool ImageMaker::Start(const QString &builderProgram, const PageFileList &pages,
                       const QString &workFolder, int timeoutMs)
{
    if (m_builder.Running())
        return false;
    // The list as it stands now: the operator may edit it while the builder runs.
    m_pages = pages;
    const SharedPageName shared = FindSharedPageName(pages);
    if (shared.Found()) {
        ImageMakerResult result;
        result.boxText = QStringLiteral("Two pages have the same file name:\n%1\n%2\n"
                                        "The image can hold only one of them")
                             .arg(shared.first, shared.second);
        result.logLines << QStringLiteral("Pages with the same file name: %1, %2")
                               .arg(shared.first, shared.second);
        result.message = result.boxText;
        m_workFolder.clear();
        Fail(result);
        return true;
    }

    m_workFolder = workFolder;
    if (m_workFolder.isEmpty()) {
        if (!m_ownFolder)
            m_ownFolder = std::make_unique<QTemporaryDir>();
        if (!m_ownFolder->isValid()) {
            ImageMakerResult result;
            result.message = QStringLiteral("Cannot create a work folder for the image build: %1")
                                 .arg(m_ownFolder->errorString());
            result.boxText = result.message;
            result.logLines << QStringLiteral("Unable to create Temp Folder");
            m_ownFolder.reset(); // tried afresh at the next start
            Fail(result);
            return true;
        }
        m_workFolder = m_ownFolder->path();
    }

    QStringList logLines;
    if (!CopyPagesToTempFolder(m_workFolder, m_pages, &logLines)) {
        ImageMakerResult result;
        result.boxText = QStringLiteral("Error Copying Files");
        result.logLines = logLines;
        result.logBeforeBox = true;
        result.message = QStringLiteral("Error Copying Files\n") + logLines.join(QLatin1Char('\n'));
        Fail(result);
        return true;
    }
    m_builder.Start(builderProgram, m_workFolder, m_pages, timeoutMs);
    return true;
}

void ImageMaker::OnBuilt(const ImageBuildResult &built)
{
    if (!built.ok) {
        ImageMakerResult result;
        result.boxText = built.boxText;
        result.logLines << built.logLine;
        result.message = built.boxText;
        Fail(result);
        return;
    }
    ImageMakerResult result;
    QString logLine;
    const QString output = BuilderOutputPath(m_workFolder);
    // In memory from here on: the copies and the image go at once, whatever the download does.
    result.ok = LoadImageFile(output, &result.image, &logLine);
    DeleteBuildFiles(m_workFolder, m_pages);
    if (!result.ok) {
        result.image.clear();
        result.boxText = QStringLiteral("Cannot open file\nError 3");
        result.logLines << logLine;
        result.message = QStringLiteral("Cannot open file %1: %2").arg(output, logLine);
        Fail(result);
        return;
    }
    emit Finished(result);
}

void ImageMaker::Fail(ImageMakerResult result)
{
    // Each step that made files has deleted them already (a temp folder that could not be made
    // leaves nothing to delete).
    result.ok = false;
    emit Finished(result);
}
