#pragma once
// The service options window: start, stop, pause (or continue) and query the
// installed service, with the status on its colour and a hint line that
// follows the focused button.

#include "host/ServiceOptions.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace host
{

class frmSvcOptions : public QDialog
{
    Q_OBJECT
public:
    frmSvcOptions(const QString& serviceName, frmMainEntSrvc* mainForm, qint16 currentInstance,
                  QWidget* parent = nullptr);

    ServiceOptions logic;

    QLabel* lblSvc;
    QLabel* lblSvcStatus;
    QLabel* Label8;
    QLabel* lblSvcName;
    QLabel* lblSvcNote;
    QLabel* lblStatus;
    QPushButton* cmdSvcStart;
    QPushButton* cmdSvcStop;
    QPushButton* cmdSvcPause;
    QPushButton* cmdSvcStatus;
    QPushButton* cmdOK;
    QPushButton* cmdHelp;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();
    void WatchFocus(QPushButton* button, ServiceOptions::Button which);
};

} // namespace host
