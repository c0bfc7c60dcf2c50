// The program's own identity: title, version and the About page's second line.
#pragma once

#include <QString>

inline const QString kApplicationTitle = QStringLiteral("Veltro 5.5");
// Set by the build from the project version (5.5.0.N).
inline const QString kFileVersion = QStringLiteral(VELTRO_FILE_VERSION);
inline const QString kVersionComments = QStringLiteral("Live broadcasting station for Linux");

// a.b.c.d -> the digits at positions 1, 3, 5 and 7 as one number (5.5.0.3 -> 5503).
int ApplicationVersionNumber(const QString& fileVersion);
