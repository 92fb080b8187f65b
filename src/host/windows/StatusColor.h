#pragma once
// The agent's colours are 0x00BBGGRR values; labels are painted with them.

#include <QColor>
#include <QLabel>

namespace host
{

inline QColor ColorFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

inline void PaintLabel(QLabel& label, quint32 bgr)
{
    label.setAutoFillBackground(true);
    QPalette palette = label.palette();
    palette.setColor(QPalette::Window, ColorFromBgr(bgr));
    palette.setColor(QPalette::WindowText, Qt::black);
    label.setPalette(palette);
}

} // namespace host
