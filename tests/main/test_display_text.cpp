// Number and date texts of the main window.

#include "main/DisplayText.h"

#include <QDate>
#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
std::string fixed(double v, int precision, int decimals, const char* point = ".")
{
    return FormatFixed(v, precision, decimals, QString::fromLatin1(point)).toStdString();
}
} // namespace

TEST(FormatFixed, KeepsTheFewerOfDecimalsAndSignificantDigits)
{
    EXPECT_EQ(fixed(123.45, 4, 0), "123");
    EXPECT_EQ(fixed(1234.5, 4, 0), "1235");
    EXPECT_EQ(fixed(12.34, 3, 1), "12.3");
    EXPECT_EQ(fixed(123.4, 3, 1), "123.0");
    EXPECT_EQ(fixed(1.25, 3, 1), "1.3");
    EXPECT_EQ(fixed(0.0, 3, 1), "0.0");
    EXPECT_EQ(fixed(0.0, 4, 0), "0");
    EXPECT_EQ(fixed(0.04, 3, 1), "0.0");
    EXPECT_EQ(fixed(150.0f * 1.0000001f, 4, 0), "150");
}

TEST(FormatFixed, RoundsHalvesAwayFromZeroAndCarries)
{
    EXPECT_EQ(fixed(2.5, 4, 0), "3");
    EXPECT_EQ(fixed(0.5, 4, 0), "1");
    EXPECT_EQ(fixed(0.25, 3, 1), "0.3");
    EXPECT_EQ(fixed(0.05, 3, 1), "0.1");
    EXPECT_EQ(fixed(9.96, 3, 1), "10.0");
    EXPECT_EQ(fixed(99.96, 3, 1), "100.0");
    EXPECT_EQ(fixed(9.999999f, 3, 1), "10.0");
}

TEST(FormatFixed, UsesExponentBeyondTheSignificantDigits)
{
    EXPECT_EQ(fixed(9999.4, 4, 0), "9999");
    EXPECT_EQ(fixed(9999.6, 4, 0), "1.000E+4");
    EXPECT_EQ(fixed(12345.6, 4, 0), "1.235E+4");
    EXPECT_EQ(fixed(999.4, 3, 1), "999.0");
    EXPECT_EQ(fixed(999.49, 3, 1), "999.0");
    EXPECT_EQ(fixed(999.96, 3, 1), "1.00E+3");
    EXPECT_EQ(fixed(3.0e9, 4, 0, ","), "3,000E+9");
    EXPECT_EQ(fixed(std::numeric_limits<double>::infinity(), 4, 0), "INF");
}

TEST(FormatFixed, WritesTheGivenDecimalSeparator)
{
    EXPECT_EQ(fixed(12.34, 3, 1, ","), "12,3");
    EXPECT_EQ(fixed(0.0, 3, 1, ","), "0,0");
    EXPECT_EQ(fixed(1234.5, 4, 0, ","), "1235");
}

TEST(ScoreDateText, ShowsTheDayInTheShortFormatOnly)
{
    // Run under several locales by ctest; without one (C, POSIX) the year has two digits.
    const bool noLocale = QLocale::system().language() == QLocale::C;
    auto shortDate = [&](QDate d) {
        return noLocale ? QLocale::c().toString(d, QStringLiteral("d MMM yy"))
                        : QLocale::system().toString(d, QLocale::ShortFormat);
    };
    if (noLocale) {
        EXPECT_EQ(ScoreDateText(45000.0), QStringLiteral("15 Mar 23"));
    }
    EXPECT_EQ(ScoreDateText(45000.0), shortDate(QDate(2023, 3, 15)));
    EXPECT_EQ(ScoreDateText(45000.999), shortDate(QDate(2023, 3, 15)));
    // Before the epoch the day part is truncated toward zero: -1.25 is 29 December 1899, 6:00.
    EXPECT_EQ(ScoreDateText(-1.25), shortDate(QDate(1899, 12, 29)));
}

TEST(ScoreDateText, LeavesImpossibleDatesEmpty)
{
    EXPECT_TRUE(ScoreDateText(std::nan("")).isEmpty());
    EXPECT_TRUE(ScoreDateText(std::numeric_limits<double>::infinity()).isEmpty());
    EXPECT_TRUE(ScoreDateText(1e300).isEmpty());
    EXPECT_TRUE(ScoreDateText(-1e18).isEmpty());
    EXPECT_FALSE(ScoreDateText(2958465.5).isEmpty()); // 31 December 9999
}
