#pragma once

#include "CommandExchange.h"
#include "SettingsStore.h"

// "Send New MAC": one "ma" line with the number, then "zc"; the unit's "MA" answer shows its
// new address. No version query. A retry after a time-out sends the "ma" line again. A refused
// line, an answer that is no "MA" answer, or one whose address does not end in the number sent,
// makes the assignment fail; only an "MA" answer to the "ma" line is shown.
class MacAssignment : public CommandExchange
{
public:
    explicit MacAssignment(SettingsStore &settings) : m_settings(settings) {}

    QString Name() const override { return QStringLiteral("MAC assignment"); }

    // The number (0 to 65535) the next run sends. Until that run's "ma" line goes out, the
    // number counts as not sent (a port that cannot be opened never begins the run).
    void SetNumber(int number)
    {
        m_number = number;
        m_numberSent = false;
        m_answeredAddress.clear();
    }
    int Number() const { return m_number; }
    // Whether this run's "ma" line went to the port at least once: the number counts as given.
    bool NumberSent() const { return m_numberSent; }
    // The unit answered the "ma" line with an address ending in the number sent.
    bool NumberTaken() const;
    // The address the unit answered the "ma" line with ("" when none).
    const QString &AnsweredAddress() const { return m_answeredAddress; }

protected:
    void FillQueue(CommandQueue &queue) override;
    bool QueriesVersion() const override { return false; }
    LineResult::Verdict HandleAnswer(ExchangeLink &link, const QByteArray &sent,
                                     const QByteArray &answer, QStringList *messages) override;
    CommandKind Kind() const override { return CommandKind::MacAssignment; }

public:
    void Begin(ExchangeLink &link) override;
    // The number sent and the address answered go into every result.
    void Describe(ExchangeResult &result) override;

private:
    SettingsStore &m_settings;
    int m_number = 0;
    bool m_numberSent = false;
    QString m_answeredAddress;
};
