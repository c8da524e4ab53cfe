#pragma once

#include "Dialogs.h"
#include "MainFormUi.h"
#include "exchanges/ReadExchange.h"
#include "exchanges/SettingsStore.h"
#include "exchanges/WriteExchange.h"
#include "settings/SettingsCompare.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <optional>

class QWidget;
class TCSpinEdit;

// The window's settings: its controls as the store the exchanges read and fill, the read and the
// write exchanges with the checks before a write, settings files, and the marks on fields that
// changed since the unit last held them or did not take what was written. The window wires its
// buttons to it and starts the exchanges it hands out.
class SettingsFlow : public QObject, public SettingsStore
{
    Q_OBJECT
public:
    // `ui` may still be empty; ConnectControls follows once the controls exist.
    SettingsFlow(MainFormUi &ui, Dialogs &dialogs, ExchangeLog &log, QObject *parent = nullptr);
    // Marks follow every change of a field's control from here on, worked out once per
    // event-loop turn (a read changes many controls in a row).
    void ConnectControls();

    ReadExchange &Read() { return m_read; }
    WriteExchange &Write() { return m_write; }

    // The checks before a write: logs each failed group and shows "There are errors" (false),
    // or logs "Data Checked - OK" and the fields changed since the unit last held them, and
    // sets what the write sends (every line in MAC assignment mode).
    bool PrepareWrite(bool sendAllLines);
    // After an exchange ended: a read, or a write that ran through its lines, makes the controls
    // the new reference for the marks; a write's mismatches are marked red.
    void ExchangeFinished(const Exchange *finished, const ExchangeResult &result);

    // "Save File" and "Load File", with their dialogs.
    void SaveToFile();
    void LoadFromFile();
    // Applies a settings file to the controls; false (nothing changed) when it cannot be read.
    bool LoadSettingsFile(const QString &path);

    // How a field is marked: changed since the last read or write, or its echo did not match.
    enum class FieldMark
    {
        None,
        Edited,
        Mismatch
    };
    // Brings pending marks up to date first.
    FieldMark MarkOf(SettingsField field);
    // The controls that show a field.
    QList<QWidget *> FieldWidgets(SettingsField field) const;

    // SettingsStore
    SettingsSnapshot ReadSettings() override;
    void ApplySettingsUpdate(const SettingsUpdate &update) override;

private:
    void ScheduleChangeMarks();
    void RefreshChangeMarks();
    void SetFieldMark(SettingsField field, FieldMark mark, const QString &toolTip = QString());
    void MarkWriteMismatches();
    TCSpinEdit *SpinFor(SpinId id) const;
    std::array<QLineEdit *, 4> AddressEdits(AddressGroup group) const;

    MainFormUi &m_ui;
    Dialogs &m_dialogs;
    ExchangeLog &m_log;
    ReadExchange m_read;
    WriteExchange m_write;
    // The settings as the unit held them after the last read or successful write.
    std::optional<SettingsSnapshot> m_reference;
    QMap<SettingsField, FieldMark> m_marks;
    bool m_marksPending = false;
    // For a mismatch mark: the field's text when it was marked; an edit clears the mark.
    QMap<SettingsField, QString> m_mismatchText;
};
