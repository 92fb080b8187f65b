#pragma once
// A small PDF writer for the printed sync report: A4 pages of monospaced
// text (the standard Courier fonts, nothing embedded), so that columns laid
// out by character line up on paper. Needs no window system.

#include <QByteArray>
#include <QList>
#include <QString>

namespace logging
{

class PdfDocument
{
public:
    static constexpr double kPageWidth = 595.0; // A4, points
    static constexpr double kPageHeight = 842.0;
    static constexpr double kFontSize = 10.0;
    static constexpr double kCharWidth = 6.0; // Courier at 10 points

    // Starts a new page; text goes to the last page (a first page is made when needed).
    void NewPage();
    // x and y in points from the top-left corner of the page; y is the top of the text.
    void Text(double x, double y, const QString& text, bool bold);
    int PageCount() const { return int(m_pages.size()); }
    QByteArray Bytes() const;
    bool Save(const QString& path, QString& error) const;

private:
    QList<QByteArray> m_pages; // content streams
};

} // namespace logging
