#include "app/PortChooser.h"

#include <QSignalBlocker>

namespace {

bool Matches(const SerialPortEntry &port, const QString &path)
{
    return !path.isEmpty() && (port.device == path || port.stablePath == path);
}

} // namespace

PortChooser::PortChooser(QWidget *parent) : QComboBox(parent)
{
    setObjectName(QStringLiteral("PortChooser"));
    setAccessibleName(QStringLiteral("Serial Adapters"));
    setEditable(false);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(24);
    connect(this, &QComboBox::activated, this, &PortChooser::OnActivated);
    Rebuild();
}

QString PortChooser::ItemText(const SerialPortEntry &port)
{
    QStringList details;
    for (const QString &detail : {port.description, port.manufacturer})
        if (!detail.isEmpty() && !details.contains(detail))
            details << detail;
    if (!port.serialNumber.isEmpty())
        details << QStringLiteral("serial ") + port.serialNumber;
    QString text = port.device;
    if (!details.isEmpty())
        text += QStringLiteral(": ") + details.join(QStringLiteral(", "));
    if (port.holder == PortHolder::OtherProgram) {
        text += port.holderName.isEmpty() ? QStringLiteral(" (in use)")
                                          : QStringLiteral(" (in use by %1)").arg(port.holderName);
    } else if (port.accessDenied) {
        text += QStringLiteral(" (no permission)");
    }
    if (port.latencyTimerMs >= 0)
        text += QStringLiteral(" [latency %1 ms]").arg(port.latencyTimerMs);
    return text;
}

QString PortChooser::ItemToolTip(const SerialPortEntry &port)
{
    QStringList lines{QStringLiteral("Device: ") + port.device};
    if (!port.stablePath.isEmpty())
        lines << QStringLiteral("Stable path: ") + port.stablePath;
    if (!port.description.isEmpty())
        lines << QStringLiteral("Description: ") + port.description;
    if (!port.manufacturer.isEmpty())
        lines << QStringLiteral("Manufacturer: ") + port.manufacturer;
    if (!port.serialNumber.isEmpty())
        lines << QStringLiteral("Serial number: ") + port.serialNumber;
    if (port.hasUsbIds)
        lines << QStringLiteral("USB vendor:product: ") + port.UsbIdText();
    if (port.holder == PortHolder::OtherProgram) {
        QString holder = QStringLiteral("In use by another program");
        if (!port.holderName.isEmpty())
            holder += QStringLiteral(": ") + port.holderName;
        if (port.holderPid > 0)
            holder += QStringLiteral(" (process %1)").arg(port.holderPid);
        lines << holder;
    }
    if (port.accessDenied)
        lines << QStringLiteral("No permission to open it (on Linux: add the user to the "
                                "dialout group, then log in again)");
    if (port.latencyTimerMs >= 0)
        lines << QStringLiteral("Adapter latency timer: %1 ms%2")
                     .arg(port.latencyTimerMs)
                     .arg(port.latencyTimerMs > 1
                              ? QStringLiteral(" (each answer may wait this long in the adapter; "
                                               "1 ms is best)")
                              : QString());
    return lines.join(QLatin1Char('\n'));
}

void PortChooser::SetPorts(const QList<SerialPortEntry> &ports)
{
    m_ports = ports;
    Rebuild();
}

void PortChooser::Rebuild()
{
    const QSignalBlocker quiet(this);
    clear();
    int chosen = -1;
    for (qsizetype i = 0; i < m_ports.size(); ++i) {
        const SerialPortEntry &port = m_ports.at(i);
        addItem(ItemText(port));
        setItemData(int(i), ItemToolTip(port), Qt::ToolTipRole);
        if (chosen < 0 && Matches(port, m_chosenPath))
            chosen = int(i);
    }
    setPlaceholderText(m_ports.isEmpty() ? QStringLiteral("No serial adapters found")
                                         : QStringLiteral("Choose an adapter"));
    setCurrentIndex(chosen);
    setToolTip(chosen >= 0 ? ItemToolTip(m_ports.at(chosen)) : QString());
}

void PortChooser::SelectPath(const QString &path)
{
    m_chosenPath.clear();
    for (const SerialPortEntry &port : m_ports) {
        if (Matches(port, path)) {
            m_chosenPath = port.PreferredPath();
            break;
        }
    }
    // A path no adapter has now may still come back when it is plugged in.
    if (m_chosenPath.isEmpty())
        m_chosenPath = path;
    Rebuild();
}

const SerialPortEntry *PortChooser::Current() const
{
    const int index = currentIndex();
    return index >= 0 && index < m_ports.size() ? &m_ports.at(index) : nullptr;
}

void PortChooser::showPopup()
{
    emit ListOpening();
    QComboBox::showPopup();
}

void PortChooser::OnActivated(int index)
{
    if (index < 0 || index >= m_ports.size())
        return;
    m_chosenPath = m_ports.at(index).PreferredPath();
    setToolTip(ItemToolTip(m_ports.at(index)));
    emit PortChosen(m_ports.at(index));
}
