#include "widgets/TdxfCheckBox.h"

TdxfCheckBox::TdxfCheckBox(QWidget *parent) : TdxfCheckBox(QString(), parent) {}

TdxfCheckBox::TdxfCheckBox(const QString &caption, QWidget *parent) : QCheckBox(parent)
{
    setTristate(false);
    setFocusPolicy(Qt::StrongFocus);
    SetCaption(caption);
    connect(this, &QAbstractButton::toggled, this, &TdxfCheckBox::onToggled);
}

void TdxfCheckBox::SetCaption(const QString &caption)
{
    setText(caption);
    setAccessibleName(caption);
}

void TdxfCheckBox::SetChecked(bool checked)
{
    setChecked(checked);
}

void TdxfCheckBox::nextCheckState()
{
    if (isChecked() && m_groupIndex != 0 && !m_allowAllUp)
        return;
    setChecked(!isChecked());
}

void TdxfCheckBox::onToggled(bool checked)
{
    if (m_silent)
        return;
    if (checked)
        releaseGroupPartners();
    emit OnClick();
}

void TdxfCheckBox::releaseGroupPartners()
{
    if (m_groupIndex == 0 || !parentWidget())
        return;
    const auto siblings =
        parentWidget()->findChildren<TdxfCheckBox *>(QString(), Qt::FindDirectChildrenOnly);
    for (TdxfCheckBox *box : siblings) {
        if (box == this || box->m_groupIndex != m_groupIndex || !box->isChecked())
            continue;
        box->m_silent = true;
        box->setChecked(false);
        box->m_silent = false;
    }
}
