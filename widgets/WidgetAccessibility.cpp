#include "widgets/WidgetAccessibility.h"

#include "widgets/TCSpinEdit.h"
#include "widgets/TdxfProgressBar.h"

#include <QLineEdit>

#include <climits>
#include <cmath>

namespace {

QAccessibleInterface *WidgetFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TCSpinEdit"))
        return new TCSpinEditAccessible(static_cast<TCSpinEdit *>(object));
    if (className == QLatin1String("TdxfProgressBar"))
        return new TdxfProgressBarAccessible(static_cast<TdxfProgressBar *>(object));
    return nullptr;
}

} // namespace

void InstallWidgetAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(WidgetFactory);
}

TCSpinEditAccessible::TCSpinEditAccessible(TCSpinEdit *spin)
    : QAccessibleWidget(spin, QAccessible::SpinBox)
{
}

TCSpinEdit *TCSpinEditAccessible::spin() const
{
    return static_cast<TCSpinEdit *>(widget());
}

QLineEdit *TCSpinEditAccessible::line() const
{
    return spin()->lineEdit();
}

void *TCSpinEditAccessible::interface_cast(QAccessible::InterfaceType type)
{
    switch (type) {
    case QAccessible::ValueInterface:
        return static_cast<QAccessibleValueInterface *>(this);
    case QAccessible::TextInterface:
        return static_cast<QAccessibleTextInterface *>(this);
    case QAccessible::EditableTextInterface:
        return static_cast<QAccessibleEditableTextInterface *>(this);
    default:
        return QAccessibleWidget::interface_cast(type);
    }
}

QString TCSpinEditAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return spin()->text();
    return QAccessibleWidget::text(type);
}

QVariant TCSpinEditAccessible::currentValue() const
{
    return spin()->ShownValue();
}

void TCSpinEditAccessible::setCurrentValue(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || std::isnan(number) || spin()->isReadOnly() || !spin()->isEnabled())
        return;
    const double bounded = std::fmax(double(INT_MIN), std::fmin(double(INT_MAX), number));
    spin()->EditValue(int(std::lround(bounded)));
}

QVariant TCSpinEditAccessible::maximumValue() const
{
    const TCSpinEdit *edit = spin();
    return edit->MinValue() == edit->MaxValue() ? INT_MAX : edit->MaxValue();
}

QVariant TCSpinEditAccessible::minimumValue() const
{
    const TCSpinEdit *edit = spin();
    return edit->MinValue() == edit->MaxValue() ? INT_MIN : edit->MinValue();
}

QVariant TCSpinEditAccessible::minimumStepSize() const
{
    return spin()->Increment();
}

QStringList TCSpinEditAccessible::actionNames() const
{
    return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
}

void TCSpinEditAccessible::doAction(const QString &actionName)
{
    if (!spin()->isEnabled() || spin()->isReadOnly())
        return;
    if (actionName == increaseAction())
        spin()->stepBy(1);
    else if (actionName == decreaseAction())
        spin()->stepBy(-1);
    else
        QAccessibleWidget::doAction(actionName);
}

QStringList TCSpinEditAccessible::keyBindingsForAction(const QString &actionName) const
{
    if (actionName == increaseAction())
        return {QStringLiteral("Up")};
    if (actionName == decreaseAction())
        return {QStringLiteral("Down")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

void TCSpinEditAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    const QLineEdit *edit = line();
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && edit->hasSelectedText()) {
        *startOffset = edit->selectionStart();
        *endOffset = edit->selectionEnd();
    }
}

int TCSpinEditAccessible::selectionCount() const
{
    return line()->hasSelectedText() ? 1 : 0;
}

void TCSpinEditAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void TCSpinEditAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        line()->deselect();
}

void TCSpinEditAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        line()->setSelection(startOffset, endOffset - startOffset);
}

int TCSpinEditAccessible::cursorPosition() const
{
    return line()->cursorPosition();
}

void TCSpinEditAccessible::setCursorPosition(int position)
{
    line()->setCursorPosition(position);
}

QString TCSpinEditAccessible::text(int startOffset, int endOffset) const
{
    const QString shown = line()->text();
    startOffset = qBound(0, startOffset, int(shown.size()));
    endOffset = qBound(startOffset, endOffset, int(shown.size()));
    return shown.mid(startOffset, endOffset - startOffset);
}

int TCSpinEditAccessible::characterCount() const
{
    return int(line()->text().size());
}

QRect TCSpinEditAccessible::characterRect(int offset) const
{
    const QLineEdit *edit = line();
    const QString shown = edit->text();
    if (offset < 0 || offset >= shown.size())
        return QRect();
    // Left-aligned text as the line edit draws it, from its contents' left edge.
    const QFontMetrics metrics = edit->fontMetrics();
    const QRect contents = edit->contentsRect();
    const int x = contents.left() + 2 + metrics.horizontalAdvance(shown.left(offset));
    const QRect local(x, contents.top(), metrics.horizontalAdvance(shown.at(offset)),
                      contents.height());
    return QRect(edit->mapToGlobal(local.topLeft()), local.size());
}

int TCSpinEditAccessible::offsetAtPoint(const QPoint &point) const
{
    return line()->cursorPositionAt(line()->mapFromGlobal(point));
}

void TCSpinEditAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(startIndex);
    line()->setCursorPosition(endIndex);
}

QString TCSpinEditAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    Q_UNUSED(offset);
    // One plain run of text.
    *startOffset = 0;
    *endOffset = characterCount();
    return QString();
}

void TCSpinEditAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, QString());
}

void TCSpinEditAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void TCSpinEditAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    if (spin()->isReadOnly() || !spin()->isEnabled())
        return;
    QString shown = line()->text();
    startOffset = qBound(0, startOffset, int(shown.size()));
    endOffset = qBound(startOffset, endOffset, int(shown.size()));
    shown.replace(startOffset, endOffset - startOffset, text);
    line()->setText(shown);
    line()->setCursorPosition(startOffset + int(text.size()));
    spin()->NoteTextEdited();
}

TdxfProgressBarAccessible::TdxfProgressBarAccessible(TdxfProgressBar *bar)
    : QAccessibleWidget(bar, QAccessible::ProgressBar)
{
}

TdxfProgressBar *TdxfProgressBarAccessible::bar() const
{
    return static_cast<TdxfProgressBar *>(widget());
}

void *TdxfProgressBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString TdxfProgressBarAccessible::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return bar()->PercentText();
    return QAccessibleWidget::text(type);
}

QVariant TdxfProgressBarAccessible::currentValue() const
{
    return bar()->Position();
}

QVariant TdxfProgressBarAccessible::maximumValue() const
{
    return qMax(bar()->Min(), bar()->Max());
}

QVariant TdxfProgressBarAccessible::minimumValue() const
{
    return qMin(bar()->Min(), bar()->Max());
}
