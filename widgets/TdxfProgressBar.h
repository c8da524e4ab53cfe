#pragma once

#include <QWidget>

// Progress bar that shows its position as a percentage of Min..Max, drawn as a row of blocks
// shading from lime towards white.
class TdxfProgressBar : public QWidget
{
    Q_OBJECT
public:
    explicit TdxfProgressBar(QWidget *parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    // Position is re-clamped into the new range.
    void SetMin(int value);
    void SetMax(int value);

    int Position() const { return m_position; }
    // Values outside Min..Max are clamped, never refused.
    void SetPosition(int value);

    // Whole percent of Position within Min..Max, 0 for an empty range.
    int Percent() const;
    // The text drawn on the bar, e.g. "42%".
    QString PercentText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void positionChanged();

    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};
