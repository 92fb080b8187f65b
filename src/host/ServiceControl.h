#pragma once
// The service control on the main window: the controls-accepted value, the
// start-service operation, and the Start/Stop/Pause/Continue/Control events,
// raised on the event loop.
//
// A process counts as started by the service manager when NCLMOD_SERVICE_NAME
// is set; only then does the start-service operation raise the Start event.
// The control socket through which a running service receives Stop, Pause,
// Continue and control codes from the service manager comes with the service
// manager itself; until then SIGTERM is the only Stop a service receives.

#include <QObject>

namespace host {

class ServiceControl : public QObject {
    Q_OBJECT
public:
    explicit ServiceControl(QObject* parent = nullptr);

    int ControlsAccepted = 0;
    bool Interactive = false; // the control's second boolean property; unused here
    QString ServiceName() const { return m_serviceName; }
    bool UnderServiceManager() const { return !m_serviceName.isEmpty(); }

    // Raises Start on the event loop when the process runs as a service.
    void StartService();
    // Raised by the platform when the service is told to stop (SIGTERM).
    void RaiseStop();

Q_SIGNALS:
    void Start(bool* success);
    void Stop();
    void Pause(bool* success);
    void Continue(bool* success);
    void Control(int code);

private:
    QString m_serviceName;
};

} // namespace host
