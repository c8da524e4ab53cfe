#include "SettingsFlow.h"

#include "settings/SettingsFile.h"
#include "settings/SettingsLines.h"
#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfCheckBox.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>

namespace {
const QString kConfigFilter = QStringLiteral("Config Files|*.txt");
} // namespace

SettingsFlow::SettingsFlow(MainFormUi &ui, Dialogs &dialogs, ExchangeLog &log, QObject *parent)
    : QObject(parent), m_ui(ui), m_dialogs(dialogs), m_log(log), m_read(*this), m_write(*this)
{
}

bool SettingsFlow::PrepareWrite(bool sendAllLines)
{
    const QStringList failures = WriteExchange::Validate(ReadSettings());
    for (const QString &line : failures)
        m_log.AppendLog(line);
    if (!failures.isEmpty()) {
        m_log.ShowMessage(MessageKind::Error, QStringLiteral("There are errors"));
        return false;
    }
    m_log.AppendLog(QStringLiteral("Data Checked - OK"));
    if (m_reference) {
        for (const SettingsDifference &difference : CompareSettings(*m_reference, ReadSettings()))
            m_log.AppendLog(difference.Text());
    }
    m_write.SetSendAllLines(sendAllLines);
    return true;
}

void SettingsFlow::ExchangeFinished(const Exchange *finished, const ExchangeResult &result)
{
    const bool read =
        finished == &m_read && (result.outcome == ExchangeResult::Outcome::Succeeded ||
                                result.outcome == ExchangeResult::Outcome::Incomplete);
    // A write that ran through all its lines leaves the unit holding them, but for the
    // mismatches, which are marked red.
    const bool written = finished == &m_write &&
                         (result.Succeeded() || result.error == ExchangeError::WriteMismatch);
    if (!read && !written)
        return;
    m_reference = ReadSettings();
    m_mismatchText.clear();
    RefreshChangeMarks();
    if (written)
        MarkWriteMismatches();
}

void SettingsFlow::SaveToFile()
{
    const QString path = m_dialogs.SaveFileName(kConfigFilter);
    if (path.isEmpty())
        return;
    CommandQueue lines;
    BuildSettingsLines(ReadSettings(), true, lines);
    QString error;
    if (!SaveSettingsFile(path, lines, &error))
        m_dialogs.Message(MessageKind::Error, error);
}

void SettingsFlow::LoadFromFile()
{
    const QString path = m_dialogs.OpenFileName(kConfigFilter);
    if (path.isEmpty())
        return;
    LoadSettingsFile(path);
}

bool SettingsFlow::LoadSettingsFile(const QString &path)
{
    // A queue of its own: loading a file never disturbs an exchange that is sending.
    CommandQueue lines;
    QList<SettingsUpdate> updates;
    QString error;
    if (!::LoadSettingsFile(path, lines, &updates, &error)) {
        m_dialogs.Message(MessageKind::Error, error);
        return false;
    }
    for (const SettingsUpdate &update : updates)
        ApplySettingsUpdate(update);
    return true;
}

QList<QWidget *> SettingsFlow::FieldWidgets(SettingsField field) const
{
    auto edits = [](const std::array<QLineEdit *, 4> &row) {
        return QList<QWidget *>{row[0], row[1], row[2], row[3]};
    };
    switch (field) {
    case SettingsField::IpAddress:
        return edits(m_ui.ipAddrEdits);
    case SettingsField::GatewayAddress:
        return edits(m_ui.gateWayAddrEdits);
    case SettingsField::Submask:
        return edits(m_ui.subMaskAddrEdits);
    case SettingsField::TargetAddress:
        return edits(m_ui.clientAddrEdits);
    case SettingsField::Dhcp:
        return {m_ui.DHCPEnabledxfCheckBox};
    case SettingsField::EnableClient:
        return {m_ui.ClientEnabledxfCheckBox};
    case SettingsField::UseBroadcast:
        return {m_ui.UseBroadcastdxfCheckBox};
    case SettingsField::Hysteresis1:
    case SettingsField::Hysteresis2:
    case SettingsField::Hysteresis3:
    case SettingsField::Hysteresis4:
        return {m_ui.hysteresisCSpinEdits[size_t(int(field) - int(SettingsField::Hysteresis1))]};
    case SettingsField::BaudRate:
        return {m_ui.BaudRateComboBox};
    case SettingsField::SerialCrlf:
        return {m_ui.SerialCRLFdxfCheckBox};
    case SettingsField::SerialTimed:
        return {m_ui.SerialTimeddxfCheckBox};
    case SettingsField::SerialTimedInterval:
        return {m_ui.SerialTimedCSpinEdit};
    case SettingsField::UpdatePeriod:
        return {m_ui.UpdatePeriodCSpinEdit};
    case SettingsField::PortNumber:
        return {m_ui.ClientPortCSpinEdit};
    case SettingsField::Timeout:
        return {m_ui.ServerTimeoutCSpinEdit};
    case SettingsField::EnableWatchdog:
        return {m_ui.EnableWatchdogdxfCheckBox};
    }
    return {};
}

