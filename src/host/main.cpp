// NCLmod: the agent's executable.
#include "host/ProgramEntry.h"
#include "host/ServiceControl.h"
#include "host/UnixSignals.h"
#include "host/frmMainEntSrvc.h"

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const host::MainResult result = host::Main(app.arguments().mid(1), QString::fromLocal8Bit(argv[0]));
    if (result == host::MainResult::Ended)
        return 0;

    host::ServiceControl serviceControl;
    host::frmMainEntSrvc form(&serviceControl);
    host::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &host::UnixSignals::terminationRequested, &form, [&] {
        if (form.StartedAsService)
            serviceControl.RaiseStop();
        else
            form.Form_Unload();
    });

    form.Form_Load();
    if (result == host::MainResult::RunOnceMode) {
        host::OnceMode(form);
        return 0;
    }
    // A service has no desktop: its window is loaded but never activated.
    if (!serviceControl.UnderServiceManager())
        QTimer::singleShot(0, &form, &host::frmMainEntSrvc::Form_Activate);
    return app.exec();
}
