#include "SimulatedUnit.h"

#include "webpages/ImageFormat.h"

#include <QDir>
#include <QSaveFile>

namespace {

constexpr char Ack = 0x06;
constexpr char Nak = 0x15;

// An image's entry name is used as a file name only when it cannot leave the target folder.
bool IsBareFileName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 255 && name != QLatin1String(".") &&
           name != QLatin1String("..") && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

bool WriteWholeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace

SimulatedUnit::SimulatedUnit(const SimOptions &options, EventLog *log, QObject *parent)
    : QObject(parent), m_options(options), m_faults(options.faults), m_log(log),
      m_port(options.linkPath), m_noise(options.seed)
{
    m_nakTimer.setInterval(NakIntervalMs);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(TransferIdleMs);
    m_partialTimer.setSingleShot(true);
    m_partialTimer.setInterval(PartialBlockMs);
    m_reopenTimer.setSingleShot(true);
    connect(&m_nakTimer, &QTimer::timeout, this, &SimulatedUnit::repeatNak);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] { endTransfer("timeout"); });
    connect(&m_partialTimer, &QTimer::timeout, this, &SimulatedUnit::dropPartialBlock);
    connect(&m_reopenTimer, &QTimer::timeout, this, &SimulatedUnit::reopen);
    connect(&m_port, &PtyPort::received, this, &SimulatedUnit::onReceived);
    connect(&m_port, &PtyPort::sent, this,
            [this](const QByteArray &event) { m_log->write(event); });
    connect(&m_port, &PtyPort::closed, this, &SimulatedUnit::onClosed);
}

bool SimulatedUnit::start(QString *error)
{
    if (!m_port.open(error))
        return false;
    m_log->write("PTY " + QFile::encodeName(m_port.devicePath()));
    applyFaultsNow();
    return true;
}

void SimulatedUnit::runCommand(const QByteArray &line)
{
    const QByteArray command = line.trimmed();
    if (command.isEmpty())
        return;
    const qsizetype space = command.indexOf(' ');
    const QString name = QString::fromLatin1(space < 0 ? command : command.left(space)).toLower();
    const QString value =
        space < 0 ? QString() : QString::fromLatin1(command.mid(space + 1)).trimmed();

    if (name == QLatin1String("reset")) {
        m_faults = FaultSettings();
    } else if (name == QLatin1String("quit")) {
        m_log->write("CMD " + EscapeBytes(command));
        emit quitRequested();
        return;
    } else if (name == QLatin1String("reopen")) {
        m_reopenTimer.stop();
        reopen();
    } else {
        QString error;
        if (!ApplyFault(&m_faults, name, value, &error)) {
            m_log->write("BADCMD " + EscapeBytes(error.toUtf8()));
            return;
        }
    }
    applyFaultsNow();
    m_log->write("CMD " + EscapeBytes(command));
}

void SimulatedUnit::applyFaultsNow()
{
    m_port.setWireDelay(m_faults.wireDelay);
    m_port.setAdapterLatencyMs(m_faults.adapterLatencyMs);
    if (m_faults.closeAfter == 0) {
        m_faults.closeAfter = -1;
        m_port.closeNow();
    }
}

void SimulatedUnit::onReceived(const QByteArray &bytes)
{
    for (char byte : bytes) {
        if (m_cutPending || !m_port.isOpen())
            return;
        if (m_inTransfer) {
            onTransferByte(byte);
            continue;
        }
        switch (m_framer.push(byte)) {
        case LineFramer::Result::Line:
            onLine(m_framer.line());
            break;
        case LineFramer::Result::Dropped:
            m_log->write("DROPPED " + QByteArray::number(m_framer.droppedLength()));
            break;
        case LineFramer::Result::Nothing:
            break;
        }
    }
}

void SimulatedUnit::onLine(const QByteArray &line)
{
    m_log->write("GOT " + EscapeBytes(line + "\r\n"));
    if (m_faults.silent || m_faults.stopAfter == 0)
        return;
    if (m_faults.stopAfter > 0)
        --m_faults.stopAfter;
    bool cut = false;
    if (m_faults.closeAfter > 0 && --m_faults.closeAfter == 0) {
        m_faults.closeAfter = -1;
        cut = true;
    }

    if (m_faults.errorFirst > 0) {
        --m_faults.errorFirst;
        sendAnswer("Error\r\n");
    } else {
        const LineResponse response = m_responder.respond(line, m_faults);
        if (response.kind == LineResponse::Kind::StartTransfer)
            beginTransfer();
        else
            sendAnswer(response.text);
    }

    if (cut) {
        m_cutPending = true;
        m_port.closeAfterQueued();
    }
}

void SimulatedUnit::sendAnswer(const QByteArray &text)
{
    if (m_faults.silent)
        return;
    const int delay = m_faults.answerDelayMs;
    QByteArray noise;
    if (m_faults.cleanNoise)
        noise = m_noise.cleanBurst();
    else if (m_faults.noise)
        noise = m_noise.burst();
    if (!noise.isEmpty())
        m_port.send(noise, delay, "NOISE " + QByteArray::number(noise.size()));
    m_port.send(text, delay, "SENT " + EscapeBytes(text));
}

void SimulatedUnit::sendControl(char control, int delayMs)
{
    if (m_faults.silent || m_transferMuted)
        return;
    m_port.send(QByteArray(1, control), delayMs, control == Ack ? "ACK" : "NAK");
}

void SimulatedUnit::answerBlock(char control)
{
    sendControl(control, m_faults.answerDelayMs + m_faults.ackDelayMs);
}