void SettingsFlow::ConnectControls()
{
    for (SettingsField field : AllSettingsFields()) {
        for (QWidget *widget : FieldWidgets(field)) {
            if (auto *edit = qobject_cast<QLineEdit *>(widget))
                connect(edit, &QLineEdit::textChanged, this, &SettingsFlow::ScheduleChangeMarks);
            else if (auto *box = qobject_cast<QAbstractButton *>(widget))
                connect(box, &QAbstractButton::toggled, this, &SettingsFlow::ScheduleChangeMarks);
            else if (auto *combo = qobject_cast<QComboBox *>(widget))
                connect(combo, &QComboBox::currentIndexChanged, this,
                        &SettingsFlow::ScheduleChangeMarks);
            else if (auto *inner = widget->findChild<QLineEdit *>()) // a spin edit's text
                connect(inner, &QLineEdit::textChanged, this, &SettingsFlow::ScheduleChangeMarks);
        }
    }
}

void SettingsFlow::ScheduleChangeMarks()
{
    // A read changes many controls in a row; the marks are worked out once, when it settles.
    if (!m_marksPending) {
        m_marksPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_marksPending)
                    RefreshChangeMarks();
            },
            Qt::QueuedConnection);
    }
}

SettingsFlow::FieldMark SettingsFlow::MarkOf(SettingsField field)
{
    if (m_marksPending)
        RefreshChangeMarks();
    return m_marks.value(field, FieldMark::None);
}

void SettingsFlow::SetFieldMark(SettingsField field, FieldMark mark, const QString &toolTip)
{
    if (m_marks.value(field, FieldMark::None) == mark && mark != FieldMark::Mismatch)
        return;
    m_marks.insert(field, mark);
    for (QWidget *widget : FieldWidgets(field)) {
        switch (mark) {
        case FieldMark::None:
            widget->setStyleSheet(QString());
            widget->setToolTip(QString());
            break;
        case FieldMark::Edited:
            widget->setStyleSheet(QStringLiteral("background-color: #fff1a8;"));
            widget->setToolTip(QStringLiteral("Changed since the last read"));
            break;
        case FieldMark::Mismatch:
            widget->setStyleSheet(QStringLiteral("background-color: #f6b3b3; color: #7a0000;"));
            widget->setToolTip(toolTip);
            break;
        }
    }
}

void SettingsFlow::RefreshChangeMarks()
{
    m_marksPending = false;
    const SettingsSnapshot now = ReadSettings();
    QList<SettingsField> edited;
    if (m_reference) {
        for (const SettingsDifference &difference : CompareSettings(*m_reference, now))
            edited << difference.field;
    }
    for (SettingsField field : AllSettingsFields()) {
        const QString text = SettingsFieldText(now, field);
        if (m_mismatchText.contains(field)) {
            if (m_mismatchText.value(field) == text)
                continue; // marked red until edited or read again
            m_mismatchText.remove(field);
        }
        SetFieldMark(field, edited.contains(field) ? FieldMark::Edited : FieldMark::None);
    }
}

void SettingsFlow::MarkWriteMismatches()
{
    const SettingsSnapshot now = ReadSettings();
    for (const WriteExchange::Mismatch &mismatch : m_write.Mismatches()) {
        for (SettingsField field : mismatch.fields) {
            m_mismatchText.insert(field, SettingsFieldText(now, field));
            SetFieldMark(field, FieldMark::Mismatch,
                         QStringLiteral("TOLVEX answered: ") + mismatch.answer);
        }
    }
}

