#pragma once

#include "link/ExchangeLog.h"

#include <QString>
#include <QStringList>

// Every modal question the window asks goes through here, so tests answer them in code and
// no test ever waits on a dialog.
class Dialogs
{
public:
    enum class Answer
    {
        Yes,
        No,
        Cancel
    };

    virtual ~Dialogs() = default;

    // The toolkit's message dialog with one OK button; the caption follows the kind.
    virtual void Message(MessageKind kind, const QString &text) = 0;
    // The plain box of the port operations: caption "Error", OK only, no icon.
    virtual void PlainError(const QString &text) = 0;
    // A warning with Yes, No and Cancel.
    virtual Answer AskYesNoCancel(const QString &text) = 0;
    // A confirmation with Yes and No (Esc answers No).
    virtual Answer AskYesNo(const QString &text) = 0;
    // File dialogs; an empty result (or list) means the operator cancelled. `filter` is in the
    // form "Config Files|*.txt" ("" for none).
    virtual QString OpenFileName(const QString &filter) = 0;
    virtual QStringList OpenFileNames(const QString &filter) = 0;
    virtual QString SaveFileName(const QString &filter) = 0;
    // The program's short help.
    virtual void Help(const QString &title, const QString &text) = 0;
};
