#pragma once

#include "link/PortDiscovery.h"

#include <QComboBox>

// The serial adapters present, to choose which device a COM number stands for. Each item shows
// the device, its description, maker and serial number, and whether another program holds it
// or the user may not open it; its tool tip adds the USB ids and the stable path. Fed by a
// PortWatcher; the window connects PortChosen to writing ComPorts.txt.
class PortChooser : public QComboBox
{
    Q_OBJECT
public:
    explicit PortChooser(QWidget *parent = nullptr);

    // Replaces the list. The chosen adapter stays chosen while it is present (found by its
    // stable path or its device, whatever its place in the list), without PortChosen; when it
    // is gone nothing is chosen.
    void SetPorts(const QList<SerialPortEntry> &ports);
    const QList<SerialPortEntry> &Ports() const { return m_ports; }

    // Chooses the adapter whose device or stable path is `path` (what a COM number stands for
    // now), or none; emits nothing.
    void SelectPath(const QString &path);
    // The adapter chosen; null when none is.
    const SerialPortEntry *Current() const;

    static QString ItemText(const SerialPortEntry &port);
    static QString ItemToolTip(const SerialPortEntry &port);

    void showPopup() override;

signals:
    // The operator chose an adapter (never for the list's own updates).
    void PortChosen(const SerialPortEntry &port);
    // The list is about to drop down: a moment to list the ports afresh.
    void ListOpening();

private:
    void Rebuild();
    void OnActivated(int index);

    QList<SerialPortEntry> m_ports;
    // PreferredPath() of the adapter chosen; kept while it is unplugged, so it comes back chosen.
    QString m_chosenPath;
};
