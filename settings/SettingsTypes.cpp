#include "SettingsTypes.h"

#include <QtGlobal>
#include <utility>

SpinRange SettingsSpinRange(SpinId id)
{
    switch (id) {
    case SpinId::Hysteresis1:
    case SpinId::Hysteresis2:
    case SpinId::Hysteresis3:
    case SpinId::Hysteresis4:
        return {0, 1024, 1, 5};
    case SpinId::ClientPort:
        return {1, 65535, 1, 3012};
    case SpinId::ServerTimeout:
    case SpinId::UpdatePeriod:
        return {1, 1000, 1, 60};
    case SpinId::SerialTimed:
        return {20, 2000, 10, 20};
    }
    return {0, 0, 1, 0};
}

const std::array<QString, 4> &SettingsSnapshot::address(AddressGroup group) const
{
    switch (group) {
    case AddressGroup::Ip:
        return ip;
    case AddressGroup::Gateway:
        return gateway;
    case AddressGroup::Submask:
        return submask;
    case AddressGroup::Client:
        break;
    }
    return client;
}

std::array<QString, 4> &SettingsSnapshot::address(AddressGroup group)
{
    return const_cast<std::array<QString, 4> &>(std::as_const(*this).address(group));
}

void ApplyToSnapshot(SettingsSnapshot &s, const SettingsUpdate &update)
{
    switch (update.kind) {
    case SettingsUpdate::Kind::None:
        break;
    case SettingsUpdate::Kind::Spin: {
        const SpinRange range = SettingsSpinRange(update.spin);
        const int value = qBound(range.minValue, int(update.value), range.maxValue);
        switch (update.spin) {
        case SpinId::Hysteresis1:
        case SpinId::Hysteresis2:
        case SpinId::Hysteresis3:
        case SpinId::Hysteresis4:
            s.hysteresis[size_t(int(update.spin) - int(SpinId::Hysteresis1))] = value;
            break;
        case SpinId::ClientPort:
            s.clientPort = value;
            break;
        case SpinId::ServerTimeout:
            s.serverTimeout = value;
            break;
        case SpinId::UpdatePeriod:
            s.updatePeriod = value;
            break;
        case SpinId::SerialTimed:
            s.serialTimedInterval = value;
            break;
        }
        break;
    }
    case SettingsUpdate::Kind::Baud:
        s.baudIndex = update.baudIndex;
        break;
    case SettingsUpdate::Kind::Options:
        s.dhcpEnabled = update.dhcpEnabled;
        s.useBroadcast = update.useBroadcast;
        s.clientEnabled = update.clientEnabled;
        s.serialTimed = update.timed;
        s.serialCrlf = !update.timed;
        s.enableWatchdog = update.enableWatchdog;
        break;
    case SettingsUpdate::Kind::Mac:
        s.macAddress = update.macText;
        break;
    case SettingsUpdate::Kind::Address: {
        std::array<QString, 4> &boxes = s.address(update.group);
        for (size_t k = 0; k < 4; ++k)
            boxes[k] = QString::number(update.dotted[k]);
        break;
    }
    }
}
