#include "QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

QString QtDialogs::QtFilter(const QString &filter)
{
    if (filter.isEmpty())
        return QString();
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        entries << QStringLiteral("%1 (%2)").arg(parts.at(i), patterns.join(QLatin1Char(' ')));
    }
    return entries.join(QStringLiteral(";;"));
}

QString QtDialogs::DisplayText(const QString &text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void QtDialogs::Message(MessageKind kind, const QString &text)
{
    QMessageBox::Icon icon = QMessageBox::Critical;
    QString caption = QStringLiteral("Error");
    switch (kind) {
    case MessageKind::Error:
        break;
    case MessageKind::Warning:
        icon = QMessageBox::Warning;
        caption = QStringLiteral("Warning");
        break;
    case MessageKind::Information:
        icon = QMessageBox::Information;
        caption = QStringLiteral("Information");
        break;
    case MessageKind::Confirmation:
        icon = QMessageBox::Question;
        caption = QStringLiteral("Confirm");
        break;
    }
    QMessageBox box(icon, caption, DisplayText(text), QMessageBox::Ok, m_parent);
    box.exec();
}

void QtDialogs::PlainError(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"), DisplayText(text),
                    QMessageBox::Ok, m_parent);
    box.exec();
}

Dialogs::Answer QtDialogs::AskYesNoCancel(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), DisplayText(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_parent);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

Dialogs::Answer QtDialogs::AskYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), DisplayText(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::OpenFileName(const QString &filter)
{
    return QFileDialog::getOpenFileName(m_parent, QString(), QString(), QtFilter(filter));
}

QStringList QtDialogs::OpenFileNames(const QString &filter)
{
    return QFileDialog::getOpenFileNames(m_parent, QString(), QString(), QtFilter(filter));
}

QString QtDialogs::SaveFileName(const QString &filter)
{
    return QFileDialog::getSaveFileName(m_parent, QString(), QString(), QtFilter(filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void QtDialogs::Help(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, m_parent);
    box.exec();
}
