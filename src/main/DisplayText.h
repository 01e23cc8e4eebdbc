#pragma once
// Texts of the main window's figure and score list.

#include <QString>

// value in fixed-point notation: rounded to `decimals` decimals or to
// `precision` significant digits, whichever keeps fewer digits, halves away
// from zero, padded with zeros to `decimals` decimals. A value with more
// integer digits than `precision` is written as a mantissa of `precision`
// significant digits and a decimal exponent ("1.235E+4"). decimalPoint
// separates the decimals (the locale's separator).
QString FormatFixed(double value, int precision, int decimals, const QString& decimalPoint);

// The date part of a score date (days since 30 December 1899, time of day as
// fraction) in the system locale's short date format ("d MMM yy" when the
// system has no locale, C or POSIX); empty for a date that no calendar can
// show (NaN, infinite or beyond the years 1..9999).
QString ScoreDateText(double date);
