#pragma once

#include "Dialogs.h"
#include "link/TrafficTrace.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The "Traffic" window the operator opens beside the main window: every byte sent to and
// received from the unit as trace text, appended as it happens. It listens to the port only
// while it is open, so a closed view costs nothing; what it showed stays for the next opening,
// with a line marking the time it was closed.
class TrafficView : public QWidget, public TraceListener
{
    Q_OBJECT
public:
    // `port` must outlive the view. With a parent the view is still a window of its own.
    TrafficView(TracingPortIo &port, Dialogs &dialogs, QWidget *parent = nullptr);
    ~TrafficView() override;

    // Asks for a file name and writes the trace shown there; a failure is said in a box.
    void SaveButtonClick();
    // Empties the view (before reproducing a fault, say).
    void ClearButtonClick();

    // The lines shown, for tests.
    QStringList Lines() const;
    bool IsListening() const { return m_listening; }

    void OnTraceEvent(const TraceEvent &event) override;

    QPlainTextEdit *TraceMemo = nullptr;
    QPushButton *SaveButton = nullptr;
    QPushButton *ClearButton = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    // Minimising is not closing: only a real hide or close stops the listening.
    void hideEvent(QHideEvent *event) override;

private:
    void StartListening();
    void StopListening();
    void Append(const QStringList &lines);

    TracingPortIo &m_port;
    Dialogs &m_dialogs;
    TraceFormatter m_formatter;
    bool m_listening = false;
};
