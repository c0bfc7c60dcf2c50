// The program's own identity: title, version and the About page's second line.
#pragma once

#include <QString>

#include "update/version_stamp.h"

inline const QString kApplicationTitle = QStringLiteral("Veltro 5.5");
// The version text of the program file (5.5.0.N; a package may stamp another one into it).
inline const QString kFileVersion = QString::fromLatin1(ProgramFileVersion());
inline const QString kVersionComments = QStringLiteral("Live broadcasting station for Linux");

// a.b.c.d -> the digits at positions 1, 3, 5 and 7 as one number (5.5.0.3 -> 5503).
int ApplicationVersionNumber(const QString& fileVersion);
