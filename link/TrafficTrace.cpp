#include "TrafficTrace.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>

namespace {

constexpr char kSoh = 0x01;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kCan = 0x18;
constexpr qsizetype kBlockSize = 132; // SOH, number, complement, 128 data bytes, checksum
constexpr qsizetype kBlockData = 128;
// The unit's longest line, CR LF included; longer runs are shown in pieces of this size.
constexpr qsizetype kLongestLine = 64;

const char *ControlName(char byte)
{
    switch (byte) {
    case kEot:
        return "EOT";
    case kAck:
        return "ACK";
    case kNak:
        return "NAK";
    case kCan:
        return "CAN";
    default:
        return nullptr;
    }
}

// "ACK", "CAN CAN": bytes that are all named control bytes; empty otherwise.
QString ControlNames(const QByteArray &bytes)
{
    QStringList names;
    for (const char byte : bytes) {
        const char *name = ControlName(byte);
        if (!name)
            return QString();
        names << QLatin1String(name);
    }
    return names.join(QLatin1Char(' '));
}

QString Hex(quint8 value)
{
    return QLatin1String("0x") +
           QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

} // namespace

TracingPortIo::TracingPortIo(std::unique_ptr<PortIo> inner) : m_inner(std::move(inner))
{
    m_inner->SetReceiver([this](const QByteArray &bytes) {
        // Recorded before it is handed on, so the answer shows before whatever it causes.
        if (!m_listeners.empty()) {
            TraceEvent event;
            event.kind = TraceEvent::Kind::Received;
            event.bytes = bytes;
            Notify(std::move(event));
        }
        Deliver(bytes);
    });
    m_inner->SetLostHandler([this] { ReportLost(); });
}

void TracingPortIo::AddListener(TraceListener *listener)
{
    if (listener &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void TracingPortIo::RemoveListener(TraceListener *listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                      m_listeners.end());
}

PortIo::OpenResult TracingPortIo::Open(const QString &device)
{
    const OpenResult result = m_inner->Open(device);
    if (!m_listeners.empty()) {
        TraceEvent event;
        event.kind = TraceEvent::Kind::Open;
        event.device = device;
        event.openResult = result;
        Notify(std::move(event));
    }
    return result;
}

void TracingPortIo::Close()
{
    m_inner->Close();
    if (!m_listeners.empty()) {
        TraceEvent event;
        event.kind = TraceEvent::Kind::Close;
        Notify(std::move(event));
    }
}

bool TracingPortIo::Write(const QByteArray &bytes)
{
    const bool written = m_inner->Write(bytes);
    if (!m_listeners.empty()) {
        TraceEvent event;
        event.kind = written ? TraceEvent::Kind::Sent : TraceEvent::Kind::WriteFailed;
        event.bytes = bytes;
        Notify(std::move(event));
    }
    return written;
}

void TracingPortIo::Notify(TraceEvent &&event)
{
    event.msecsSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    // By index: a listener may remove itself while it is told.
    for (size_t i = 0; i < m_listeners.size(); ++i)
        m_listeners[i]->OnTraceEvent(event);
}

QString TraceFormatter::QuotedText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() + 2);
    text += QLatin1Char('"');
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\r':
            text += QLatin1String("\\r");
            break;
        case '\n':
            text += QLatin1String("\\n");
            break;
        case '\t':
            text += QLatin1String("\\t");
            break;
        case '"':
            text += QLatin1String("\\\"");
            break;
        case '\\':
            text += QLatin1String("\\\\");
            break;
        default:
            if (byte >= 0x20 && byte < 0x7f)
                text += QLatin1Char(c);
            else
                text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        }
    }
    text += QLatin1Char('"');
    return text;
}

QString TraceFormatter::Stamp(qint64 msecsSinceEpoch, QStringList *lines)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    if (time.date() != m_day) {
        m_day = time.date();
        lines->append(m_day.toString(Qt::ISODate));
    }
    return time.time().toString(QStringLiteral("HH:mm:ss.zzz"));
}

void TraceFormatter::EmitPending(QStringList *lines)
{
    if (m_pending.isEmpty())
        return;
    const QString stamp = Stamp(m_pendingTime, lines);
    lines->append(stamp + QLatin1String("  RX  ") + QuotedText(m_pending));
    m_pending.clear();
}

QString TraceFormatter::DescribeSent(const QByteArray &bytes)
{
    if (bytes.size() == kBlockSize && bytes.at(0) == kSoh) {
        const auto number = static_cast<quint8>(bytes.at(1));
        const auto complement = static_cast<quint8>(bytes.at(2));
        quint8 sum = 0;
        for (qsizetype i = 3; i < 3 + kBlockData; ++i)
            sum = quint8(sum + static_cast<quint8>(bytes.at(i)));
        const auto checksum = static_cast<quint8>(bytes.at(kBlockSize - 1));
        QString text = QStringLiteral("block %1, %2 bytes, ").arg(number).arg(kBlockData);
        text +=
            checksum == sum
                ? QStringLiteral("checksum right")
                : QStringLiteral("checksum wrong (%1, should be %2)").arg(Hex(checksum), Hex(sum));
        if (quint8(number + complement) != 0xff)
            text += QStringLiteral(", number complement wrong (%1)").arg(Hex(complement));
        m_answerTo = QStringLiteral("block %1").arg(number);
        return text;
    }
    const QString names = ControlNames(bytes);
    if (!names.isEmpty()) {
        m_answerTo = bytes == QByteArray(1, kEot) ? QStringLiteral("EOT") : QString();
        return names;
    }
    m_answerTo.clear();
    return QuotedText(bytes);
}

