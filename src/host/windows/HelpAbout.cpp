#include "host/windows/HelpAbout.h"

#include "host/MainMenuCommands.h"
#include "logging/DebugLog.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace host
{

bool ShowHelp(QWidget* parent)
{
    const QString page = MainMenuCommands::HelpPage();
    if (page.isEmpty()) {
        NCL_TRACE(QStringLiteral("Help: no help page installed"));
        QMessageBox::information(parent, QStringLiteral("Help"),
                                 QStringLiteral("No help page is installed with this program."));
        return false;
    }
    NCL_TRACE(QStringLiteral("Help: opening ") + page);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

void ShowAbout(QWidget* parent)
{
    QString text = MainMenuCommands::AboutText();
    QMessageBox::about(parent, QStringLiteral("About Nightcall Module"),
                       text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

} // namespace host
