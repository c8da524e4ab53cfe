#include "widgets/TCSpinEdit.h"

#include "widgets/WidgetAccessibility.h"

#include <QAccessible>
#include <QFocusEvent>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <climits>

TCSpinEdit::TCSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    InstallWidgetAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    connect(lineEdit(), &QLineEdit::textChanged, this, &TCSpinEdit::textChanged);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TCSpinEdit::ValueEdited);
    showValue(m_minValue);
}

void TCSpinEdit::SetMinValue(int value)
{
    m_minValue = value;
    updateGeometry();
    update();
}

void TCSpinEdit::SetMaxValue(int value)
{
    m_maxValue = value;
    updateGeometry();
    update();
}

std::optional<qint64> TCSpinEdit::ParseWholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= t.size())
        return std::nullopt;
    // Accumulated with saturation: digits beyond the int range still make a whole number.
    const qint64 limit = qint64(INT_MAX) + 2;
    qint64 magnitude = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        if (magnitude <= limit)
            magnitude = magnitude * 10 + (c.unicode() - '0');
    }
    if (magnitude > limit)
        magnitude = limit;
    return negative ? -magnitude : magnitude;
}

qint64 TCSpinEdit::clamp(qint64 value) const
{
    qint64 low = INT_MIN;
    qint64 high = INT_MAX;
    if (m_minValue != m_maxValue) {
        low = m_minValue;
        high = m_maxValue;
    }
    if (value > high)
        value = high;
    if (value < low)
        value = low;
    return value;
}

void TCSpinEdit::showValue(int value) const
{
    const QString text = QString::number(value);
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void TCSpinEdit::textChanged()
{
    // Keeps the step buttons' enabled state in line with what is typed.
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, ShownValue());
        QAccessible::updateAccessibility(&event);
    }
}

int TCSpinEdit::ShownValue() const
{
    const std::optional<qint64> parsed = ParseWholeNumber(lineEdit()->text());
    return parsed ? int(clamp(*parsed)) : m_minValue;
}

int TCSpinEdit::Value() const
{
    const std::optional<qint64> parsed = ParseWholeNumber(lineEdit()->text());
    const int value = parsed ? int(clamp(*parsed)) : m_minValue;
    if (!parsed || value != *parsed)
        showValue(value);
    return value;
}

void TCSpinEdit::SetValue(int value)
{
    showValue(int(clamp(value)));
}

void TCSpinEdit::EditValue(int value)
{
    const QString before = lineEdit()->text();
    SetValue(value);
    if (lineEdit()->text() != before)
        emit ValueEdited();
}

void TCSpinEdit::stepBy(int steps)
{
    // 64-bit arithmetic: steps * Increment and the sum cannot overflow before clamping.
    const QString before = lineEdit()->text();
    const qint64 target = qint64(Value()) + qint64(steps) * qint64(m_increment);
    showValue(int(clamp(target)));
    if (lineEdit()->text() != before)
        emit ValueEdited();
}

QAbstractSpinBox::StepEnabled TCSpinEdit::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    const std::optional<qint64> parsed = ParseWholeNumber(lineEdit()->text());
    const qint64 value = parsed ? clamp(*parsed) : m_minValue;
    StepEnabled flags = StepNone;
    if (value < clamp(INT_MAX))
        flags |= StepUpEnabled;
    if (value > clamp(INT_MIN))
        flags |= StepDownEnabled;
    return flags;
}

QValidator::State TCSpinEdit::validate(QString &, int &) const
{
    return QValidator::Acceptable;
}

void TCSpinEdit::focusOutEvent(QFocusEvent *event)
{
    QAbstractSpinBox::focusOutEvent(event);
    const std::optional<qint64> parsed = ParseWholeNumber(lineEdit()->text());
    if (parsed)
        showValue(int(clamp(*parsed)));
}

QSize TCSpinEdit::sizeHint() const
{
    ensurePolished();
    const QFontMetrics fm(fontMetrics());
    const QString space = QStringLiteral(" ");
    int w = qMax(fm.horizontalAdvance(QString::number(m_minValue) + space),
                 fm.horizontalAdvance(QString::number(m_maxValue) + space));
    w += 2; // room for the cursor
    QStyleOptionSpinBox opt;
    initStyleOption(&opt);
    const QSize hint(w, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &opt, hint, this);
}

QSize TCSpinEdit::minimumSizeHint() const
{
    return sizeHint();
}