void TraceFormatter::FormatReceived(const TraceEvent &event, QStringList *lines)
{
    const QByteArray &bytes = event.bytes;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (ControlName(bytes.at(i))) {
            // A run of control bytes is one answer; it ends any text before it.
            EmitPending(lines);
            qsizetype end = i;
            while (end < bytes.size() && ControlName(bytes.at(end)))
                ++end;
            QString text = ControlNames(bytes.mid(i, end - i));
            if (!m_answerTo.isEmpty())
                text += QLatin1String(" to ") + m_answerTo;
            const QString stamp = Stamp(event.msecsSinceEpoch, lines);
            lines->append(stamp + QLatin1String("  RX  ") + text);
            i = end;
            continue;
        }
        // A line is dated by its last piece: when the program had all of it.
        m_pendingTime = event.msecsSinceEpoch;
        m_pending += bytes.at(i);
        ++i;
        if (m_pending.endsWith('\n') || m_pending.size() >= kLongestLine)
            EmitPending(lines);
    }
}

QStringList TraceFormatter::Format(const TraceEvent &event)
{
    QStringList lines;
    if (event.kind == TraceEvent::Kind::Received) {
        FormatReceived(event, &lines);
        return lines;
    }
    EmitPending(&lines);
    const QString stamp = Stamp(event.msecsSinceEpoch, &lines);
    switch (event.kind) {
    case TraceEvent::Kind::Open: {
        QString result;
        switch (event.openResult) {
        case PortIo::OpenResult::Opened:
            result = QStringLiteral("opened");
            break;
        case PortIo::OpenResult::NoSuchDevice:
            result = QStringLiteral("failed, no such device");
            break;
        case PortIo::OpenResult::InUse:
            result = QStringLiteral("failed, in use by another program");
            break;
        case PortIo::OpenResult::NoPermission:
            result = QStringLiteral("failed, no permission");
            break;
        case PortIo::OpenResult::OpenFailed:
            result = QStringLiteral("failed");
            break;
        case PortIo::OpenResult::SettingsRefused:
            result = QStringLiteral("line settings refused, closed again");
            break;
        }
        lines.append(stamp + QLatin1String("  --  open ") + event.device + QLatin1String(": ") +
                     result);
        m_answerTo.clear();
        break;
    }
    case TraceEvent::Kind::Close:
        lines.append(stamp + QLatin1String("  --  close"));
        m_answerTo.clear();
        break;
    case TraceEvent::Kind::Sent:
        lines.append(stamp + QLatin1String("  TX  ") + DescribeSent(event.bytes));
        break;
    case TraceEvent::Kind::WriteFailed:
        lines.append(stamp + QLatin1String("  TX  write failed: ") + DescribeSent(event.bytes));
        break;
    case TraceEvent::Kind::Received:
        break;
    }
    return lines;
}

QStringList TraceFormatter::Flush()
{
    QStringList lines;
    EmitPending(&lines);
    return lines;
}

QStringList TraceFormatter::FormatAll(const QList<TraceEvent> &events)
{
    TraceFormatter formatter;
    QStringList lines;
    for (const TraceEvent &event : events)
        lines += formatter.Format(event);
    lines += formatter.Flush();
    return lines;
}

TraceFileSink::~TraceFileSink()
{
    if (m_file.isOpen())
        WriteLines(m_formatter.Flush());
}

bool TraceFileSink::Open(const QString &path, QString *error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("Cannot create file %1").arg(path);
        return false;
    }
    m_failed = false;
    return true;
}

void TraceFileSink::OnTraceEvent(const TraceEvent &event)
{
    if (m_file.isOpen() && !m_failed)
        WriteLines(m_formatter.Format(event));
}

void TraceFileSink::WriteLines(const QStringList &lines)
{
    if (lines.isEmpty() || m_failed)
        return;
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toUtf8() + '\n';
    if (m_file.write(bytes) != bytes.size() || !m_file.flush())
        m_failed = true;
}

bool SaveTrace(const QString &path, const QList<TraceEvent> &events, QString *error)
{
    return SaveTraceLines(path, TraceFormatter::FormatAll(events), error);
}

bool SaveTraceLines(const QString &path, const QStringList &lines, QString *error)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toUtf8() + '\n';
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(bytes) != bytes.size() ||
        !file.flush() || !file.commit()) {
        *error = QStringLiteral("Cannot create file %1").arg(path);
        return false;
    }
    return true;
}
