// The program's version and build date: shown in the main window's caption
// and in the about box.
#pragma once

inline constexpr const char* kVersionTivoran = "1.00";
inline constexpr const char* kFechaCompilacion = "20/05/2018";
