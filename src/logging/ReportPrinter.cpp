#include "logging/ReportPrinter.h"

#include "logging/DebugLog.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace logging
{

namespace
{

const QString kPdfPrefix = QStringLiteral("pdf:");

// The default printer is the print spooler's; the document goes to it as PDF.
bool SendToDefaultPrinter(const PdfDocument& document)
{
    const QString lp = QStandardPaths::findExecutable(QStringLiteral("lp"));
    if (lp.isEmpty()) {
        NCL_TRACE(QStringLiteral("No default printer (no print spooler): report not printed"));
        return false;
    }
    QTemporaryFile spool(QDir::tempPath() + QStringLiteral("/nclmod-report-XXXXXX.pdf"));
    spool.setAutoRemove(false);
    QString error;
    if (!spool.open() || !document.Save(spool.fileName(), error)) {
        NCL_TRACE(QStringLiteral("Printed report not spooled: ") + error);
        return false;
    }
    // lp copies the file into its queue before it ends, so the spool file can go.
    const int code = QProcess::execute(lp, {QStringLiteral("-s"), spool.fileName()});
    QFile::remove(spool.fileName());
    if (code != 0) {
        NCL_TRACE(QStringLiteral("Printed report refused by the print spooler, code ") +
                  QString::number(code));
        return false;
    }
    return true;
}

} // namespace

ReportPrinter& ReportPrinter::Job()
{
    static ReportPrinter job;
    return job;
}

QString ReportPrinter::Destination()
{
    const QString setting = qEnvironmentVariable("NCLMOD_PRINTER");
    return setting.startsWith(kPdfPrefix) ? setting : QString();
}

double ReportPrinter::ScaleHeight() const
{
    return PdfDocument::kPageHeight - 2 * kMargin;
}

double ReportPrinter::ScaleWidth() const
{
    return PdfDocument::kPageWidth - 2 * kMargin;
}

void ReportPrinter::Begin()
{
    if (m_started)
        return;
    m_started = true;
    m_document = PdfDocument();
    m_document.NewPage();
    m_page = 1;
    CurrentY = 0;
}

void ReportPrinter::PrintLine(const QString& text, bool bold)
{
    Begin();
    if (!text.isEmpty())
        m_document.Text(kMargin, kMargin + CurrentY, text, bold);
    CurrentY += kLineHeight;
}

void ReportPrinter::PrintAt(double x, const QString& text)
{
    Begin();
    m_document.Text(kMargin + x, kMargin + CurrentY, text, false);
}

void ReportPrinter::NewPage()
{
    Begin();
    m_document.NewPage();
    ++m_page;
    CurrentY = 0;
}

bool ReportPrinter::EndDoc()
{
    if (!m_started)
        return false;
    m_started = false;
    const QString destination = Destination();
    if (destination.isEmpty())
        return SendToDefaultPrinter(m_document);
    QString error;
    if (!m_document.Save(destination.mid(kPdfPrefix.size()), error)) {
        NCL_TRACE(QStringLiteral("Printed report not written: ") + error);
        return false;
    }
    return true;
}

} // namespace logging
