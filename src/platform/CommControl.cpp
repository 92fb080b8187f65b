#include "platform/CommControl.h"

#include "runtime/CurrentError.h"

#include <QStringList>

namespace platform
{

namespace
{

constexpr int kDrainTimeoutMs = 500;

bool ParseParity(const QString& text, QSerialPort::Parity& parity)
{
    const QString p = text.trimmed().toUpper();
    if (p == QLatin1String("N"))
        parity = QSerialPort::NoParity;
    else if (p == QLatin1String("E"))
        parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("O"))
        parity = QSerialPort::OddParity;
    else if (p == QLatin1String("M"))
        parity = QSerialPort::MarkParity;
    else if (p == QLatin1String("S"))
        parity = QSerialPort::SpaceParity;
    else
        return false;
    return true;
}

bool ParseStopBits(const QString& text, QSerialPort::StopBits& stopBits)
{
    const QString s = text.trimmed();
    if (s == QLatin1String("1"))
        stopBits = QSerialPort::OneStop;
    else if (s == QLatin1String("1.5"))
        stopBits = QSerialPort::OneAndHalfStop;
    else if (s == QLatin1String("2"))
        stopBits = QSerialPort::TwoStop;
    else
        return false;
    return true;
}

} // namespace

bool ParseCommSettings(const QString& text, CommSettings& settings)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;
    const int dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || dataBits < 5 || dataBits > 8)
        return false;
    CommSettings parsed;
    parsed.baud = baud;
    parsed.dataBits = QSerialPort::DataBits(dataBits);
    if (!ParseParity(parts[1], parsed.parity) || !ParseStopBits(parts[3], parsed.stopBits))
        return false;
    settings = parsed;
    return true;
}

CommControl::CommControl(QObject* parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &CommControl::OnReadyRead);
    connect(&m_port, &QSerialPort::bytesWritten, this, &CommControl::OnBytesWritten);
    connect(&m_port, &QSerialPort::errorOccurred, this, &CommControl::OnError);
}

CommControl::~CommControl()
{
    setPortOpen(false);
}

QString CommControl::DeviceName(qint16 port)
{
    const QString named = qEnvironmentVariable("NCLMOD_COM" + QByteArray::number(port));
    return named.isEmpty() ? QStringLiteral("/dev/ttyS") + QString::number(port - 1) : named;
}

bool CommControl::Fail(qint32 number, const QString& description)
{
    rt::RaiseError(number, description);
    return false;
}

bool CommControl::setCommPort(qint16 port)
{
    if (m_port.isOpen())
        return Fail(comPortOpen, QStringLiteral("Operation not valid while the port is opened"));
    if (port < 1)
        return Fail(comPortInvalid, QStringLiteral("Invalid port number"));
    m_commPort = port;
    return true;
}

bool CommControl::setSettings(const QString& settings)
{
    CommSettings parsed;
    if (!ParseCommSettings(settings, parsed))
        return Fail(comInvalidPropertyValue, QStringLiteral("Invalid property value"));
    m_settings = settings;
    return !m_port.isOpen() || ApplySettings();
}

bool CommControl::ApplySettings()
{
    CommSettings parsed;
    ParseCommSettings(m_settings, parsed);
    if (!m_port.setBaudRate(parsed.baud) || !m_port.setParity(parsed.parity) ||
        !m_port.setDataBits(parsed.dataBits) || !m_port.setStopBits(parsed.stopBits))
        return Fail(comInvalidPropertyValue, m_port.errorString());
    return true;
}

bool CommControl::setHandshaking(qint16 handshaking)
{
    if (handshaking < comNone || handshaking > comRTSXOnXOff)
        return Fail(comInvalidPropertyValue, QStringLiteral("Invalid property value"));
    m_handshaking = handshaking;
    if (m_port.isOpen())
        ApplyLines();
    return true;
}

void CommControl::setDTREnable(bool enable)
{
    m_dtrEnable = enable;
    if (m_port.isOpen())
        ApplyLines();
}

void CommControl::setRTSEnable(bool enable)
{
    m_rtsEnable = enable;
    if (m_port.isOpen())
        ApplyLines();
}

// Flow control and the modem lines. A device without modem lines (a pty) does
// not take them; that is no reason to refuse the port.
void CommControl::ApplyLines()
{
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    if (m_handshaking == comXOnXoff)
        flow = QSerialPort::SoftwareControl;
    else if (m_handshaking == comRTS || m_handshaking == comRTSXOnXOff)
        flow = QSerialPort::HardwareControl;
    m_port.setFlowControl(flow);
    m_port.setDataTerminalReady(m_dtrEnable);
    if (flow != QSerialPort::HardwareControl)
        m_port.setRequestToSend(m_rtsEnable);
    m_port.clearError();
}

bool CommControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_port.isOpen()) {
            // What was written reaches the device before the port goes.
            if (m_port.bytesToWrite() > 0)
                m_port.waitForBytesWritten(kDrainTimeoutMs);
            m_port.close();
        }
        return true;
    }
    if (m_port.isOpen())
        return Fail(comPortAlreadyOpen, QStringLiteral("Port already open"));
    m_port.setPortName(DeviceName(m_commPort));
    if (!m_port.open(QIODevice::ReadWrite))
        return Fail(comPortInvalid, m_port.errorString());
    if (!ApplySettings()) {
        m_port.close();
        return false;
    }
    ApplyLines();
    return true;
}

bool CommControl::setOutput(const QByteArray& bytes)
{
    if (!m_port.isOpen())
        return Fail(comPortNotOpen, QStringLiteral("Operation valid only when the port is open"));
    if (m_port.write(bytes) != bytes.size())
        return Fail(comEventTxFull, m_port.errorString());
    m_port.flush();
    return true;
}

QByteArray CommControl::Input()
{
    if (!m_port.isOpen())
        return {};
    return m_inputLen > 0 ? m_port.read(m_inputLen) : m_port.readAll();
}

qint32 CommControl::InBufferCount() const
{
    return m_port.isOpen() ? qint32(m_port.bytesAvailable()) : 0;
}

void CommControl::Raise(qint16 event)
{
    m_commEvent = event;
    Q_EMIT OnComm();
}

void CommControl::OnReadyRead()
{
    // One event for each RThreshold bytes, while the handler takes them.
    while (m_rThreshold > 0 && m_port.isOpen() && m_port.bytesAvailable() >= m_rThreshold) {
        const qint64 before = m_port.bytesAvailable();
        Raise(comEvReceive);
        if (!m_port.isOpen() || m_port.bytesAvailable() >= before)
            break;
    }
}

void CommControl::OnBytesWritten()
{
    if (m_sThreshold > 0 && m_port.isOpen() && m_port.bytesToWrite() < m_sThreshold)
        Raise(comEvSend);
}

void CommControl::OnError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
        Raise(comEventOverrun);
        break;
    case QSerialPort::WriteError:
        Raise(comEventTxFull);
        break;
    case QSerialPort::ResourceError:
        // The device went away: what was on its way in is lost, and the port
        // is closed so it does not keep failing.
        if (m_port.isOpen())
            m_port.close();
        Raise(comEventOverrun);
        break;
    default:
        break;
    }
}

} // namespace platform
