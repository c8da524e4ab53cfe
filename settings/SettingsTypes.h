#pragma once

#include <QString>
#include <array>
#include <cstdint>

// Plain copies of what the "Data" page controls hold. The window fills a snapshot when the
// core needs the settings (building lines, validating, checking echoes) and applies a
// SettingsUpdate when the core has parsed a line; the core never touches a widget.

// The numeric spin edits that settings lines address, in the order of their codes.
enum class SpinId
{
    Hysteresis1,
    Hysteresis2,
    Hysteresis3,
    Hysteresis4,
    ClientPort,
    ServerTimeout,
    UpdatePeriod,
    SerialTimed,
};

// The four rows of dotted-address edits.
enum class AddressGroup
{
    Ip,
    Gateway,
    Submask,
    Client
};

struct SpinRange
{
    int minValue;
    int maxValue;
    int increment;
    int initial;
};

// Range, step and initial value of each settings spin edit, as the window lays them out.
SpinRange SettingsSpinRange(SpinId id);

struct SettingsSnapshot
{
    // Edit texts exactly as the operator typed them, edit 1 first.
    std::array<QString, 4> ip, gateway, submask, client;

    // Spin edit values as the controls report them (already clamped into their ranges).
    std::array<int, 4> hysteresis{{5, 5, 5, 5}};
    int clientPort = 3012;
    int serverTimeout = 60;
    int updatePeriod = 60;
    int serialTimedInterval = 20;

    // Index of the selected item of "2400", "4800", "9600", "19200", "38400"; -1 when none.
    int baudIndex = -1;

    bool dhcpEnabled = false;
    bool useBroadcast = true;
    bool clientEnabled = true;
    bool serialTimed = false;
    bool serialCrlf = false;
    bool enableWatchdog = false;

    // The unit's MAC address as its last "MA" answer gave it ("" before any).
    QString macAddress;

    const std::array<QString, 4> &address(AddressGroup group) const;
    std::array<QString, 4> &address(AddressGroup group);
};

// The four numbers of the last dotted address read.
using DottedNumbers = std::array<int32_t, 4>;

// What one settings line asks of the controls. The window applies it in the order the
// fields are listed for its kind, so click handlers and enable rules follow as they would
// for a typed change.
struct SettingsUpdate
{
    enum class Kind
    {
        None,    // the line changes no control
        Spin,    // spin `spin` := `value` (the control clamps)
        Baud,    // select `baudIndex` in the baud rate list
        Options, // the eo flags below, applied in order
        Mac,     // put `macText` into the MAC address edit
        Address, // fill the four edits of `group` with `dotted`
    };
    Kind kind = Kind::None;

    SpinId spin = SpinId::Hysteresis1;
    int32_t value = 0;

    int baudIndex = 3;

    // eo: DHCP, broadcast, client, then Timed on when `timed` else "Use CR/LF" on, then watchdog.
    bool dhcpEnabled = false;
    bool useBroadcast = false;
    bool clientEnabled = false;
    bool timed = false;
    bool enableWatchdog = false;

    QString macText;

    AddressGroup group = AddressGroup::Ip;

    // Every line whose first letter is N replaces the dotted numbers, whatever follows.
    bool dottedParsed = false;
    DottedNumbers dotted{{0, 0, 0, 0}};
};

// Applies one parsed line to plain settings, as the window's controls would take it: spin values
// clamped into their ranges, Timed and "Use CR/LF" exclusive, addresses as decimal texts.
void ApplyToSnapshot(SettingsSnapshot &settings, const SettingsUpdate &update);
