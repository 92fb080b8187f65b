#include "logging/PdfDocument.h"

#include <QFile>
#include <QSaveFile>

namespace logging
{

namespace
{

QByteArray Number(double value)
{
    return QByteArray::number(value, 'f', 2);
}

// A PDF literal string of single-byte text.
QByteArray Literal(const QString& text)
{
    QByteArray out = "(";
    for (char c : text.toLatin1()) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    out += ')';
    return out;
}

} // namespace

void PdfDocument::NewPage()
{
    m_pages.append(QByteArray());
}

void PdfDocument::Text(double x, double y, const QString& text, bool bold)
{
    if (m_pages.isEmpty())
        NewPage();
    // PDF measures from the bottom; the baseline sits 80% of the size below the top.
    const double baseline = kPageHeight - y - kFontSize * 0.8;
    m_pages.last() += "BT /" + QByteArray(bold ? "F2" : "F1") + " " + Number(kFontSize) +
                      " Tf 1 0 0 1 " + Number(x) + " " + Number(baseline) + " Tm " + Literal(text) +
                      " Tj ET\n";
}

QByteArray PdfDocument::Bytes() const
{
    QList<QByteArray> pages = m_pages;
    if (pages.isEmpty())
        pages.append(QByteArray());
    // Objects: 1 catalog, 2 page tree, 3 and 4 fonts, then a page and its
    // content stream for every page.
    QList<QByteArray> objects;
    QByteArray kids;
    for (int i = 0; i < pages.size(); ++i)
        kids += QByteArray::number(5 + 2 * i) + " 0 R ";
    objects.append("<< /Type /Catalog /Pages 2 0 R >>");
    objects.append("<< /Type /Pages /Kids [" + kids + "] /Count " +
                   QByteArray::number(pages.size()) + " >>");
    objects.append(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>");
    objects.append(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier-Bold /Encoding /WinAnsiEncoding >>");
    for (int i = 0; i < pages.size(); ++i) {
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(kPageWidth) + " " +
                       Number(kPageHeight) +
                       "] /Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> /Contents " +
                       QByteArray::number(6 + 2 * i) + " 0 R >>");
        objects.append("<< /Length " + QByteArray::number(pages[i].size()) + " >>\nstream\n" +
                       pages[i] + "endstream");
    }

    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

bool PdfDocument::Save(const QString& path, QString& error) const
{
    // Written whole or not at all: a reader never sees half a document.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(Bytes()) < 0 || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace logging
