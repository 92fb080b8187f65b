#pragma once
// The print job of the printed sync report: a position on the page in
// points, lines of monospaced text, page breaks and the end of the job.
//
// The job is kept as a PDF document. At its end it goes to the file that
// NCLMOD_PRINTER=pdf:<path> names, or else to the default printer through
// the print spooler ("lp"); either way no window system is needed.

#include "logging/PdfDocument.h"

#include <QString>

namespace logging
{

class ReportPrinter
{
public:
    static constexpr double kMargin = 36.0;
    static constexpr double kLineHeight = 12.0;

    // The one print job of the process.
    static ReportPrinter& Job();

    // The printable area, in points.
    double ScaleHeight() const;
    double ScaleWidth() const;
    double CurrentY = 0; // from the top of the printable area
    int Page() const { return m_page; }
    bool Started() const { return m_started; }

    // A line at the left edge; the position moves down one line.
    void PrintLine(const QString& text, bool bold = false);
    // Text at a horizontal position on the current line; the position stays.
    void PrintAt(double x, const QString& text);
    void NewPage();
    // Ends the job and hands it to its destination. False when that failed.
    bool EndDoc();

    // Where the job goes: "pdf:<path>" or "" for the default printer.
    static QString Destination();

private:
    void Begin();

    PdfDocument m_document;
    bool m_started = false;
    int m_page = 0;
};

} // namespace logging