TCSpinEdit *SettingsFlow::SpinFor(SpinId id) const
{
    switch (id) {
    case SpinId::Hysteresis1:
    case SpinId::Hysteresis2:
    case SpinId::Hysteresis3:
    case SpinId::Hysteresis4:
        return m_ui.hysteresisCSpinEdits[size_t(int(id) - int(SpinId::Hysteresis1))];
    case SpinId::ClientPort:
        return m_ui.ClientPortCSpinEdit;
    case SpinId::ServerTimeout:
        return m_ui.ServerTimeoutCSpinEdit;
    case SpinId::UpdatePeriod:
        return m_ui.UpdatePeriodCSpinEdit;
    case SpinId::SerialTimed:
        return m_ui.SerialTimedCSpinEdit;
    }
    return m_ui.ClientPortCSpinEdit;
}

std::array<QLineEdit *, 4> SettingsFlow::AddressEdits(AddressGroup group) const
{
    switch (group) {
    case AddressGroup::Ip:
        return m_ui.ipAddrEdits;
    case AddressGroup::Gateway:
        return m_ui.gateWayAddrEdits;
    case AddressGroup::Submask:
        return m_ui.subMaskAddrEdits;
    case AddressGroup::Client:
        return m_ui.clientAddrEdits;
    }
    return m_ui.ipAddrEdits;
}

SettingsSnapshot SettingsFlow::ReadSettings()
{
    SettingsSnapshot s;
    for (AddressGroup group :
         {AddressGroup::Ip, AddressGroup::Gateway, AddressGroup::Submask, AddressGroup::Client}) {
        const std::array<QLineEdit *, 4> edits = AddressEdits(group);
        for (size_t k = 0; k < 4; ++k)
            s.address(group)[k] = edits[k]->text();
    }
    for (size_t k = 0; k < 4; ++k)
        s.hysteresis[k] = m_ui.hysteresisCSpinEdits[k]->Value();
    s.clientPort = m_ui.ClientPortCSpinEdit->Value();
    s.serverTimeout = m_ui.ServerTimeoutCSpinEdit->Value();
    s.updatePeriod = m_ui.UpdatePeriodCSpinEdit->Value();
    s.serialTimedInterval = m_ui.SerialTimedCSpinEdit->Value();
    s.baudIndex = m_ui.BaudRateComboBox->currentIndex();
    s.dhcpEnabled = m_ui.DHCPEnabledxfCheckBox->Checked();
    s.useBroadcast = m_ui.UseBroadcastdxfCheckBox->Checked();
    s.clientEnabled = m_ui.ClientEnabledxfCheckBox->Checked();
    s.serialTimed = m_ui.SerialTimeddxfCheckBox->Checked();
    s.serialCrlf = m_ui.SerialCRLFdxfCheckBox->Checked();
    s.enableWatchdog = m_ui.EnableWatchdogdxfCheckBox->Checked();
    s.macAddress = m_ui.MACAddressEdit->text();
    return s;
}

void SettingsFlow::ApplySettingsUpdate(const SettingsUpdate &update)
{
    switch (update.kind) {
    case SettingsUpdate::Kind::None:
        break;
    case SettingsUpdate::Kind::Spin:
        SpinFor(update.spin)->SetValue(update.value);
        break;
    case SettingsUpdate::Kind::Baud:
        m_ui.BaudRateComboBox->setCurrentIndex(update.baudIndex);
        break;
    case SettingsUpdate::Kind::Options:
        m_ui.DHCPEnabledxfCheckBox->SetChecked(update.dhcpEnabled);
        m_ui.UseBroadcastdxfCheckBox->SetChecked(update.useBroadcast);
        m_ui.ClientEnabledxfCheckBox->SetChecked(update.clientEnabled);
        if (update.timed)
            m_ui.SerialTimeddxfCheckBox->SetChecked(true);
        else
            m_ui.SerialCRLFdxfCheckBox->SetChecked(true);
        m_ui.EnableWatchdogdxfCheckBox->SetChecked(update.enableWatchdog);
        break;
    case SettingsUpdate::Kind::Mac:
        m_ui.MACAddressEdit->setText(update.macText);
        break;
    case SettingsUpdate::Kind::Address: {
        const std::array<QLineEdit *, 4> edits = AddressEdits(update.group);
        for (size_t k = 0; k < 4; ++k) {
            // The box shows the whole number the unit holds, even past the length an operator
            // may type; otherwise the next write would send a cut value.
            const QString text = QString::number(update.dotted[k]);
            if (text.size() > edits[k]->maxLength())
                edits[k]->setMaxLength(int(text.size()));
            edits[k]->setText(text);
        }
        break;
    }
    }
}
