#pragma once

#include <QAccessibleWidget>

class QLineEdit;
class TCSpinEdit;
class TdxfProgressBar;

// What screen readers and other assistive tools see of the widget set. Qt's own interface for a
// spin box asks for a "value" property these widgets do not have, so it reads every spin edit
// as 0, and a plain widget has no role or value at all; these interfaces give the real ones.

// Registers the interfaces below with QAccessible; the widgets call it when they are created,
// so every program that uses them gets it. Calling it again does nothing.
void InstallWidgetAccessibility();

// A spin edit: the spin box role; its value, range and step; the text shown (what a screen
// reader reads) with the text editing of its line edit; and increase and decrease actions.
class TCSpinEditAccessible : public QAccessibleWidget,
                             public QAccessibleValueInterface,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface
{
public:
    explicit TCSpinEditAccessible(TCSpinEdit *spin);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    // Value: the number the text stands for, read without repairing the text. Setting it
    // stores it clamped into the range and shows it, as an operator's entry would.
    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    // Actions: Qt's increase and decrease step by Increment, like the arrow buttons.
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

    // Text and editable text: those of the line edit inside (Qt gives a spin box's line edit no
    // interface of its own). Edits made here count as the operator's.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    TCSpinEdit *spin() const;
    QLineEdit *line() const;
};

// The progress bar: the progress bar role, its position within Min..Max as a value that only
// the program sets, and the percentage shown as its text.
class TdxfProgressBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit TdxfProgressBarAccessible(TdxfProgressBar *bar);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override { return 0; }

private:
    TdxfProgressBar *bar() const;
};
