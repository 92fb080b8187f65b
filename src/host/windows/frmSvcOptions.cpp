#include "host/windows/frmSvcOptions.h"

#include "host/windows/HelpAbout.h"
#include "host/windows/StatusColor.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace host
{

namespace
{

const char* const kWhichButton = "nclButton";

} // namespace

frmSvcOptions::frmSvcOptions(const QString& serviceName, frmMainEntSrvc* mainForm,
                             qint16 currentInstance, QWidget* parent)
    : QDialog(parent), lblSvc(new QLabel(QStringLiteral("Status:"))), lblSvcStatus(new QLabel),
      Label8(new QLabel(QStringLiteral("Service:"))), lblSvcName(new QLabel),
      lblSvcNote(new QLabel), lblStatus(new QLabel),
      cmdSvcStart(new QPushButton(QStringLiteral("St&art"))),
      cmdSvcStop(new QPushButton(QStringLiteral("St&op"))),
      cmdSvcPause(new QPushButton(QStringLiteral("Pa&use"))),
      cmdSvcStatus(new QPushButton(QStringLiteral("S&tatus"))),
      cmdOK(new QPushButton(QStringLiteral("OK"))),
      cmdHelp(new QPushButton(QStringLiteral("&Help")))
{
    setWindowTitle(QStringLiteral("Service"));
    setObjectName(QStringLiteral("frmSvcOptions"));
    logic.Setup(serviceName, mainForm, currentInstance);

    lblSvcStatus->setMinimumWidth(160);
    lblSvcStatus->setFrameShape(QFrame::Panel);
    lblSvcStatus->setFrameShadow(QFrame::Sunken);
    lblSvcStatus->setAlignment(Qt::AlignCenter);
    lblSvcNote->setWordWrap(true);
    lblStatus->setFrameShape(QFrame::Panel);
    lblStatus->setFrameShadow(QFrame::Sunken);
    lblStatus->setMinimumHeight(22);

    auto* facts = new QGridLayout;
    facts->addWidget(lblSvc, 0, 0);
    facts->addWidget(lblSvcStatus, 0, 1);
    facts->addWidget(Label8, 1, 0);
    facts->addWidget(lblSvcName, 1, 1);

    auto* commands = new QHBoxLayout;
    for (QPushButton* button : {cmdSvcStart, cmdSvcStop, cmdSvcPause, cmdSvcStatus})
        commands->addWidget(button);
    auto* closing = new QHBoxLayout;
    closing->addStretch();
    closing->addWidget(cmdOK);
    closing->addWidget(cmdHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(facts);
    layout->addWidget(lblSvcNote);
    layout->addLayout(commands);
    layout->addLayout(closing);
    layout->addWidget(lblStatus);

    WatchFocus(cmdSvcStart, ServiceOptions::Button::Start);
    WatchFocus(cmdSvcStop, ServiceOptions::Button::Stop);
    WatchFocus(cmdSvcPause, ServiceOptions::Button::Pause);
    WatchFocus(cmdSvcStatus, ServiceOptions::Button::Status);
    WatchFocus(cmdOK, ServiceOptions::Button::OK);
    WatchFocus(cmdHelp, ServiceOptions::Button::Help);

    connect(&logic, &ServiceOptions::changed, this, &frmSvcOptions::Refresh);
    connect(cmdSvcStart, &QPushButton::clicked, &logic, &ServiceOptions::cmdSvcStart_Click);
    connect(cmdSvcStop, &QPushButton::clicked, &logic, &ServiceOptions::cmdSvcStop_Click);
    connect(cmdSvcPause, &QPushButton::clicked, &logic, &ServiceOptions::cmdSvcPause_Click);
    connect(cmdSvcStatus, &QPushButton::clicked, &logic, &ServiceOptions::cmdSvcStatus_Click);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdHelp, &QPushButton::clicked, this, [this] { ShowHelp(this); });

    logic.Form_Load();
}

void frmSvcOptions::WatchFocus(QPushButton* button, ServiceOptions::Button which)
{
    button->setProperty(kWhichButton, int(which));
    button->installEventFilter(this);
}

bool frmSvcOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        const QVariant which = watched->property(kWhichButton);
        if (which.isValid())
            logic.GotFocus(ServiceOptions::Button(which.toInt()));
    }
    return QDialog::eventFilter(watched, event);
}

void frmSvcOptions::Refresh()
{
    lblSvcName->setText(logic.lblSvcName);
    lblSvcNote->setText(logic.lblSvcNote);
    lblSvcStatus->setText(logic.lblSvcStatus);
    PaintLabel(*lblSvcStatus, logic.lblSvcStatusColor);
    lblStatus->setText(logic.lblStatus);
    cmdSvcPause->setText(logic.cmdSvcPauseCaption);
    cmdSvcPause->setVisible(logic.cmdSvcPauseVisible);
}

} // namespace host
