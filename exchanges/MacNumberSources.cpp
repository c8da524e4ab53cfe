#include "MacNumberSources.h"

#include "FileMacNumberSource.h"
#include "MacCounter.h"

#include <QFileInfo>

std::unique_ptr<MacNumberSource> MakeMacNumberSource(const QString &setting)
{
    return std::make_unique<FileMacNumberSource>(setting);
}

bool MacNumberSourcePresent(const QString &setting)
{
    return QFileInfo::exists(setting);
}

bool MacNumberSourceReady(const QString &setting, QString *error)
{
    const MacNumberReply reply = CheckMacNumber(setting, -1);
    if (!reply.ok) {
        *error = reply.error;
        return false;
    }
    if (reply.next >= kMacCounterExhausted) {
        *error = QStringLiteral("MAC counter file %1 is at FFFF: no MAC numbers left").arg(setting);
        return false;
    }
    return true;
}
