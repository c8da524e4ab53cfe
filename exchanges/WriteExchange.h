#pragma once

#include "CommandExchange.h"
#include "SettingsStore.h"

// "Write To TOLVEX": the version query, then every settings line, each answer compared with
// the setting it came from as it stands when the answer arrives; one verdict at the end. A
// difference or a refused line makes the write fail (Error 6) once all lines were sent.
class WriteExchange : public CommandExchange
{
public:
    // One line sent and the unit's answer to it.
    struct Echo
    {
        QString line;         // the line sent, without CR LF
        QString answer;       // the unit's answer, without CR LF ("Error" for a refused line)
        QStringList messages; // the differences as logged, e.g. "Client Port Write Error "
    };
    // An echo with at least one difference.
    using Mismatch = Echo;

    explicit WriteExchange(SettingsStore &settings) : m_settings(settings) {}

    QString Name() const override { return QStringLiteral("Write"); }

    // Every settings line, or only those the check boxes call for (false). A workstation
    // that gives MAC addresses sends them all.
    void SetSendAllLines(bool all) { m_sendAllLines = all; }

    // The settings as they stand now, checked as before a write: the log lines of every
    // failure, empty when the write may go ahead.
    static QStringList Validate(const SettingsSnapshot &settings);

    const QList<Mismatch> &Mismatches() const { return m_mismatches; }
    // Every line answered in this run, in the order sent, matched or not; a line the run ended
    // without an answer to is not among them. For a production record of each echo's verdict.
    const QList<Echo> &Echoes() const { return m_echoes; }
    // The lines this run sends, in order, from the settings as they stand now.
    QStringList Lines();

protected:
    void FillQueue(CommandQueue &queue) override;
    void HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                      const QByteArray &answer) override;
    void ResetAttempt() override;
    ExchangeResult Conclude(ExchangeLink &link) override;

private:
    SettingsStore &m_settings;
    bool m_sendAllLines = false;
    QList<Mismatch> m_mismatches;
    QList<Echo> m_echoes;
    DottedNumbers m_dotted{{0, 0, 0, 0}};
};
