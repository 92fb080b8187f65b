#include "host/windows/WidgetDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace host
{

namespace
{

// Boxes without a title of their own carry the application's name.
QString TitleOrAppName(const QString& title)
{
    return title.isEmpty() ? QApplication::applicationName() : title;
}

// Message texts use CR LF line breaks; Qt wants plain line feeds.
QString PlainLines(const QString& text)
{
    return QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

bool WidgetDialogs::InputBox(const QString& title, const QString& prompt,
                             const QString& defaultText, QString& answer)
{
    bool ok = false;
    answer = QInputDialog::getText(m_parent, TitleOrAppName(title), prompt, QLineEdit::Normal,
                                   defaultText, &ok);
    if (!ok)
        answer.clear();
    return ok;
}

void WidgetDialogs::MessageBox(const QString& text, const QString& title, Icon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    if (icon == Icon::Information)
        boxIcon = QMessageBox::Information;
    else if (icon == Icon::Warning)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, TitleOrAppName(title), PlainLines(text), QMessageBox::Ok, m_parent);
    box.exec();
}

bool WidgetDialogs::AskYesNo(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Warning, TitleOrAppName(title), PlainLines(text),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

} // namespace host
