#include "SettingsStore.h"

void SnapshotSettingsStore::ApplySettingsUpdate(const SettingsUpdate &update)
{
    ApplyToSnapshot(m_settings, update);
}
