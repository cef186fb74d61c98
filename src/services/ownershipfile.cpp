#include "services/ownershipfile.h"

#include "platform/programfolder.h"
#include "platform/textfile.h"

void WriteOwnershipFile() {
  // "vok" and a line end; a failed write keeps any earlier file and is not reported.
  TextFile::WriteLines(ProgramFolder::File(QStringLiteral("vok.txt")), {QStringLiteral("vok")});
}
