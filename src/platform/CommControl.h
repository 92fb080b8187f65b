#pragma once
// The Comm control: one serial port with the properties, operations and
// events the relay switching is written against, over QSerialPort.
//
// COM port n is the device NCLMOD_COM<n> names, else /dev/ttyS<n-1>. An open
// port refuses to open again and to change its number. Received data raises
// OnComm with CommEvent comEvReceive once RThreshold bytes wait (0: never);
// emptying the output below SThreshold bytes raises comEvSend; line errors
// raise their comEvent... numbers. Failing operations return false and set
// the current error (rt::Err()).

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace platform
{

class CommControl : public QObject
{
    Q_OBJECT
public:
    // CommEvent values.
    enum : qint16 {
        comEvSend = 1,
        comEvReceive = 2,
        comEventBreak = 1001,
        comEventFrame = 1004,
        comEventOverrun = 1006,
        comEventRxOver = 1008,
        comEventRxParity = 1009,
        comEventTxFull = 1010,
        comEventDCB = 1011
    };
    enum : qint16 { comNone = 0, comXOnXoff = 1, comRTS = 2, comRTSXOnXOff = 3 };
    enum : qint16 { comInputModeText = 0, comInputModeBinary = 1 };
    // Error numbers of the failing operations.
    enum : qint32 {
        comInvalidPropertyValue = 380,
        comPortOpen = 8000, // the operation is not valid while the port is open
        comPortInvalid = 8002,
        comPortAlreadyOpen = 8005,
        comPortNotOpen = 8018
    };

    explicit CommControl(QObject* parent = nullptr);
    ~CommControl() override;

    // The device of COM port n.
    static QString DeviceName(qint16 port);

    qint16 CommPort() const { return m_commPort; }
    bool setCommPort(qint16 port);
    // "baud,parity,data bits,stop bits", e.g. "9600,N,8,1"; applies at once to an open port.
    QString Settings() const { return m_settings; }
    bool setSettings(const QString& settings);
    bool PortOpen() const { return m_port.isOpen(); }
    bool setPortOpen(bool open);

    // Sends bytes (text is sent as single-byte characters).
    bool setOutput(const QByteArray& bytes);
    // Takes up to InputLen received bytes (InputLen 0: all of them).
    QByteArray Input();
    qint32 InBufferCount() const;

    qint16 InputLen() const { return m_inputLen; }
    void setInputLen(qint16 length) { m_inputLen = length; }
    qint16 InputMode() const { return m_inputMode; }
    void setInputMode(qint16 mode) { m_inputMode = mode; }
    qint16 RThreshold() const { return m_rThreshold; }
    void setRThreshold(qint16 threshold) { m_rThreshold = threshold; }
    qint16 SThreshold() const { return m_sThreshold; }
    void setSThreshold(qint16 threshold) { m_sThreshold = threshold; }
    qint16 Handshaking() const { return m_handshaking; }
    bool setHandshaking(qint16 handshaking);
    bool DTREnable() const { return m_dtrEnable; }
    void setDTREnable(bool enable);
    bool RTSEnable() const { return m_rtsEnable; }
    void setRTSEnable(bool enable);

    // What the last OnComm was about.
    qint16 CommEvent() const { return m_commEvent; }

Q_SIGNALS:
    void OnComm();

private:
    bool ApplySettings();
    void ApplyLines();
    void OnReadyRead();
    void OnBytesWritten();
    void OnError(QSerialPort::SerialPortError error);
    void Raise(qint16 event);
    bool Fail(qint32 number, const QString& description);

    QSerialPort m_port;
    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    qint16 m_inputLen = 0;
    qint16 m_inputMode = comInputModeText;
    qint16 m_rThreshold = 0;
    qint16 m_sThreshold = 0;
    qint16 m_handshaking = comNone;
    bool m_dtrEnable = false;
    bool m_rtsEnable = false;
    qint16 m_commEvent = 0;
};

// A settings string taken apart; false when it is not valid.
struct CommSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
bool ParseCommSettings(const QString& text, CommSettings& settings);

} // namespace platform
