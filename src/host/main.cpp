// NCLmod: the agent's executable.
#include "host/ProgramEntry.h"
#include "host/ProgramInfo.h"
#include "host/ServiceControl.h"
#include "host/UnixSignals.h"
#include "host/frmMainEntSrvc.h"
#include "host/windows/MainWindowView.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <memory>

#include <sys/stat.h>

int main(int argc, char** argv)
{
    // --help, --version and unknown options are answered before anything
    // starts: no data folder, no store, no socket, no clock.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    if (const int answered = host::AnswerInformationOptions(words, QString::fromLocal8Bit(argv[0]));
        answered >= 0)
        return answered;

    // Whatever the agent creates (logs, store, folders) is its user's alone
    // unless it says otherwise.
    ::umask(077);
    // Windows only where there is a display; otherwise the same logic runs headless.
    const bool windows = host::WindowsWanted();
    // Headless, Qt's own poll() loop does less per wake-up than the GLib one,
    // and a busy time server wakes up once per request. Only this process
    // is meant: the programs it starts get the environment as it was.
    const bool glibChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!windows && !glibChosen)
        qputenv("QT_NO_GLIB", "1");
    std::unique_ptr<QCoreApplication> application =
        windows ? std::make_unique<QApplication>(argc, argv)
                : std::make_unique<QCoreApplication>(argc, argv);
    if (!windows && !glibChosen)
        qunsetenv("QT_NO_GLIB");
    QCoreApplication& app = *application;
    const host::MainResult result =
        host::Main(app.arguments().mid(1), QString::fromLocal8Bit(argv[0]));
    if (result == host::MainResult::Ended)
        return 0;
    if (result == host::MainResult::Refused)
        return 1;

    host::ServiceControl serviceControl;
    host::frmMainEntSrvc form(&serviceControl);
    host::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &host::UnixSignals::terminationRequested, &form, [&] {
        if (form.StartedAsService)
            serviceControl.RaiseStop();
        else
            form.Form_Unload();
    });

    std::unique_ptr<host::MainWindowView> view;
    if (windows && result == host::MainResult::ShowWindow)
        view = std::make_unique<host::MainWindowView>(form);
    form.Form_Load();
    if (result == host::MainResult::RunOnceMode) {
        host::OnceMode(form);
        return 0;
    }
    // A service has no desktop: its window is loaded but never activated.
    if (view)
        QTimer::singleShot(0, view.get(), &host::MainWindowView::Activate);
    else if (!serviceControl.UnderServiceManager())
        QTimer::singleShot(0, &form, &host::frmMainEntSrvc::Form_Activate);
    return app.exec();
}
