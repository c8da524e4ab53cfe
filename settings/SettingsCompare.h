#pragma once

#include "SettingsTypes.h"

#include <QList>
#include <QString>

// The settings one by one, as the "Data" page names them, so two sets can be compared field by
// field: what the operator changed since the last read, what a unit holds against a file.
enum class SettingsField
{
    IpAddress,
    GatewayAddress,
    Submask,
    TargetAddress,
    Dhcp,
    EnableClient,
    UseBroadcast,
    Hysteresis1,
    Hysteresis2,
    Hysteresis3,
    Hysteresis4,
    BaudRate,
    SerialCrlf,
    SerialTimed,
    SerialTimedInterval,
    UpdatePeriod,
    PortNumber,
    Timeout,
    EnableWatchdog,
};

// Every field, in the order the "Data" page shows them.
QList<SettingsField> AllSettingsFields();

// "Port Number", "IP Address", "Analogue Input 1 Hysteresis", ...
QString SettingsFieldName(SettingsField field);

// The field's value as the operator reads it: "10.0.0.5", "3012", "19200", "on"/"off".
QString SettingsFieldText(const SettingsSnapshot &settings, SettingsField field);

// The fields a settings line sets, by the line's code ("ba" is the port number; "eo" holds
// five switches); empty for a code that sets none.
QList<SettingsField> FieldsOfLineCode(const QString &code);

// The settings as the unit holds them once they were written: every line of a full write
// built from `settings` and parsed back. Spellings of one value (a leading zero in an address, a
// timed interval between two steps of ten, no baud rate chosen) come out as the one value the
// unit would hold; the MAC address is kept as it is.
SettingsSnapshot SettingsAsUnitHolds(const SettingsSnapshot &settings);

// One field whose value differs between two sets of settings, as the unit would hold them.
struct SettingsDifference
{
    SettingsField field;
    QString before;
    QString after;

    // The code of the line that carries the field: "ba", "eo", "ax1".
    QString Code() const;
    // "Port Number 3012 → 4001"
    QString Text() const;
};

// The one comparison of two sets of settings: the fields whose values differ once each set is
// taken as the unit would hold it (SettingsAsUnitHolds), in page order. The window marks these
// fields; verify names the lines that carry them (CompareSettingsLines), so the two never
// disagree on the same settings.
QList<SettingsDifference> CompareSettings(const SettingsSnapshot &before,
                                          const SettingsSnapshot &after);
