#pragma once

// The marker file "vok.txt" in the program folder: the word "vok" and CR LF, 5 bytes. A site that
// serves this file at /vok.txt passes the test fetch's check. An earlier file is replaced whole; the
// new one is written to a temporary file first, so a failed write leaves the earlier file as it was.
// Any failure (folder not writable, disk full) is silent.
void WriteOwnershipFile();
