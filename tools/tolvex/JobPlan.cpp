#include "JobPlan.h"

#include "DatabaseRecord.h"
#include "settings/FileLocations.h"

#include "exchanges/MacCounter.h"
#include "exchanges/MacNumberSources.h"
#include "exchanges/SettingsStore.h"
#include "exchanges/WriteExchange.h"
#include "link/PortDiscovery.h"
#include "pool/MacSourceFactory.h"
#include "settings/FileLock.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsFileCheck.h"
#include "settings/SettingsLineCompare.h"
#include "settings/SettingsLines.h"
#include "settings/TextFile.h"
#include "webpages/ImageBuild.h"
#include "webpages/ImageDownload.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

namespace {

bool Fail(int status, const QString &message, int *exitStatus, QString *error)
{
    *exitStatus = status;
    *error = message;
    return false;
}

// Loads a settings file over the initial settings, as "Load File" loads it into the window. The
// file is read once: what is checked, sent and hashed for the record are the same bytes.
bool LoadSettings(const QString &path, StepPlan *step, int *exitStatus, QString *error)
{
    QByteArray bytes;
    if (!ReadRegularFile(path, kLargestTextFile, &bytes, error))
        return Fail(ExitStatus::kFileUnusable, *error, exitStatus, error);
    // A station sends unattended: a line the unit would read otherwise than the file says
    // (an octet over 255, a number beyond its field) stops the run before anything is sent.
    const QStringList problems = SettingsFileProblems(path, SplitTextLines(bytes));
    if (!problems.isEmpty())
        return Fail(ExitStatus::kFileUnusable, problems.join(QLatin1Char('\n')), exitStatus, error);
    CommandQueue lines;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(bytes, lines, &updates);
    SnapshotSettingsStore store;
    for (const SettingsUpdate &update : updates)
        store.ApplySettingsUpdate(update);
    step->settings = store.Settings();
    step->codes = SettingsLineCodes(lines.Items());
    step->settingsFile = QFileInfo(path).absoluteFilePath();
    step->settingsSha256 = Sha256Hex(bytes);
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
        PageFileList listed;
        if (!LoadPageList(options.listPath, &listed, &message))
            return Fail(ExitStatus::kFileUnusable, message, exitStatus, error);
        // A list names its pages as seen from its own folder, wherever the tool runs.
        const QDir listFolder = QFileInfo(options.listPath).absoluteDir();
        QStringList absolute;
        for (const QString &entry : listed.Items()) {
            if (!entry.isEmpty())
                absolute << QDir::cleanPath(listFolder.absoluteFilePath(entry));
        }
        ReplacePageList(&image->pages, absolute);
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
    // Every page must be a file that can be read, or the build would stop halfway.
    for (const QString &page : image->pages.Items()) {
        const QFileInfo info(page);
        if (!info.exists())
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Cannot find file %1").arg(QDir::toNativeSeparators(page)),
                        exitStatus, error);
        if (!info.isFile() || !info.isReadable())
            return Fail(ExitStatus::kFileUnusable,
                        QStringLiteral("Page %1 is not a file that can be read")
                            .arg(QDir::toNativeSeparators(page)),
                        exitStatus, error);
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

bool CheckMacCounterUsable(const QString &path, int needed, bool lockToo, int *next, QString *error)
{
    const MacNumberReply counter = CheckMacNumber(path, -1);
    if (!counter.ok) {
        *error = counter.error;
        return false;
    }
    *next = counter.next;
    if (*next >= kMacCounterExhausted) {
        *error = QStringLiteral("MAC counter file %1 is at FFFF: no MAC numbers left")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    const int left = kMacCounterExhausted - *next;
    if (left < needed) {
        *error = QStringLiteral("MAC counter file %1 has %2 numbers left (%3 to FFFE), but the "
                                "run needs %4")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(left)
                     .arg(QStringLiteral("%1").arg(*next, 4, 16, QLatin1Char('0')).toUpper())
                     .arg(needed);
        return false;
    }
    // Each number is taken under the lock beside the counter, and the counter is replaced
    // whole through a file made beside it: both need the folder and the file writable.
    const QFileInfo info(path);
    if (!info.isWritable() || !IsFolderWritable(info.absolutePath())) {
        *error = QStringLiteral("MAC counter file %1 can be read but not written: no number "
                                "could be taken")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!lockToo)
        return true;
    FileLock lock;
    return lock.LockWithin(MacCounterLockPath(path), MacCounterWait().timeoutMs, error);
}

bool CheckPortsAccessible(const QList<UnitPort> &ports, QString *error)
{
    QList<SerialPortEntry> entries;
    for (const UnitPort &port : ports) {
        SerialPortEntry entry;
        entry.device = port.device;
        entries << entry;
    }
    // Lock files and access rights only: nothing is opened, and the open handles of other
    // processes (a pseudo-terminal's own side among them) say nothing certain.
    PortDiscoveryOptions options;
    options.procDir.clear();
    AddPortDetails(&entries, options);
    for (qsizetype i = 0; i < ports.size(); ++i) {
        const SerialPortEntry &entry = entries.at(i);
        if (entry.accessDenied) {
            *error = QStringLiteral("port %1 (%2): no permission to open it (on Linux: add the "
                                    "user to the dialout group, then log in again)")
                         .arg(ports.at(i).name, ports.at(i).device);
            return false;
        }
        if (entry.holder == PortHolder::OtherProgram) {
            *error = QStringLiteral("port %1 (%2) is in use by %3")
                         .arg(ports.at(i).name, ports.at(i).device,
                              entry.holderName.isEmpty() ? QStringLiteral("another program")
                                                         : entry.holderName);
            return false;
        }
    }
    return true;
}

bool CheckRecordWritable(const QString &path, QString *error)
{
    const QFileInfo info(path);
    const bool writable =
        info.exists() ? info.isFile() && info.isWritable() : IsFolderWritable(info.absolutePath());
    if (writable)
        return true;
    *error = QStringLiteral("Cannot open record file %1: %2")
                 .arg(QDir::toNativeSeparators(path),
                      info.exists() ? QStringLiteral("it cannot be written")
                                    : QStringLiteral("its folder cannot be written"));
    return false;
}

QJsonObject ImageJson(const ImageInput &image)
{
    return QJsonObject{
        {"source", image.source.isEmpty() ? QString() : QFileInfo(image.source).absoluteFilePath()},
        {"size", image.bytes.size()},
        {"sha256", image.sha256}};
}

QString ReadOutputPath(const StepOptions &options, const UnitPort &port)
{
    if (options.outputPath.isEmpty())
        return QString();
    // "/dev/ttyUSB0" gives "dev_ttyUSB0".
    QString part = port.name;
    for (QChar &c : part) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            c = QLatin1Char('_');
    }
    while (part.startsWith(QLatin1Char('_')))
        part.remove(0, 1);
    QString path = options.outputPath;
    path.replace(QLatin1String("{port}"), part);
    return QFileInfo(path).absoluteFilePath();
}

QString NewRunId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

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
    plan->portMapPath = !options.comportsPath.isEmpty()
                            ? options.comportsPath
                            : FindDefaultFile(SystemFileFolders(programFolder), kPortMapFileName);
    if (!options.comportsPath.isEmpty() && !QFileInfo(options.comportsPath).isFile())
        return Fail(ExitStatus::kFileUnusable,
                    QStringLiteral("Cannot open file %1").arg(options.comportsPath), exitStatus,
                    error);
    if (!ResolveUnitPorts(options.ports, plan->portMapPath, &plan->ports, error)) {
        *exitStatus = ExitStatus::kUsage;
        return false;
    }
    if (options.check && !CheckPortsAccessible(plan->ports, error)) {
        *exitStatus = ExitStatus::kFileUnusable;
        return false;
    }
    plan->recordPath = options.recordPath;
    plan->checkOnly = options.check;
    // A record that cannot take a line stops the run before anything is sent; a run makes a
    // missing SQLite record with its schema here, --check makes nothing.
    if (!options.recordPath.isEmpty() &&
        !CheckProductionRecord(options.recordPath, !options.check, &plan->recordName, exitStatus,
                               error))
        return false;
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
            if (!options.poolUrl.isEmpty()) {
                // A pool that cannot be reached, or has no number for this run, stops it before
                // anything is sent to any unit.
                const int needed =
                    options.check ? int(plan->ports.size()) * (options.loop ? 1 : options.rounds)
                                  : 1;
                if (!plan->macSource) {
                    if (!MacPoolReady(options.poolUrl, needed, &plan->counterNext, error)) {
                        *exitStatus = ExitStatus::kFileUnusable;
                        return false;
                    }
                    plan->numbersNeeded = needed;
                    plan->macSource = OpenMacNumberSource(options.poolUrl, error);
                    if (!plan->macSource) {
                        *exitStatus = ExitStatus::kUsage;
                        return false;
                    }
                }
                break;
            }
            if (stepOptions.macSource == StepOptions::MacSource::Next) {
                // --check wants a number for every unit of the run (P ports, N rounds; a loop
                // at least P); a run itself starts with one, and a unit that finds the counter
                // at FFFF fails alone.
                const int needed =
                    options.check ? int(plan->ports.size()) * (options.loop ? 1 : options.rounds)
                                  : 1;
                if (!CheckMacCounterUsable(plan->counterPath, needed, options.check,
                                           &plan->counterNext, error)) {
                    *exitStatus = ExitStatus::kFileUnusable;
                    return false;
                }
                plan->numbersNeeded = needed;
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
