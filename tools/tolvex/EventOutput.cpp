#include "EventOutput.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#ifndef Q_OS_WIN
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

QString Str(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toString();
}

QString Seconds(double seconds)
{
    if (seconds < 0)
        return QString();
    const int s = int(seconds + 0.5);
    return s >= 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'))
                   : QStringLiteral("%1 s").arg(s);
}

// What --check found and what the run would do, one fact a line.
QString PlanText(const QJsonObject &e)
{
    QStringList lines{QStringLiteral("check passed; the run would be:"),
                      QStringLiteral("  station %1").arg(Str(e, "station"))};
    for (const QJsonValue &value : e.value("ports").toArray()) {
        const QJsonObject port = value.toObject();
        QString line = QStringLiteral("  port %1 (%2)").arg(Str(port, "port"), Str(port, "device"));
        if (port.contains("latencyTimerMs"))
            line += QStringLiteral(", adapter latency timer %1 ms")
                        .arg(port.value("latencyTimerMs").toInt());
        lines << line;
    }
    int number = 0;
    for (const QJsonValue &value : e.value("steps").toArray()) {
        const QJsonObject step = value.toObject();
        QString line = QStringLiteral("  step %1: %2").arg(++number).arg(Str(step, "step"));
        if (step.contains("file"))
            line += QLatin1Char(' ') + Str(step, "file");
        if (step.contains("output"))
            line += QStringLiteral(" to ") + Str(step, "output");
        if (step.contains("mac"))
            line += QStringLiteral(" number ") + Str(step, "mac");
        if (step.contains("sha256"))
            line += QStringLiteral(" image %1%2 bytes, SHA-256 %3")
                        .arg(step.contains("source") ? Str(step, "source") + QStringLiteral(", ")
                                                     : QString())
                        .arg(step.value("size").toInteger())
                        .arg(Str(step, "sha256"));
        lines << line;
    }
    if (e.contains("counter")) {
        const QJsonObject counter = e.value("counter").toObject();
        lines << QStringLiteral("  MAC counter %1: next %2, %3 numbers needed")
                     .arg(Str(counter, "path"), Str(counter, "next"))
                     .arg(counter.value("needed").toInt());
    }
    if (e.contains("record"))
        lines << QStringLiteral("  record %1").arg(Str(e, "record"));
    lines << (e.value("loop").toBool()
                  ? QStringLiteral("  rounds: until standard input ends")
                  : QStringLiteral("  rounds: %1").arg(e.value("rounds").toInt()));
    return lines.join(QLatin1Char('\n'));
}

// The words for one event, or nothing for an event a reader need not see as a line.
QString EventLine(const QJsonObject &e)
{
    const QString type = Str(e, "event");
    const QString port = Str(e, "port");
    if (type == QLatin1String("run"))
        return QStringLiteral("tolvex %1 on %2: %3")
            .arg(Str(e, "version"),
                 e.value("ports").toVariant().toStringList().join(QStringLiteral(", ")),
                 e.value("steps").toVariant().toStringList().join(QStringLiteral(" + ")));
    if (type == QLatin1String("build")) {
        if (Str(e, "state") == QLatin1String("begin"))
            return QStringLiteral("building the web page image from %1 pages")
                .arg(e.value("pages").toInt());
        if (Str(e, "result") == QLatin1String("ok"))
            return QStringLiteral("image built: %1 bytes").arg(e.value("size").toInteger());
        return QStringLiteral("image build failed: %1").arg(OneLine(Str(e, "message")));
    }
    if (type == QLatin1String("start"))
        return QStringLiteral("%1: start on %2%3")
            .arg(port, Str(e, "device"),
                 e.value("round").toInt() > 1
                     ? QStringLiteral(", round %1").arg(e.value("round").toInt())
                     : QString());
    if (type == QLatin1String("waiting"))
        return QStringLiteral("Change the units, then press Enter for round %1 (end of input "
                              "stops)")
            .arg(e.value("round").toInt());
    if (type == QLatin1String("step")) {
        QString line = QStringLiteral("%1: %2").arg(port, Str(e, "step"));
        if (e.contains("mac"))
            line += QStringLiteral(" %1").arg(Str(e, "mac"));
        return line;
    }
    if (type == QLatin1String("log"))
        return QStringLiteral("%1: %2").arg(port, Str(e, "text"));
    if (type == QLatin1String("warning"))
        return QStringLiteral("%1: warning: %2").arg(port, Str(e, "text"));
    if (type == QLatin1String("error"))
        // Why the run stopped before (or without) speaking to a unit.
        return QStringLiteral("stopped: ") + OneLine(Str(e, "message"));
    if (type == QLatin1String("plan"))
        return PlanText(e);
    if (type == QLatin1String("mismatch")) {
        QString line = QStringLiteral("%1: %2: ").arg(port, Str(e, "step"));
        if (Str(e, "kind") == QLatin1String("refused"))
            return line + QStringLiteral("%1 refused by the unit").arg(Str(e, "line"));
        if (Str(e, "kind") == QLatin1String("wrong-code"))
            return line + QStringLiteral("%1 answered %2, which is no answer to it")
                              .arg(Str(e, "line"), Str(e, "answer"));
        line += QStringLiteral("%1 but the unit has %2").arg(Str(e, "line"), Str(e, "answer"));
        const QStringList messages = e.value("messages").toVariant().toStringList();
        if (!messages.isEmpty())
            line += QStringLiteral(" (%1)").arg(messages.join(QStringLiteral(", ")).trimmed());
        return line;
    }
    if (type == QLatin1String("step-end")) {
        const QString result = Str(e, "result");
        QString line = QStringLiteral("%1: %2 %3").arg(port, Str(e, "step"), result);
        if (e.contains("macAddress"))
            line += QStringLiteral(", MAC address %1").arg(Str(e, "macAddress"));
        const QString message = OneLine(Str(e, "message"));
        if (!message.isEmpty())
            line += QStringLiteral(": ") + message;
        return line;
    }
    return QString();
}

} // namespace

