// Greyed text against its background: the contrast ratio and the rule that
// swaps a too pale grey for the mid grey.

#include "ui/common/TextContrast.h"

#include <gtest/gtest.h>

namespace {
const QColor kScoreListBlue(226, 234, 251);
const QColor kStylePaleGrey(190, 190, 190);
} // namespace

TEST(TextContrast, RatioOfRelativeLuminances)
{
    // Worked out from the sRGB luminance formula by hand.
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::black), 21.0, 0.01);
    EXPECT_NEAR(contrastRatio(kScoreListBlue, kScoreListBlue), 1.0, 0.01);
    EXPECT_NEAR(contrastRatio(kStylePaleGrey, kScoreListBlue), 1.54, 0.01);
    EXPECT_NEAR(contrastRatio(QColor(0, 0, 255), Qt::black), 2.44, 0.01);
}

TEST(TextContrast, TooPaleGreyGivesWayToTheMidGrey)
{
    EXPECT_EQ(readableGreyedText(kStylePaleGrey, kScoreListBlue), kReadableGreyText);
    EXPECT_GE(contrastRatio(kReadableGreyText, kScoreListBlue), kMinimumGreyedContrast);
    EXPECT_EQ(readableGreyedText(kStylePaleGrey, Qt::black), kStylePaleGrey);
    // Either side of 3 : 1 on white: #949494 is 3.03, #959595 is 2.995.
    EXPECT_EQ(readableGreyedText(QColor(148, 148, 148), Qt::white), QColor(148, 148, 148));
    EXPECT_EQ(readableGreyedText(QColor(149, 149, 149), Qt::white), kReadableGreyText);
}
