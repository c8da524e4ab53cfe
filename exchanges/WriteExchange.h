#pragma once

#include "CommandExchange.h"
#include "SettingsStore.h"
#include "WriteEchoCheck.h"

// "Write To TOLVEX": the version query, then every settings line, each answer compared with
// the setting it came from as it stands when the answer arrives; one verdict at the end. A
// difference or a refused line makes the write fail (Error 6) once all lines were sent.
class WriteExchange : public CommandExchange
{
public:
    // A line the unit answered with its code but another value.
    struct Mismatch
    {
        QString line;                // the line sent, without CR LF
        QString answer;              // the unit's answer, without CR LF
        QList<SettingsField> fields; // the fields that differ, each once, in message order
    };

    explicit WriteExchange(SettingsStore &settings) : m_settings(settings) {}

    QString Name() const override { return QStringLiteral("Write"); }

    // Every settings line, or only those the check boxes call for (false). A workstation
    // that gives MAC addresses sends them all.
    void SetSendAllLines(bool all) { m_sendAllLines = all; }

    // The settings as they stand now, checked as before a write: the log lines of every
    // failure, empty when the write may go ahead.
    static QStringList Validate(const SettingsSnapshot &settings);

    // The answers of this run that differed from the settings, in the order sent. (Refused and
    // wrongly answered lines are in the result's lines.)
    const QList<Mismatch> &Mismatches() const { return m_mismatches; }
    // The lines this run sends, in order, from the settings as they stand now.
    QStringList Lines();

protected:
    void FillQueue(CommandQueue &queue) override;
    LineResult::Verdict HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                     const QByteArray &answer, QStringList *messages) override;
    void ResetAttempt() override;
    CommandKind Kind() const override { return CommandKind::Write; }

private:
    SettingsStore &m_settings;
    bool m_sendAllLines = false;
    QList<Mismatch> m_mismatches;
    DottedNumbers m_dotted{{0, 0, 0, 0}};
};
