#pragma once

// Where the program's own companion files (the CLIP helper, the analysis module) are found:
// beside the program, then in the installed libexec folder relative to it, then the build
// folder's copy for the programs of that build.

#include <QString>

QString findCompanionFile(const QString &name, const QString &buildCopy, bool executable);
