#include "JobPlan.h"
#include "settings/FileLocations.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumberSources.h"
#include "exchanges/SettingsStore.h"
#include "exchanges/WriteExchange.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLineCompare.h"
#include "settings/SettingsLines.h"
#include "webpages/ImageBuild.h"
#include "webpages/ImageDownload.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {

bool Fail(int status, const QString &message, int *exitStatus, QString *error)
{
    *exitStatus = status;
    *error = message;
    return false;
}

// Loads a settings file over the initial settings, as "Load File" loads it into the window.
bool LoadSettings(const QString &path, StepPlan *step, int *exitStatus, QString *error)
{
    CommandQueue lines;
    QList<SettingsUpdate> updates;
    QString message;
    if (!LoadSettingsFile(path, lines, &updates, &message))
        return Fail(ExitStatus::kFileUnusable, message, exitStatus, error);
    SnapshotSettingsStore store;
    for (const SettingsUpdate &update : updates)
        store.ApplySettingsUpdate(update);
    step->settings = store.Settings();
    step->codes = SettingsLineCodes(lines.Items());
    if (step->codes.isEmpty())
        return Fail(ExitStatus::kFileUnusable,
                    QStringLiteral("Settings file %1 holds no settings lines").arg(path),
                    exitStatus, error);
    return true;
}

bool PrepareImage(const StepOptions &options, const QString &programFolder, ImageInput *image,
                  int *exitStatus, QString *error)
{
    if (!options.imagePath.isEmpty()) {
        image->source = options.imagePath;
        QString logLine;
        if (!LoadImageFile(options.imagePath, &image->bytes, &logLine))
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Cannot open file %1: %2").arg(options.imagePath, logLine),
                        exitStatus, error);
        if (image->bytes.size() > kMaxImageSize)
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Image %1 is too large: %2 bytes, at most %3")
                            .arg(options.imagePath)
                            .arg(image->bytes.size())
                            .arg(kMaxImageSize),
                        exitStatus, error);
        if (image->bytes.isEmpty())
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Image %1 is empty").arg(options.imagePath), exitStatus,
                        error);
        image->sha256 = Sha256Hex(image->bytes);
        return true;
    }
    if (!options.listPath.isEmpty()) {
        image->source = options.listPath;
        QString message;
        if (!LoadPageList(options.listPath, &image->pages, &message))
            return Fail(ExitStatus::kFileUnusable, message, exitStatus, error);
        if (image->pages.IsEmpty())
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Page list %1 names no pages").arg(options.listPath),
                        exitStatus, error);
    } else {
        QStringList absolute;
        for (const QString &page : options.pages)
            absolute << QFileInfo(page).absoluteFilePath();
        ReplacePageList(&image->pages, absolute);
    }
    const QString builder = FindBuilder(SystemFileFolders(programFolder));
    const QFileInfo builderInfo(builder);
    if (!builderInfo.isFile() || !builderInfo.isExecutable())
        return Fail(ExitStatus::kFileUnusable,
                    QStringLiteral("Image builder %1 %2")
                        .arg(QDir::toNativeSeparators(builder),
                             builderInfo.exists() ? QStringLiteral("cannot be run")
                                                  : QStringLiteral("not found")),
                    exitStatus, error);
    return true;
}

} // namespace

QString Sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool PrepareJob(const CliOptions &options, const QString &programFolder, JobPlan *plan,
                int *exitStatus, QString *error)
{
    *plan = JobPlan();
    plan->programFolder = programFolder;
    plan->rounds = options.rounds;
    plan->loop = options.loop;
    plan->json = options.json;
    plan->station = options.station.isEmpty() ? QSysInfo::machineHostName() : options.station;
    plan->counterPath =
        options.counterPath.isEmpty() ? DefaultMacCounterPath() : options.counterPath;
    if (!ResolveUnitPorts(options.ports, programFolder, &plan->ports, error)) {
        *exitStatus = ExitStatus::kUsage;
        return false;
    }
    for (const StepOptions &stepOptions : options.steps) {
        StepPlan step;
        step.options = stepOptions;
        switch (stepOptions.kind) {
        case StepKind::Write: {
            if (!LoadSettings(stepOptions.settingsPath, &step, exitStatus, error))
                return false;
            const QStringList failures = WriteExchange::Validate(step.settings);
            if (!failures.isEmpty())
                return Fail(ExitStatus::kFileUnusable,
                            QStringLiteral("There are errors in settings file %1:\n  %2")
                                .arg(stepOptions.settingsPath,
                                     failures.join(QStringLiteral("\n  ")).trimmed()),
                            exitStatus, error);
            break;
        }
        case StepKind::Verify: {
            if (!LoadSettings(stepOptions.settingsPath, &step, exitStatus, error))
                return false;
            // What "write FILE" would have put in the unit: the lines it sends.
            CommandQueue sent;
            BuildSettingsLines(step.settings, stepOptions.allLines, sent);
            const QStringList sentCodes = SettingsLineCodes(sent.Items());
            QStringList codes;
            for (const QString &code : step.codes) {
                if (sentCodes.contains(code))
                    codes << code;
            }
            step.codes = codes;
            break;
        }
        case StepKind::AssignMac:
            if (stepOptions.macSource == StepOptions::MacSource::Next) {
                QString message;
                if (!MacNumberSourceReady(plan->counterPath, &message))
                    return Fail(ExitStatus::kFileUnusable, message, exitStatus, error);
            }
            if (!plan->macSource && (stepOptions.macSource == StepOptions::MacSource::Next ||
                                     MacNumberSourcePresent(plan->counterPath)))
                plan->macSource = MakeMacNumberSource(plan->counterPath);
            break;
        case StepKind::Download:
            if (!PrepareImage(stepOptions, programFolder, &step.image, exitStatus, error))
                return false;
            break;
        case StepKind::Read:
            if (stepOptions.outputPath.isEmpty()) {
                plan->readToStdout = !options.json;
            } else {
                const QFileInfo output(stepOptions.outputPath);
                if (!output.absoluteDir().exists())
                    return Fail(ExitStatus::kFileUnusable,
                                QStringLiteral("Cannot create file %1: no folder %2")
                                    .arg(stepOptions.outputPath, output.absolutePath()),
                                exitStatus, error);
            }
            break;
        }
        plan->steps.append(step);
    }
    return true;
}
