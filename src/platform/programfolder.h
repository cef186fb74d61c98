#pragma once

#include <QString>

// The program folder: where every file of the program lives. TARVIK_HOME when set; otherwise the
// executable's folder when it is writable; otherwise the per-user data folder (created on demand).
namespace ProgramFolder {

// The folder, without a trailing separator. Worked out anew at every call (cheap), so a test can
// point TARVIK_HOME elsewhere.
QString Path();

// The folder joined with a fixed file name ("urls.dat", "tarvik.log", ...).
QString File(const QString& name);

} // namespace ProgramFolder