void SimulatedUnit::beginTransfer()
{
    m_inTransfer = true;
    m_transferMuted = false;
    m_naksRepeated = 0;
    m_framer.clear();
    m_receiver.start(m_faults.nakBlock);
    m_log->write("XMODEM START");
    sendControl(Nak, m_faults.answerDelayMs);
    m_nakTimer.start();
    m_idleTimer.start();
}

void SimulatedUnit::repeatNak()
{
    if (!m_inTransfer || m_receiver.blocksStored() > 0 || m_receiver.inBlock() ||
        m_naksRepeated >= NakRepeats) {
        m_nakTimer.stop();
        return;
    }
    ++m_naksRepeated;
    sendControl(Nak, m_faults.answerDelayMs);
}

void SimulatedUnit::dropPartialBlock()
{
    if (m_inTransfer && m_receiver.abandonPartialBlock()) {
        m_log->write("BLOCK " + QByteArray::number(m_receiver.lastBlockNumber()) + " BAD");
        answerBlock(Nak);
    }
}

void SimulatedUnit::onTransferByte(char byte)
{
    m_idleTimer.start();
    const XmodemReceiver::Outcome outcome = m_receiver.push(byte);
    if (m_receiver.inBlock()) {
        m_nakTimer.stop();
        m_partialTimer.start();
    } else {
        m_partialTimer.stop();
    }

    const QByteArray block = "BLOCK " + QByteArray::number(m_receiver.lastBlockNumber());
    switch (outcome) {
    case XmodemReceiver::Outcome::Pending:
        break;
    case XmodemReceiver::Outcome::BlockStored:
        m_log->write(block + " OK");
        answerBlock(Ack);
        if (m_faults.stopAckAfter > 0 && m_receiver.blocksStored() >= m_faults.stopAckAfter)
            m_transferMuted = true;
        break;
    case XmodemReceiver::Outcome::BlockRepeat:
        m_log->write(block + " REPEAT");
        answerBlock(Ack);
        break;
    case XmodemReceiver::Outcome::BlockBad:
        m_log->write(block + " BAD");
        answerBlock(Nak);
        break;
    case XmodemReceiver::Outcome::BlockRefused:
        m_log->write(block + " REFUSED");
        answerBlock(Nak);
        break;
    case XmodemReceiver::Outcome::End:
        m_log->write("EOT");
        answerBlock(Ack);
        completeTransfer();
        break;
    case XmodemReceiver::Outcome::BackToLines:
        endTransfer("line");
        onLine(m_receiver.line());
        break;
    case XmodemReceiver::Outcome::TooLarge:
        endTransfer("too-large");
        break;
    case XmodemReceiver::Outcome::Cancelled:
        endTransfer("cancelled");
        break;
    }
}

void SimulatedUnit::endTransfer(const QByteArray &reason)
{
    if (!m_inTransfer)
        return;
    m_inTransfer = false;
    m_transferMuted = false;
    m_nakTimer.stop();
    m_idleTimer.stop();
    m_partialTimer.stop();
    m_framer.clear();
    m_log->write("XMODEM END " + reason);
}

void SimulatedUnit::completeTransfer()
{
    m_inTransfer = false;
    m_transferMuted = false;
    m_nakTimer.stop();
    m_idleTimer.stop();
    m_partialTimer.stop();
    m_framer.clear();
    saveImage(m_receiver.data());
}

void SimulatedUnit::saveImage(const QByteArray &image)
{
    // The files are written before IMAGE is reported, so a reader that waits for IMAGE finds
    // them complete.
    if (!m_options.imageOut.isEmpty()) {
        QString error;
        if (!WriteWholeFile(m_options.imageOut, image, &error))
            m_log->write("ERROR " + EscapeBytes(error.toUtf8()));
    }
    if (!m_options.unpackTo.isEmpty())
        unpackImage(image);
    m_log->write("IMAGE " + QByteArray::number(image.size()));
}

void SimulatedUnit::unpackImage(const QByteArray &image)
{
    QList<ImageEntry> entries;
    QString error;
    if (!UnpackImage(image, &entries, &error)) {
        m_log->write("UNPACK FAILED " + EscapeBytes(error.toUtf8()));
        return;
    }
    const QDir folder(m_options.unpackTo);
    if (!folder.mkpath(QStringLiteral("."))) {
        m_log->write("UNPACK FAILED " + EscapeBytes(QFile::encodeName(m_options.unpackTo)) +
                     ": cannot create the folder");
        return;
    }
    int written = 0;
    for (const ImageEntry &entry : entries) {
        if (!IsBareFileName(entry.name)) {
            m_log->write("UNPACK SKIPPED " + EscapeBytes(entry.name.toUtf8()));
            continue;
        }
        if (!WriteWholeFile(folder.filePath(entry.name), entry.data, &error)) {
            m_log->write("UNPACK FAILED " + EscapeBytes(error.toUtf8()));
            continue;
        }
        ++written;
    }
    m_log->write("UNPACKED " + QByteArray::number(written));
}

void SimulatedUnit::onClosed()
{
    m_cutPending = false;
    m_framer.clear();
    m_log->write("CLOSED");
    endTransfer("closed");
    if (m_faults.reopenAfterMs >= 0)
        m_reopenTimer.start(m_faults.reopenAfterMs);
}

void SimulatedUnit::reopen()
{
    if (m_port.isOpen())
        return;
    QString error;
    if (!m_port.open(&error)) {
        m_log->write("ERROR " + EscapeBytes(error.toUtf8()));
        return;
    }
    m_log->write("PTY " + QFile::encodeName(m_port.devicePath()));
}
