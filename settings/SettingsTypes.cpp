#include "SettingsTypes.h"

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
