#pragma once

#include <QCheckBox>

// A two-state check box with optional exclusive groups. OnClick fires after every real change of
// Checked, whether the operator clicked or the program called SetChecked, so the window's enable
// rules run in one place; boxes switched off by their group partner change silently.
class TdxfCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit TdxfCheckBox(QWidget *parent = nullptr);
    explicit TdxfCheckBox(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    // Also becomes the accessible name, so screen readers announce the box by its caption.
    void SetCaption(const QString &caption);

    bool Checked() const { return isChecked(); }
    // Setting the value already held does nothing and emits nothing.
    void SetChecked(bool checked);

    // 0: independent. Boxes sharing a non-zero index under the same parent widget are exclusive.
    int GroupIndex() const { return m_groupIndex; }
    void SetGroupIndex(int index) { m_groupIndex = index; }

    // When false, a click on a grouped box that is on leaves it on (one box of the group stays on).
    bool AllowAllUp() const { return m_allowAllUp; }
    void SetAllowAllUp(bool allow) { m_allowAllUp = allow; }

signals:
    // After every change of Checked except being switched off by a group partner.
    void OnClick();

protected:
    void nextCheckState() override;

private:
    void onToggled(bool checked);
    // Turns the other boxes of the group off without their OnClick.
    void releaseGroupPartners();

    int m_groupIndex = 0;
    bool m_allowAllUp = true;
    bool m_silent = false;
};
