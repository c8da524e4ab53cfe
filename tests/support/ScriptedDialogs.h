#pragma once

// Dialogs answered by the test: every box is recorded, questions and file choices take the
// next scripted answer (Cancel / empty when none is left), so no test waits on a modal dialog.

#include "app/Dialogs.h"

#include <QList>
#include <QStringList>
#include <functional>

class ScriptedDialogs : public Dialogs
{
public:
    struct Box
    {
        MessageKind kind;
        QString text;
    };

    void Message(MessageKind kind, const QString &text) override
    {
        boxes.append({kind, text});
        events << QStringLiteral("box:") + text;
        if (whileBoxOpen)
            whileBoxOpen();
    }
    void PlainError(const QString &text) override
    {
        plainErrors << text;
        events << QStringLiteral("port:") + text;
    }
    Answer AskYesNoCancel(const QString &text) override
    {
        questions << text;
        return answers.isEmpty() ? Answer::Cancel : answers.takeFirst();
    }
    // No when nothing is scripted: the safe answer.
    Answer AskYesNo(const QString &text) override
    {
        questions << text;
        events << QStringLiteral("ask:") + text;
        if (whileAsking)
            whileAsking();
        return answers.isEmpty() ? Answer::No : answers.takeFirst();
    }
    QString OpenFileName(const QString &filter) override
    {
        filters << filter;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    QStringList OpenFileNames(const QString &filter) override
    {
        filters << filter;
        return fileLists.isEmpty() ? QStringList() : fileLists.takeFirst();
    }
    QString SaveFileName(const QString &filter) override
    {
        filters << filter;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }
    void Help(const QString &, const QString &text) override { helpTexts << text; }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const Box &box : boxes)
            texts << box.text;
        return texts;
    }

    QList<Box> boxes;
    QStringList plainErrors;
    QStringList events;
    QStringList questions;
    QList<Answer> answers;
    QStringList fileNames;
    QList<QStringList> fileLists;
    QStringList filters;
    QStringList helpTexts;
    std::function<void()> whileBoxOpen;
    std::function<void()> whileAsking;
};
