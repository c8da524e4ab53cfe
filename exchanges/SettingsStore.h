#pragma once

#include "settings/SettingsTypes.h"

// Where the exchanges read the settings they send and check, and put what the unit reports.
// The window's implementation is its controls (so click handlers and enable rules follow);
// SnapshotSettingsStore keeps plain data for a host without a window.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The settings as they stand at this moment.
    virtual SettingsSnapshot ReadSettings() = 0;
    // Applies one parsed settings line.
    virtual void ApplySettingsUpdate(const SettingsUpdate &update) = 0;
};

// Settings held as plain data, changed as the window's controls would change: spin values
// clamped into their ranges, Timed and "Use CR/LF" exclusive, addresses as decimal texts.
class SnapshotSettingsStore : public SettingsStore
{
public:
    SnapshotSettingsStore() = default;
    explicit SnapshotSettingsStore(const SettingsSnapshot &settings) : m_settings(settings) {}

    SettingsSnapshot ReadSettings() override { return m_settings; }
    void ApplySettingsUpdate(const SettingsUpdate &update) override;

    const SettingsSnapshot &Settings() const { return m_settings; }
    SettingsSnapshot &Settings() { return m_settings; }

private:
    SettingsSnapshot m_settings;
};
