#include "SimUnit.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

SimUnit::SimUnit() = default;

SimUnit::~SimUnit()
{
    stop();
}

bool SimUnit::start(const QStringList &arguments, int timeoutMs)
{
    stop();
    m_events.clear();
    m_cursor = 0;
    m_commandReplies = 0;
    m_devicePath.clear();
    m_error.clear();

    QStringList args = arguments;
    const qsizetype linkIndex = args.indexOf(QStringLiteral("--link"));
    if (linkIndex >= 0 && linkIndex + 1 < args.size()) {
        m_linkPath = args[linkIndex + 1];
    } else {
        m_linkPath = m_folder.filePath(QStringLiteral("unit"));
        args << QStringLiteral("--link") << m_linkPath;
    }
    if (!args.contains(QStringLiteral("--exit-on-stdin-eof")))
        args << QStringLiteral("--exit-on-stdin-eof");

    m_process = std::make_unique<QProcess>();
    // Its complaints (a bad option, a failed link) belong in the test's own output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput, [this] { readEvents(); });
    m_process->start(QStringLiteral(TOLVEX_BIN_DIR "/tolvex-sim"), args);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("tolvex-sim did not start: ") + m_process->errorString();
        return false;
    }
    if (!waitUntil([this] { return !m_devicePath.isEmpty(); }, timeoutMs)) {
        m_error = QStringLiteral("tolvex-sim reported no device (its messages are above)");
        return false;
    }
    m_cursor = 0;
    return true;
}

bool SimUnit::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void SimUnit::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    readEvents();
    m_process.reset();
}

bool SimUnit::sendCommand(const QString &command, int timeoutMs)
{
    if (!isRunning())
        return false;
    const int before = m_commandReplies;
    m_process->write(command.toUtf8() + '\n');
    if (!waitUntil([this, before] { return m_commandReplies > before; }, timeoutMs))
        return false;
    return m_lastCommandReply.startsWith(QLatin1String("CMD "));
}

bool SimUnit::waitForEvent(const QString &prefix, int timeoutMs)
{
    auto found = [this, &prefix] {
        for (int i = m_cursor; i < m_events.size(); ++i) {
            if (m_events[i].startsWith(prefix)) {
                m_cursor = i + 1;
                return true;
            }
        }
        return false;
    };
    return waitUntil(found, timeoutMs);
}

void SimUnit::skipEvents()
{
    m_cursor = int(m_events.size());
}

QList<QByteArray> SimUnit::receivedLines() const
{
    QList<QByteArray> lines;
    for (const QString &event : m_events) {
        if (event.startsWith(QLatin1String("GOT ")))
            lines << unescape(event.mid(4).toLatin1());
    }
    return lines;
}

QByteArray SimUnit::unescape(const QByteArray &text)
{
    QByteArray out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r') {
            out += '\r';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 't') {
            out += '\t';
        } else if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

void SimUnit::readEvents()
{
    if (!m_process)
        return;
    m_partial += m_process->readAllStandardOutput();
    for (qsizetype end = m_partial.indexOf('\n'); end >= 0; end = m_partial.indexOf('\n')) {
        const QString event = QString::fromLatin1(m_partial.left(end));
        m_partial.remove(0, end + 1);
        m_events << event;
        if (event.startsWith(QLatin1String("PTY ")))
            m_devicePath = event.mid(4);
        if (event.startsWith(QLatin1String("CMD ")) || event.startsWith(QLatin1String("BADCMD "))) {
            ++m_commandReplies;
            m_lastCommandReply = event;
        }
    }
}

bool SimUnit::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired() || !isRunning()) {
            readEvents();
            return done();
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(m_process.get(), &QProcess::readyReadStandardOutput, &loop,
                         &QEventLoop::quit);
        QObject::connect(m_process.get(), &QProcess::finished, &loop, &QEventLoop::quit);
        timer.start(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        loop.exec();
    }
    return true;
}
