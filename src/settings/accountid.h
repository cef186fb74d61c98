#pragma once

#include <QString>

// The account identifier: four groups of three characters from 0-9 and A-Z, each group followed
// by a dot (16 characters, ending with a dot).
namespace AccountId {

// A new identifier drawn from the system's secure random source, so that users who start the
// program for the first time in the same second still get different identifiers.
QString MakeAccountId();

// True when the text has exactly the identifier's form.
bool IsValid(const QString& text);

} // namespace AccountId