QString EventSink::TimeText()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != m_second) {
        m_second = second;
        m_secondText = QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate);
        m_secondText.chop(1); // its "Z"
        m_secondText += QLatin1Char('.');
    }
    const int milli = int(ms % 1000);
    QString text = m_secondText;
    text += QLatin1Char(char('0' + milli / 100));
    text += QLatin1Char(char('0' + milli / 10 % 10));
    text += QLatin1Char(char('0' + milli % 10));
    text += QLatin1Char('Z');
    return text;
}

QString OneLine(const QString &text)
{
    QString line = text.trimmed();
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return line.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral("; "));
}

QString ResultLine(const QJsonObject &r)
{
    QString line = QStringLiteral("%1 (%2): ").arg(Str(r, "port"), Str(r, "device"));
    const QString result = Str(r, "result");
    QStringList done;
    for (const QJsonValue &step : r.value("steps").toArray()) {
        const QJsonObject s = step.toObject();
        QString text = Str(s, "step");
        if (s.contains("mac"))
            text += QLatin1Char(' ') + Str(s, "mac");
        if (Str(s, "result") != QLatin1String("ok"))
            text += QLatin1Char(' ') + Str(s, "result");
        done << text;
    }
    line += result == QLatin1String("ok") ? QStringLiteral("ok") : result.toUpper();
    if (!done.isEmpty())
        line += QStringLiteral(" [%1]").arg(done.join(QStringLiteral(", ")));
    line += QStringLiteral(" %1").arg(Seconds(r.value("durationMs").toDouble() / 1000.0));
    if (result != QLatin1String("ok")) {
        line += QStringLiteral(", exit status %1").arg(r.value("exitStatus").toInt());
        const QString message = OneLine(Str(r, "message"));
        if (!message.isEmpty())
            line += QStringLiteral(": ") + message;
    }
    return line;
}

QStringList RoundSummary(const QStringList &ports, const QHash<QString, QString> &results,
                         const QJsonObject &e)
{
    QStringList lines;
    for (const QString &port : ports) {
        if (results.contains(port))
            lines << results.value(port);
    }
    const int units = e.value("units").toInt();
    QString count = QStringLiteral("%1 %2: %3 ok")
                        .arg(units)
                        .arg(units == 1 ? QStringLiteral("unit") : QStringLiteral("units"))
                        .arg(e.value("ok").toInt());
    if (e.value("failed").toInt() > 0)
        count += QStringLiteral(", %1 failed").arg(e.value("failed").toInt());
    if (e.value("cancelled").toInt() > 0)
        count += QStringLiteral(", %1 cancelled").arg(e.value("cancelled").toInt());
    if (e.value("round").toInt() > 1)
        count = QStringLiteral("round %1: ").arg(e.value("round").toInt()) + count;
    lines << count;
    return lines;
}

void JsonLinesSink::Emit(const QJsonObject &event)
{
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    // A failure stays marked on the stream (ferror), and the exit status tells of it.
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
    std::fflush(m_out);
}

