#include "app/TrafficView.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextBlock>
#include <QVBoxLayout>

TrafficView::TrafficView(TracingPortIo &port, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_port(port), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("TrafficView"));
    setWindowTitle(QStringLiteral("Traffic"));

    TraceMemo = new QPlainTextEdit(this);
    TraceMemo->setObjectName(QStringLiteral("TraceMemo"));
    TraceMemo->setAccessibleName(QStringLiteral("Traffic"));
    TraceMemo->setReadOnly(true);
    TraceMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    TraceMemo->setTabChangesFocus(true);
    // Columns line up in a fixed-pitch font.
    TraceMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    SaveButton = new QPushButton(QStringLiteral("Save"), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setAccessibleName(QStringLiteral("Save"));
    ClearButton = new QPushButton(QStringLiteral("Clear"), this);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    ClearButton->setAccessibleName(QStringLiteral("Clear"));
    connect(SaveButton, &QPushButton::clicked, this, &TrafficView::SaveButtonClick);
    connect(ClearButton, &QPushButton::clicked, this, &TrafficView::ClearButtonClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(ClearButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TraceMemo, 1);
    layout->addLayout(buttons);
    setTabOrder(TraceMemo, SaveButton);
    setTabOrder(SaveButton, ClearButton);
    resize(720, 420);
}

TrafficView::~TrafficView()
{
    m_port.RemoveListener(this);
}

void TrafficView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    StartListening();
}

void TrafficView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        StopListening();
}

void TrafficView::StartListening()
{
    if (m_listening)
        return;
    m_listening = true;
    m_port.AddListener(this);
}

void TrafficView::StopListening()
{
    if (!m_listening)
        return;
    m_listening = false;
    m_port.RemoveListener(this);
    QStringList lines = m_formatter.Flush();
    lines << QDateTime::currentDateTime().time().toString(QStringLiteral("HH:mm:ss.zzz")) +
                 QStringLiteral("  --  not traced while this window was closed");
    Append(lines);
}

void TrafficView::OnTraceEvent(const TraceEvent &event)
{
    Append(m_formatter.Format(event));
}

void TrafficView::Append(const QStringList &lines)
{
    for (const QString &line : lines)
        TraceMemo->appendPlainText(line);
}

QStringList TrafficView::Lines() const
{
    QStringList lines;
    for (QTextBlock block = TraceMemo->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    // An empty document still has one empty block.
    if (lines.size() == 1 && lines.first().isEmpty())
        lines.clear();
    return lines;
}

void TrafficView::SaveButtonClick()
{
    // A line still waiting for its end belongs in what is saved.
    Append(m_formatter.Flush());
    const QString path = m_dialogs.SaveFileName(QStringLiteral("Text Files|*.txt"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveTraceLines(path, Lines(), &error))
        m_dialogs.Message(MessageKind::Error, error);
}

void TrafficView::ClearButtonClick()
{
    TraceMemo->clear();
    // Starts afresh: no half line from before, and the date line again first.
    m_formatter = TraceFormatter();
}
