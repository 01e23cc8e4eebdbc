#include "main/DisplayText.h"

#include <QDate>
#include <QLocale>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
// Significant decimal digits taken from the value before any rounding: the
// exact expansion of a float or double agrees with its true value that far.
constexpr int kSourceDigits = 18;

// Day numbers of 1 January 0001 and 31 December 9999 counted from 30 December 1899.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;
} // namespace

QString FormatFixed(double value, int precision, int decimals, const QString& decimalPoint)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");

    const bool negative = std::signbit(value);
    std::array<int, kSourceDigits + 1> digits{};
    int digitCount = 0;
    int intDigits = 0; // position of the decimal point after the leading digit run
    if (value != 0.0) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*e", kSourceDigits - 1, std::fabs(value));
        const char* p = buffer;
        for (; *p != 'e'; ++p) {
            if (*p >= '0' && *p <= '9')
                digits[static_cast<std::size_t>(digitCount++)] = *p - '0';
        }
        intDigits = std::atoi(p + 1) + 1;
    }

    // Keep what the decimals allow and what the significant digits allow,
    // whichever is fewer, then round half away from zero on the next digit.
    int keep = std::min(precision, intDigits + decimals);
    if (keep < 0) {
        digitCount = 0;
    } else if (keep < digitCount) {
        const bool roundUp = digits[static_cast<std::size_t>(keep)] >= 5;
        digitCount = keep;
        if (roundUp) {
            int i = keep - 1;
            while (i >= 0 && digits[static_cast<std::size_t>(i)] == 9) {
                digits[static_cast<std::size_t>(i)] = 0;
                --i;
            }
            if (i >= 0) {
                ++digits[static_cast<std::size_t>(i)];
            } else {
                // 9.99 -> 10.0: one digit more in front.
                for (int k = digitCount; k > 0; --k)
                    digits[static_cast<std::size_t>(k)] = digits[static_cast<std::size_t>(k - 1)];
                digits[0] = 1;
                ++digitCount;
                ++intDigits;
            }
        }
    }
    while (digitCount > 0 && digits[static_cast<std::size_t>(digitCount - 1)] == 0)
        --digitCount;

    const bool zero = digitCount == 0;
    QString text;
    if (negative && !zero)
        text += QLatin1Char('-');
    auto digitAt = [&](int position) {
        // position 0 is the first significant digit; others are zeros.
        return (position >= 0 && position < digitCount) ? digits[static_cast<std::size_t>(position)] : 0;
    };

    if (!zero && intDigits > precision) {
        // Too large for the digits allowed: mantissa and exponent.
        text += QChar(u'0' + digitAt(0));
        if (precision > 1) {
            text += decimalPoint;
            for (int i = 1; i < precision; ++i)
                text += QChar(u'0' + digitAt(i));
        }
        text += QStringLiteral("E+") + QString::number(intDigits - 1);
        return text;
    }

    if (zero || intDigits <= 0) {
        text += QLatin1Char('0');
    } else {
        for (int i = 0; i < intDigits; ++i)
            text += QChar(u'0' + digitAt(i));
    }
    if (decimals > 0) {
        text += decimalPoint;
        for (int i = 0; i < decimals; ++i)
            text += QChar(u'0' + (zero ? 0 : digitAt(intDigits + i)));
    }
    return text;
}

QString ScoreDateText(double date)
{
    if (!std::isfinite(date))
        return {};
    const double day = std::trunc(date);
    if (day < kFirstDay || day > kLastDay)
        return {};
    const QDate shown = QDate(1899, 12, 30).addDays(static_cast<qint64>(day));
    const QLocale locale = QLocale::system();
    // Without a locale (C or POSIX) the short format is "d MMM yyyy", which
    // the score list's date column cuts off; a two-digit year fits and keeps
    // the month's name, so day and month cannot be mistaken for each other.
    if (locale.language() == QLocale::C)
        return locale.toString(shown, QStringLiteral("d MMM yy"));
    return locale.toString(shown, QLocale::ShortFormat);
}