void PlainLinesSink::Print(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

void PlainLinesSink::Emit(const QJsonObject &e)
{
    const QString type = Str(e, "event");
    if (type == QLatin1String("progress")) {
        // A line at every tenth, so a log of eight downloads stays readable.
        const int tenth = e.value("percent").toInt() / 10;
        const QString port = Str(e, "port");
        if (m_lastTenth.value(port, -1) == tenth)
            return;
        m_lastTenth.insert(port, tenth);
        QString line = QStringLiteral("%1: %2 %3% (%4 of %5 bytes")
                           .arg(port, Str(e, "step"))
                           .arg(e.value("percent").toInt())
                           .arg(e.value("bytes").toInteger())
                           .arg(e.value("total").toInteger());
        if (e.contains("secondsLeft"))
            line += QStringLiteral(", %1 left").arg(Seconds(e.value("secondsLeft").toDouble()));
        Print(line + QLatin1Char(')'));
        return;
    }
    if (type == QLatin1String("step")) {
        m_lastTenth.remove(Str(e, "port"));
    } else if (type == QLatin1String("result")) {
        m_results.insert(Str(e, "port"), ResultLine(e));
        return;
    } else if (type == QLatin1String("round-end")) {
        for (const QString &line : RoundSummary(m_ports, m_results, e))
            Print(line);
        m_results.clear();
        return;
    }
    const QString line = EventLine(e);
    if (!line.isEmpty())
        Print(line);
}

TerminalSink::TerminalSink(FILE *out, const QStringList &ports) : m_out(out), m_ports(ports) {}

TerminalSink::~TerminalSink()
{
    Erase();
    std::fflush(m_out);
}

int TerminalSink::Width() const
{
#ifndef Q_OS_WIN
    winsize size{};
    if (::ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
#endif
    return 80;
}

void TerminalSink::Erase()
{
    if (m_drawnLines == 0)
        return;
    // Up to the first live line, then clear to the end of the screen.
    std::fprintf(m_out, "\r\x1b[%dA\x1b[J", m_drawnLines);
    m_drawnLines = 0;
}

QString TerminalSink::LiveText(const QString &port) const
{
    const Live live = m_live.value(port);
    int portWidth = 4;
    for (const QString &name : m_ports)
        portWidth = qMax(portWidth, int(name.size()));
    QString text = QStringLiteral("%1  %2  ").arg(port, -portWidth).arg(live.step, -10);
    if (live.percent >= 0) {
        constexpr int kBar = 24;
        const int filled = live.percent * kBar / 100;
        text +=
            QStringLiteral("[%1%2] %3%")
                .arg(QString(filled, QLatin1Char('#')), QString(kBar - filled, QLatin1Char('.')))
                .arg(live.percent, 3);
        if (live.secondsLeft >= 0)
            text += QStringLiteral("  %1 left").arg(Seconds(live.secondsLeft));
    } else {
        text += live.state;
    }
    return text;
}

void TerminalSink::Draw()
{
    const int width = Width();
    for (const QString &port : m_ports) {
        if (!m_live.contains(port))
            continue;
        const QString text = LiveText(port).left(width - 1);
        std::fprintf(m_out, "\x1b[2K%s\n", text.toLocal8Bit().constData());
        ++m_drawnLines;
    }
}

void TerminalSink::PrintAbove(const QString &line)
{
    Erase();
    std::fprintf(m_out, "%s\n", line.toLocal8Bit().constData());
    Draw();
    std::fflush(m_out);
}

void TerminalSink::Emit(const QJsonObject &e)
{
    const QString type = Str(e, "event");
    const QString port = Str(e, "port");
    if (type == QLatin1String("start")) {
        m_live.insert(port, Live{QString(), QStringLiteral("opening"), -1, -1});
    } else if (type == QLatin1String("step")) {
        Live &live = m_live[port];
        live.step = Str(e, "step");
        live.state = e.contains("mac") ? QStringLiteral("number %1").arg(Str(e, "mac"))
                                       : QStringLiteral("running");
        live.percent = -1;
        live.secondsLeft = -1;
    } else if (type == QLatin1String("unit")) {
        m_live[port].state = QStringLiteral("unit ") + Str(e, "unitVersion");
    } else if (type == QLatin1String("progress")) {
        Live &live = m_live[port];
        live.percent = e.value("percent").toInt();
        live.secondsLeft = e.contains("secondsLeft") ? e.value("secondsLeft").toDouble() : -1;
    } else if (type == QLatin1String("mismatch") || type == QLatin1String("build") ||
               type == QLatin1String("warning") || type == QLatin1String("error") ||
               type == QLatin1String("plan")) {
        PrintAbove(EventLine(e));
    } else if (type == QLatin1String("step-end")) {
        Live &live = m_live[port];
        live.percent = -1;
        live.state = Str(e, "result");
        if (Str(e, "result") != QLatin1String("ok"))
            PrintAbove(EventLine(e));
    } else if (type == QLatin1String("result")) {
        m_results.insert(port, ResultLine(e));
        m_live[port].state =
            Str(e, "result") == QLatin1String("ok") ? QStringLiteral("done") : Str(e, "result");
        m_live[port].step.clear();
    } else if (type == QLatin1String("round-end")) {
        Erase();
        for (const QString &line : RoundSummary(m_ports, m_results, e))
            std::fprintf(m_out, "%s\n", line.toLocal8Bit().constData());
        std::fflush(m_out);
        m_results.clear();
        m_live.clear();
        return;
    } else if (type == QLatin1String("run") || type == QLatin1String("waiting")) {
        PrintAbove(EventLine(e));
    }
    m_dirty = true;
}

void TerminalSink::Tick()
{
    if (!m_dirty)
        return;
    m_dirty = false;
    Erase();
    Draw();
    std::fflush(m_out);
}
