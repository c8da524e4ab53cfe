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

struct SettingsDifference
{
    SettingsField field;
    QString before;
    QString after;

    // "Port Number 3012 → 4001"
    QString Text() const;
};

// The fields whose values differ, in page order.
QList<SettingsDifference> CompareSettings(const SettingsSnapshot &before,
                                          const SettingsSnapshot &after);
