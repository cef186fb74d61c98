#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Reading and writing numbers the way the program shows them, independent of the user's locale:
// the decimal separator is always ".".
namespace Numbers {

// Whether c is one of the ASCII digits 0 to 9 (no other script's digits).
bool IsDigit(QChar c);
// Whether the text is not empty and holds ASCII digits only.
bool IsDigits(QStringView text);

// Leading-number reading: skips leading blanks, takes the longest leading decimal number
// (optional sign, digits, optional "." and digits) and ignores the rest. A text that does not
// begin with a number reads as 0. Never fails.
double Value(QStringView text);

// Strict reading: the whole text (blanks around it allowed) must be a number; otherwise nothing.
std::optional<double> Strict(QStringView text);

// Rounds halves to the even neighbour and checks the range of a 16-bit or 32-bit integer;
// nothing when the rounded value does not fit (or is not a number).
std::optional<qint16> ToInt16(double value);
std::optional<qint32> ToInt32(double value);

// The "0.000" form: at least one digit before the point, exactly three after.
QString Fixed3(double value);

// The plain form: shortest decimal text, at most 15 significant digits, no exponent for ordinary
// magnitudes, no trailing zeros or point, a 0 before the point below 1 ("0.25", "1", "12.031").
QString Plain(double value);

// The plain form of a single-precision number: at most 7 significant digits.
QString PlainSingle(float value);

} // namespace Numbers
