#pragma once

#include <QStringList>

// Temporary files that a killed program left behind.
//
// The program rewrites whole files through QSaveFile, and the settings store rewrites its file the
// same way: the new content goes to a temporary file beside the target, renamed over it once
// complete. Qt names that file after its target, a dot and six letters ("urls.dat.hWxKqz"); a kill
// between its creation and the rename leaves it in the folder.
namespace Leftovers {

// Removes, in the program folder, the temporary siblings of "urls.dat", "sublog.log", "tmp.tmp"
// and "vok.txt", and in the settings file's folder those of the settings file: regular files
// (not folders, not links) named after one of these files, a dot and six letters A-Z or a-z.
// Nothing else is touched, in these folders or below them. Failures are silent. Returns the paths
// removed.
QStringList Remove();

} // namespace Leftovers
