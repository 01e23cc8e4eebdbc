// Greyed text against its background: the contrast ratio and the rule that
// swaps a too pale grey for the mid grey.

#include "TextContrast.h"

#include <gtest/gtest.h>

namespace {

const QColor kScoreListBlue(226, 234, 251);

struct RatioRow {
    const char* what;
    QColor a, b;
    double ratio;
};

// Ratios worked out from the sRGB luminance formula by hand.
const RatioRow kRatios[] = {
    {"black on white", Qt::black, Qt::white, 21.0},
    {"white on black, the other way round", Qt::white, Qt::black, 21.0},
    {"a colour on itself", kScoreListBlue, kScoreListBlue, 1.0},
    {"the style's pale grey on the list", QColor(190, 190, 190), kScoreListBlue, 1.54},
    {"mid grey on the list", QColor(128, 128, 128), kScoreListBlue, 3.27},
    {"mid grey on white, through the linear part of sRGB", QColor(128, 128, 128), Qt::white, 3.95},
    {"pure blue on black", QColor(0, 0, 255), Qt::black, 2.44},
};

} // namespace

TEST(TextContrast, RatioOfRelativeLuminances)
{
    for (const RatioRow& row : kRatios)
        EXPECT_NEAR(contrastRatio(row.a, row.b), row.ratio, 0.01) << row.what;
}

TEST(TextContrast, TooPaleGreyGivesWayToTheMidGrey)
{
    // The style's own grey stays wherever it is readable.
    const QColor darkGrey(100, 100, 100);
    EXPECT_EQ(readableGreyedText(darkGrey, kScoreListBlue), darkGrey);
    EXPECT_EQ(readableGreyedText(QColor(190, 190, 190), Qt::black), QColor(190, 190, 190));
    // Too pale on the list's blue: the mid grey, which is readable there.
    EXPECT_EQ(readableGreyedText(QColor(190, 190, 190), kScoreListBlue), kReadableGreyText);
    EXPECT_GE(contrastRatio(kReadableGreyText, kScoreListBlue), kMinimumGreyedContrast);
    // Either side of 3 : 1 on white: #949494 is 3.03, #959595 is 2.995.
    EXPECT_EQ(readableGreyedText(QColor(148, 148, 148), Qt::white), QColor(148, 148, 148));
    EXPECT_EQ(readableGreyedText(QColor(149, 149, 149), Qt::white), kReadableGreyText);
}
