#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "sax.h"

namespace zorp {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

TEST(Breakpoints, RowsHoldSizeMinusOneAscendingCuts) {
    ASSERT_EQ(breakpoints.size(), 11u);
    EXPECT_TRUE(breakpoints[0].empty());
    EXPECT_TRUE(breakpoints[1].empty());
    for (size_t size = 2; size < breakpoints.size(); ++size) {
        ASSERT_EQ(breakpoints[size].size(), size - 1);
        for (size_t i = 1; i < breakpoints[size].size(); ++i) {
            EXPECT_LT(breakpoints[size][i - 1], breakpoints[size][i]);
        }
        // The Gaussian cut points are symmetric about 0.
        for (size_t i = 0; i < breakpoints[size].size(); ++i) {
            EXPECT_EQ(breakpoints[size][i], -breakpoints[size][size - 2 - i]);
        }
    }
    EXPECT_EQ(breakpoints[10][0], -1.28);
    EXPECT_EQ(breakpoints[7][2], -0.18);
}

TEST(DiscreteValue, CountsCutsStrictlyBelow) {
    EXPECT_EQ(get_discrete_value(4, 0.5), 'c');
    EXPECT_EQ(get_discrete_value(4, -0.5), 'b');
    EXPECT_EQ(get_discrete_value(4, 1.0), 'd');
    // A value equal to a cut point takes the lower letter.
    EXPECT_EQ(get_discrete_value(3, 0.43), 'b');
    EXPECT_EQ(get_discrete_value(2, 0.0), 'a');
    EXPECT_EQ(get_discrete_value(10, 1e300), 'j');
    EXPECT_EQ(get_discrete_value(10, nan_value), 'a');
    EXPECT_EQ(get_discrete_value(0, 5.0), 'a');
    EXPECT_EQ(get_discrete_value(1, 5.0), 'a');
}

TEST(DiscreteValue, RefusesAlphabetOutsideTable) {
    EXPECT_THROW(get_discrete_value(11, 0.0), std::invalid_argument);
    EXPECT_THROW(get_discrete_value(-1, 0.0), std::invalid_argument);
    try {
        breakpoint_row(42);
        FAIL();
    } catch (const std::invalid_argument& error) {
        EXPECT_EQ(std::string(error.what()), "alphabet must be between 0 and 10, got 42");
    }
}

TEST(Row, LastSegmentDividesBySeglen) {
    EXPECT_EQ(get_row({0.8, 0.8, 0.8, 0.8, 0.8}, 2, 3), "ccb");
    EXPECT_EQ(get_row({0.5, -0.5, 1.0}, 1, 4), "cbd");
    // Seven points: 3 letters with seglen 3, 1 with 7, and 1 with 8 whose mean is sum / 8.
    const Series seven{1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(get_row(seven, 3, 4).size(), 3u);
    EXPECT_EQ(get_row(seven, 7, 4), "d");
    // 7 x 0.49 / 8 = 0.42875 lies below 0.43, although every point lies above it.
    EXPECT_EQ(get_row({0.49, 0.49, 0.49, 0.49, 0.49, 0.49, 0.49}, 8, 3), "b");
    EXPECT_EQ(get_row({}, 3, 4), "");
}

TEST(Row, ImpossibleLetterCounts) {
    const std::string message = "cannot create std::vector larger than max_size()";
    // A negative seglen is refused for any non-empty series, also where the count would
    // round up to -0 letters (2 points / -7).
    for (int seglen : {0, -1, -7, std::numeric_limits<int>::min()}) {
        try {
            get_row({1.0, 2.0}, seglen, 4);
            FAIL() << "seglen " << seglen;
        } catch (const std::length_error& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
    EXPECT_THROW(get_row({}, 0, 4), std::length_error);  // 0 / 0 is NaN
    EXPECT_EQ(get_row({}, -3, 4), "");                   // -0 letters is no letter
}

TEST(Row, HugeSeglenGivesOneLetter) {
    EXPECT_EQ(get_row({3.0, 3.0}, std::numeric_limits<int>::max(), 2), "b");
}

TEST(Sax, OneWordPerSeriesAndNoPartialResult) {
    EXPECT_TRUE(sax({}, 3, 4).empty());
    const WordSet words = sax({{-1.0, 1.0}, {}, {0.5, -0.5, 1.0}}, 1, 4);
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], "ad");
    EXPECT_EQ(words[1], "");
    EXPECT_EQ(words[2], "cbd");
    EXPECT_THROW(sax({{1.0}, {}}, 0, 4), std::length_error);
    // The alphabet is refused before anything else, even with no series at all.
    EXPECT_THROW(sax({}, 3, 11), std::invalid_argument);
    EXPECT_THROW(sax({{1.0}}, 0, 11), std::invalid_argument);
}

TEST(Znorm, PopulationDeviationAndNaNForConstants) {
    SeriesSet ts{{1, 2, 3}, {5, 5, 5}, {7}, {}, {1, nan_value, 3}};
    znorm(ts);
    const double scaled = 1.0 / std::sqrt(2.0 / 3.0);
    EXPECT_DOUBLE_EQ(ts[0][0], -scaled);
    EXPECT_DOUBLE_EQ(ts[0][1], 0.0);
    EXPECT_DOUBLE_EQ(ts[0][2], scaled);
    for (size_t s : {1u, 2u, 4u}) {
        for (double value : ts[s]) {
            EXPECT_TRUE(std::isnan(value));
        }
    }
    EXPECT_TRUE(ts[3].empty());
    EXPECT_EQ(sax(ts, 1, 4)[1], "aaa");
}

TEST(SymbolOrder, BytesCompareSigned) {
    const SymbolLess less;
    EXPECT_TRUE(less("a", "b"));
    EXPECT_TRUE(less("a", "ab"));
    EXPECT_FALSE(less("ab", "a"));
    EXPECT_FALSE(less("a", "a"));
    EXPECT_TRUE(less("\x80", "a"));
    EXPECT_TRUE(less("\xff", std::string(1, '\0')));
    EXPECT_TRUE(less("\xe9", "\x7f"));
}

}  // namespace
}  // namespace zorp
