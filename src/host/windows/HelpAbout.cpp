#include "host/windows/HelpAbout.h"

#include "host/MainMenuCommands.h"
#include "logging/DebugLog.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace host
{

namespace
{

// The README, built into the program (see CMakeLists.txt).
const QString kReadme = QStringLiteral(":/help/README.md");
const QString kDeveloperNotes = QStringLiteral("<!-- Developer notes follow.");

QPointer<QDialog>& HelpWindow()
{
    static QPointer<QDialog> window;
    return window;
}

void ShowHelpWindow(QWidget* parent)
{
    QPointer<QDialog>& window = HelpWindow();
    if (!window) {
        QFile file(kReadme);
        const QString readme =
            file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        window = new QDialog(parent);
        window->setObjectName(QStringLiteral("frmHelp"));
        window->setWindowTitle(QStringLiteral("Nightcall Module Help"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto* text = new QTextBrowser;
        text->setObjectName(QStringLiteral("txtHelp"));
        text->setOpenExternalLinks(true);
        text->setMarkdown(UserHelpText(readme));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::close);
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(text);
        layout->addWidget(buttons);
        window->resize(720, 560);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

QString UserHelpText(const QString& readme)
{
    const qsizetype notes = readme.indexOf(kDeveloperNotes);
    return notes < 0 ? readme : readme.left(notes);
}

bool ShowHelp(QWidget* parent)
{
    const QString page = MainMenuCommands::HelpPage();
    if (!page.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
        NCL_TRACE(QStringLiteral("Help: opened ") + page);
        return true;
    }
    NCL_TRACE(QStringLiteral("Help: shown in the program's own window"));
    ShowHelpWindow(parent);
    return false;
}

void ShowAbout(QWidget* parent)
{
    QString text = MainMenuCommands::AboutText();
    QMessageBox::about(parent, QStringLiteral("About Nightcall Module"),
                       text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

} // namespace host
