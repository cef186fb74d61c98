#pragma once

#include <QString>

// The reversible text encoding of the stored account identifier and packed options: each
// character's code is combined by exclusive-or with the key's characters (the key repeated
// cyclically) and written as two upper-case hexadecimal digits.
//
// Character codes are Latin-1 (0-255). A character above 255 in the plain text or the key cannot
// be represented in one byte and is taken as "?" (63). With an empty key the codes are written
// unchanged.
namespace ValueCodec {

// When the key is longer than the plain text, the plain text is first extended to the key's
// length with "." and the start of the application title; decoding keeps that extension.
QString EncodeValue(const QString& plain, const QString& key);

// Gives "" for malformed input: an odd number of characters or a pair that is not hexadecimal
// (either case of letters is accepted).
QString DecodeValue(const QString& encoded, const QString& key);

} // namespace ValueCodec
