// The window's colours.
#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace VeltroColours {
inline const QColor background(0x26, 0x29, 0x2C);
inline const QColor dimmed(0x7F, 0x7F, 0x7F);
inline const QColor counter(0x2E, 0x9A, 0xD7);
inline const QColor secondary(0x9C, 0xC5, 0xE5);
inline const QColor active(Qt::white);
inline const QColor error(0xFF, 0x00, 0x00);
inline const QColor meterPanel(39, 39, 39);
inline const QColor popup(236, 236, 236);
inline const QColor panelLight(0x34, 0x38, 0x3C);
}  // namespace VeltroColours

// Gives a widget's text a colour: labels draw with WindowText, fields and lists with Text.
inline void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::WindowText, colour);
    colours.setColor(QPalette::Text, colour);
    widget->setPalette(colours);
}
