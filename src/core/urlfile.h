#pragma once

#include <QString>
#include <QStringList>

// The URL list file "urls.dat" in the program folder: one entry per line. Every failure is silent:
// the caller gets an empty list or a false result and goes on.
namespace UrlFile {

// Every line of the file, in order; an empty line is an empty entry. Empty when the file is missing
// or unreadable.
QStringList Load();

// Adds one entry at the end of the file (created when missing).
bool Append(const QString& entry);

// Replaces the file with the whole list.
bool Rewrite(const QStringList& entries);

} // namespace UrlFile
