#include "StdinReader.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

StdinReader::StdinReader(QObject *parent) : QObject(parent)
{
    if (fcntl(STDIN_FILENO, F_GETFD) == -1) {
        QTimer::singleShot(0, this, &StdinReader::finished);
        return;
    }
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::readAvailable);
}

void StdinReader::readAvailable()
{
    char chunk[1024];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        m_notifier->setEnabled(false);
        if (!m_buffer.isEmpty())
            emit lineRead(m_buffer);
        m_buffer.clear();
        emit finished();
        return;
    }
    m_buffer.append(chunk, static_cast<int>(n));
    for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        emit lineRead(line);
    }
    if (m_buffer.size() > MaxLineLength)
        m_buffer.clear();
}
