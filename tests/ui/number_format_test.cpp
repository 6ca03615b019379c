#include "ui/number_format.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <cstdint>
#include <limits>

#include "ui/desktop.h"
#include "ui/run_progress.h"
#include "ui/window_geometry.h"

using namespace morvane;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

struct GroupedCase {
    int64_t value;
    const char* text;
};

class FormatGroupedTest : public ::testing::TestWithParam<GroupedCase> {};

TEST_P(FormatGroupedTest, GroupsDigitsInThreesAndWritesNothingForZero) {
    EXPECT_EQ(formatGrouped(GetParam().value, kEnglish).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatGroupedTest,
                         ::testing::Values(GroupedCase{0, ""}, GroupedCase{7, "7"},
                                           GroupedCase{999, "999"}, GroupedCase{1000, "1,000"},
                                           GroupedCase{1234567, "1,234,567"},
                                           GroupedCase{-1234, "-1,234"},
                                           GroupedCase{3000000000LL, "3,000,000,000"}));

struct DecimalsCase {
    double value;
    const char* text;
};

class FormatUpToTwoDecimalsTest : public ::testing::TestWithParam<DecimalsCase> {};

TEST_P(FormatUpToTwoDecimalsTest, AlwaysWritesThePointAndNoLeadingZero) {
    EXPECT_EQ(formatUpToTwoDecimals(GetParam().value, kEnglish).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatUpToTwoDecimalsTest,
    ::testing::Values(DecimalsCase{1024, "1024."}, DecimalsCase{0.5, ".5"},
                      DecimalsCase{1.25, "1.25"}, DecimalsCase{0.004, "."}, DecimalsCase{0, "."},
                      DecimalsCase{3000000, "3000000."}, DecimalsCase{1000000.0 / 1048576.0, ".95"},
                      DecimalsCase{10240.0 / 1048576.0, ".01"}, DecimalsCase{1.5, "1.5"},
                      DecimalsCase{976.5625, "976.56"}, DecimalsCase{-0.5, "-.5"},
                      DecimalsCase{2000000000, "2000000000."}));

struct PercentCase {
    double ratio;
    const char* text;
};

class FormatPercentTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(FormatPercentTest, WritesOneDecimalAndASign) {
    EXPECT_EQ(formatPercent(GetParam().ratio, kEnglish).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatPercentTest,
                         ::testing::Values(PercentCase{0.5, "50.0%"}, PercentCase{1.0 / 3, "33.3%"},
                                           PercentCase{2.0 / 3, "66.7%"}, PercentCase{1, "100.0%"},
                                           PercentCase{1.0 / 11, "9.1%"},
                                           PercentCase{5.0 / 11, "45.5%"}, PercentCase{0, "0.0%"}));

struct TimeLeftCase {
    double seconds;
    const char* text;
};

class TimeLeftTest : public ::testing::TestWithParam<TimeLeftCase> {};

TEST_P(TimeLeftTest, RoundsToFiveSecondsThenMinutesThenHours) {
    EXPECT_EQ(timeLeftText(GetParam().seconds).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeLeftTest,
    ::testing::Values(
        TimeLeftCase{0, "A few seconds left"}, TimeLeftCase{9.4, "A few seconds left"},
        TimeLeftCase{NAN, "A few seconds left"}, TimeLeftCase{9.5, "About 10 seconds left"},
        TimeLeftCase{12.4, "About 10 seconds left"}, TimeLeftCase{13, "About 15 seconds left"},
        TimeLeftCase{57.4, "About 55 seconds left"}, TimeLeftCase{57.5, "About 1 minute left"},
        TimeLeftCase{89, "About 1 minute left"}, TimeLeftCase{90, "About 2 minutes left"},
        TimeLeftCase{3569, "About 59 minutes left"}, TimeLeftCase{3571, "About 1 hour left"},
        TimeLeftCase{5400, "About 2 hours left"}, TimeLeftCase{1e9, "About 277778 hours left"}));

struct LeadingCase {
    const char* text;
    double value;
};

class ReadLeadingNumberTest : public ::testing::TestWithParam<LeadingCase> {};

TEST_P(ReadLeadingNumberTest, ReadsTheLongestLeadingNumber) {
    const LeadingNumber number = readLeadingNumber(QString::fromUtf8(GetParam().text), kEnglish);
    EXPECT_FALSE(number.overflow);
    EXPECT_DOUBLE_EQ(number.value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadLeadingNumberTest,
    ::testing::Values(LeadingCase{"1024", 1024}, LeadingCase{"1,024", 1}, LeadingCase{"1.5", 1.5},
                      LeadingCase{".95", 0.95}, LeadingCase{" 1 0\t2\n4 ", 1024},
                      LeadingCase{"- 5", -5}, LeadingCase{"+7", 7}, LeadingCase{"abc", 0},
                      LeadingCase{"", 0}, LeadingCase{".", 0}, LeadingCase{"-", 0},
                      LeadingCase{"12abc", 12}, LeadingCase{"1e3", 1000}, LeadingCase{"1E+3", 1000},
                      LeadingCase{"1D3", 1000}, LeadingCase{"2.5d-1", 0.25}, LeadingCase{"1E", 1},
                      LeadingCase{"1e-", 1}, LeadingCase{"3 E 2", 300}, LeadingCase{"1.2.3", 1.2},
                      LeadingCase{"1\r2", 1}, LeadingCase{"1e-400", 0},
                      LeadingCase{"0e99999999999", 0}, LeadingCase{"0.000", 0}));

TEST(ReadLeadingNumber, ReportsNumbersBeyondADoubleAsOverflow) {
    EXPECT_TRUE(readLeadingNumber(QStringLiteral("1E400"), kEnglish).overflow);
    EXPECT_TRUE(readLeadingNumber(QStringLiteral("-1D309"), kEnglish).overflow);
    EXPECT_TRUE(readLeadingNumber(QStringLiteral("1") + QString(400, u'0'), kEnglish).overflow);
    EXPECT_TRUE(readLeadingNumber(QStringLiteral("1E99999999999"), kEnglish).overflow);
    EXPECT_FALSE(readLeadingNumber(QStringLiteral("1E308"), kEnglish).overflow);
}

TEST(ReadLeadingNumber, ReadsWithTheSeparatorsItWritesWith) {
    // A German locale writes the decimal comma and groups with a point.
    EXPECT_EQ(formatUpToTwoDecimals(1.5, kGerman), QStringLiteral("1,5"));
    EXPECT_DOUBLE_EQ(readLeadingNumber(QStringLiteral("1,5"), kGerman).value, 1.5);
    EXPECT_DOUBLE_EQ(readLeadingNumber(QStringLiteral("1.024"), kGerman).value, 1);
    EXPECT_EQ(formatGrouped(1234567, kGerman), QStringLiteral("1.234.567"));
    EXPECT_EQ(formatPercent(0.5, kGerman), QStringLiteral("50,0%"));
    for (double value : {0.95, 1.25, 976.56, 3000000.0}) {
        EXPECT_DOUBLE_EQ(readLeadingNumber(formatUpToTwoDecimals(value, kGerman), kGerman).value,
                         value);
        EXPECT_DOUBLE_EQ(readLeadingNumber(formatUpToTwoDecimals(value, kEnglish), kEnglish).value,
                         value);
    }
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(996147.2), 996147);
    EXPECT_EQ(roundHalfEven(1.5000001), 2);
    EXPECT_EQ(roundHalfEven(7), 7);
}

struct EntryCase {
    const char* text;
    int32_t unit;
    bool tooBig;
    int32_t bytes;
};

class ChunkSizeEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(ChunkSizeEntryTest, ConvertsNumberAndUnitToBytes) {
    const ChunkSizeEntry entry =
        readChunkSizeEntry(QString::fromUtf8(GetParam().text), GetParam().unit, kEnglish);
    EXPECT_EQ(entry.tooBig, GetParam().tooBig);
    if (!GetParam().tooBig) {
        EXPECT_EQ(entry.bytes, GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkSizeEntryTest,
    ::testing::Values(
        EntryCase{"1.5", 1024, false, 1536}, EntryCase{"1953125", 1024, false, 2000000000},
        EntryCase{"1953126", 1024, true, 0}, EntryCase{"2000000000", 1, false, 2000000000},
        EntryCase{"2000000001", 1, true, 0}, EntryCase{".95", 1048576, false, 996147},
        EntryCase{"1,024", 1, false, 1}, EntryCase{"10", 1024, false, 10240},
        EntryCase{"2.5", 1, false, 2}, EntryCase{"3.5", 1, false, 4}, EntryCase{"abc", 1, false, 0},
        EntryCase{"-5", 1, false, -5}, EntryCase{"1E400", 1, true, 0},
        EntryCase{"1E300", 1048576, true, 0},
        EntryCase{"-1E300", 1, false, std::numeric_limits<int32_t>::min()},
        EntryCase{"-3000000000", 1, false, std::numeric_limits<int32_t>::min()},
        EntryCase{"1907", 1048576, false, 1999634432}, EntryCase{"1908", 1048576, true, 0}));

struct FilterCase {
    const char* text;
    const char* description;
    QStringList patterns;
};

class FilterFromTextTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterFromTextTest, SplitsAtTheBarAndMeansEveryFileByStarDotStar) {
    const FileFilter filter = filterFromText(QString::fromUtf8(GetParam().text));
    EXPECT_EQ(filter.description.toStdString(), GetParam().description);
    EXPECT_EQ(filter.patterns, GetParam().patterns);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterFromTextTest,
    ::testing::Values(FilterCase{"All Files (*.*) | *.*", "All Files (*.*)", {"*"}},
                      FilterCase{"Division Header Files (*.hed) | *.hed",
                                 "Division Header Files (*.hed)",
                                 {"*.hed"}},
                      FilterCase{"Pictures | *.png;*.jpg", "Pictures", {"*.png", "*.jpg"}},
                      FilterCase{"Anything", "Anything", {"*"}}));

struct CentreCase {
    QSize screen;
    QSize window;
    QPoint origin;
};

class CentredOriginTest : public ::testing::TestWithParam<CentreCase> {};

TEST_P(CentredOriginTest, HalvesTheDifferenceTowardZero) {
    EXPECT_EQ(centredOrigin(GetParam().screen, GetParam().window), GetParam().origin);
}

INSTANTIATE_TEST_SUITE_P(Cases, CentredOriginTest,
                         ::testing::Values(CentreCase{{1024, 768}, {616, 374}, {204, 197}},
                                           CentreCase{{617, 381}, {610, 374}, {3, 3}},
                                           CentreCase{{603, 367}, {610, 374}, {-3, -3}},
                                           CentreCase{{610, 374}, {610, 374}, {0, 0}}));

TEST(WindowGeometry, ConvertsTwipsToWholePixels) {
    EXPECT_EQ(twipsRect(120, 0, 8895, 4695), QRect(8, 0, 593, 313));
    EXPECT_EQ(twipsRect(0, 0, 9150, 5235).size(), QSize(610, 349));
    // 1032 twips are 68.8 pixels: the nearest pixel.
    EXPECT_EQ(twipsRect(240, 1032, 1455, 315), QRect(16, 69, 97, 21));
}

TEST(WindowGeometry, JoinsMinorAndRevisionInTheBanner) {
    EXPECT_EQ(bannerVersion(1, 1, 1), QStringLiteral("1.11"));
    EXPECT_EQ(bannerVersion(2, 0, 10), QStringLiteral("2.010"));
}

}  // namespace
