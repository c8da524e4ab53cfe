#include "widgets/TdxfProgressBar.h"

#include "widgets/WidgetAccessibility.h"

#include <QAccessible>
#include <QPainter>

TdxfProgressBar::TdxfProgressBar(QWidget *parent) : QWidget(parent)
{
    InstallWidgetAccessibility();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleDescription(PercentText());
}

void TdxfProgressBar::SetMin(int value)
{
    m_min = value;
    SetPosition(m_position);
    positionChanged();
}

void TdxfProgressBar::SetMax(int value)
{
    m_max = value;
    SetPosition(m_position);
    positionChanged();
}

void TdxfProgressBar::SetPosition(int value)
{
    const int low = qMin(m_min, m_max);
    const int high = qMax(m_min, m_max);
    const int clamped = qBound(low, value, high);
    if (clamped == m_position)
        return;
    m_position = clamped;
    positionChanged();
}

int TdxfProgressBar::Percent() const
{
    const qint64 span = qint64(m_max) - qint64(m_min);
    if (span <= 0)
        return 0;
    return int((qint64(m_position) - qint64(m_min)) * 100 / span);
}

QString TdxfProgressBar::PercentText() const
{
    return QString::number(Percent()) + QLatin1Char('%');
}

void TdxfProgressBar::positionChanged()
{
    setAccessibleDescription(PercentText());
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_position);
        QAccessible::updateAccessibility(&event);
    }
}

QSize TdxfProgressBar::sizeHint() const
{
    const QFontMetrics fm(fontMetrics());
    return QSize(fm.horizontalAdvance(QStringLiteral("100%")) * 4, fm.height() + 6);
}

void TdxfProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect frame = rect();
    painter.fillRect(frame, Qt::white);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));

    const QRect inner = frame.adjusted(2, 2, -2, -2);
    const int filled = inner.width() * Percent() / 100;
    const int blockWidth = qMax(4, inner.height() * 2 / 3);
    for (int x = 0; x < filled; x += blockWidth + 1) {
        const int w = qMin(blockWidth, filled - x);
        // Shade by the block's place along the whole bar: lime at the left, near white at the
        // right.
        const int whiteness = inner.width() > 0 ? 200 * x / inner.width() : 0;
        painter.fillRect(QRect(inner.left() + x, inner.top(), w, inner.height()),
                         QColor(whiteness, 255, whiteness));
    }

    painter.setPen(Qt::black);
    painter.drawText(frame, Qt::AlignCenter, PercentText());
}
