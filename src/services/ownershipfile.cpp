#include "services/ownershipfile.h"

#include "platform/programfolder.h"

#include <QSaveFile>

void WriteOwnershipFile() {
  static const QByteArray marker = "vok\r\n";
  QSaveFile file(ProgramFolder::File(QStringLiteral("vok.txt")));
  if (!file.open(QIODevice::WriteOnly))
    return;
  // Flushed and checked before the commit: an error that only shows while the buffer is written
  // out at commit time would otherwise not stop the rename over the earlier file.
  if (file.write(marker) != marker.size() || !file.flush()) {
    file.cancelWriting();
    return;
  }
  file.commit();
}
