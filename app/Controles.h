// Controles: the boundary between the widgets and the calculator's texts.
// Widgets hold QString; the calculator's functions (Funcion.h) and its
// messages hold Windows-1252 bytes. These are the only conversions.
#pragma once

#include <QString>
#include <string>
#include <string_view>

class QWidget;

std::string ToAnsi(const QString& text);
QString FromAnsi(std::string_view ansi);

// Asks the window of the control to move the focus to the next control in
// tab order, as a posted request handled after the current event.
void SiguienteControl(QWidget* control);
