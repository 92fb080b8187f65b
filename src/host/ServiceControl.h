#pragma once
// The service control on the main window: the controls-accepted value, the
// start-service operation, and the Start/Stop/Pause/Continue/Control events,
// raised on the event loop.
//
// A process counts as started by the service manager when NCLMOD_SERVICE_NAME
// is set; only then does the start-service operation open the service's
// control socket (platform::ServiceHost) and raise Start. Controls arriving on
// the socket become Stop, Pause, Continue and Control; SIGTERM is a Stop too.
// After each event the resulting state is reported back to the manager.

#include <QObject>
#include <QString>

namespace platform
{
class ServiceHost;
}

namespace host
{

class ServiceControl : public QObject
{
    Q_OBJECT
public:
    explicit ServiceControl(QObject* parent = nullptr);
    ~ServiceControl() override;

    int ControlsAccepted = 0;
    bool Interactive = false; // the control's second boolean property; unused here
    QString ServiceName() const { return m_serviceName; }
    bool UnderServiceManager() const { return !m_serviceName.isEmpty(); }

    // Opens the control socket and raises Start on the event loop when the
    // process runs as a service. False when the service cannot take up its
    // place (another service runs from this data folder); the process then
    // ends with exit code 1 once the event loop runs.
    bool StartService();
    // Raised by the platform when the service is told to stop (SIGTERM).
    void RaiseStop();

    // The control socket's host, null until StartService opened it.
    platform::ServiceHost* Host() const { return m_host; }

Q_SIGNALS:
    void Start(bool* success);
    void Stop();
    void Pause(bool* success);
    void Continue(bool* success);
    void Control(int code);

private:
    void RaiseStart();
    void RaisePause();
    void RaiseContinue();

    QString m_serviceName;
    platform::ServiceHost* m_host = nullptr;
    bool m_stopRaised = false;
};

} // namespace host
