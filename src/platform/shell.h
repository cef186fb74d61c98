#pragma once

#include <QString>

// Opens a file or a web address with the user's default handler ("open" action). The result is not
// checked by any caller. Tests install a recording implementation.
class Shell {
public:
  virtual ~Shell() = default;
  virtual void Open(const QString& fileOrUrl) = 0;

  static Shell& Instance();
  static void SetInstance(Shell* shell);
};
