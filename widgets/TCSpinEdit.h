#pragma once

#include <QAbstractSpinBox>

#include <optional>

// Numeric spin edit whose text is the value. Typing is never blocked: the operator may type
// anything, and the text is brought back into MinValue..MaxValue when it is read, stepped or left.
// With MinValue equal to MaxValue the range is not enforced (any int is kept).
class TCSpinEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit TCSpinEdit(QWidget *parent = nullptr);

    int MinValue() const { return m_minValue; }
    // Changing the range leaves the text alone; it is clamped the next time it is read.
    void SetMinValue(int value);
    int MaxValue() const { return m_maxValue; }
    void SetMaxValue(int value);

    int Increment() const { return m_increment; }
    void SetIncrement(int value) { m_increment = value; }

    // Reads the text: a non-number reads as MinValue, an out-of-range number reads clamped, and in
    // both cases the text is rewritten to the value returned so the display matches what was read.
    int Value() const;
    // What Value() would return, without touching the text (the operator may be mid-entry).
    int ShownValue() const;
    // Stores value clamped into the range and shows it.
    void SetValue(int value);

    // The text as a whole number, empty when it is not one. Magnitudes beyond the int range
    // saturate just outside it, so they still clamp and still differ from every int.
    static std::optional<qint64> ParseWholeNumber(const QString &text);

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The operator changed the value: typed, stepped (keys, buttons, wheel) or set it through an
    // assistive tool. Not emitted for SetValue nor for the repair made by Value().
    void ValueEdited();

protected:
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    friend class TCSpinEditAccessible;

    // An entry made through an assistive tool: stored like SetValue, reported like typing.
    void EditValue(int value);
    void NoteTextEdited() { emit ValueEdited(); }
    void textChanged();
    qint64 clamp(qint64 value) const;
    void showValue(int value) const;

    int m_minValue = 0;
    int m_maxValue = 100;
    int m_increment = 1;
};
