#pragma once

#include "Dialogs.h"

class QWidget;

// The real dialogs: QMessageBox and QFileDialog, modal to the main window.
class QtDialogs : public Dialogs
{
public:
    explicit QtDialogs(QWidget *parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget *parent) { m_parent = parent; }

    void Message(MessageKind kind, const QString &text) override;
    void PlainError(const QString &text) override;
    Answer AskYesNoCancel(const QString &text) override;
    Answer AskYesNo(const QString &text) override;
    QString OpenFileName(const QString &filter) override;
    QStringList OpenFileNames(const QString &filter) override;
    QString SaveFileName(const QString &filter) override;
    void Help(const QString &title, const QString &text) override;

    // "Config Files|*.txt" becomes "Config Files (*.txt)"; several patterns split at ';'.
    static QString QtFilter(const QString &filter);
    // Message texts break lines at CR, LF or CR LF.
    static QString DisplayText(const QString &text);

private:
    QWidget *m_parent;
};
