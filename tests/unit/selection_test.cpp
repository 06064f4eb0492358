#include <gtest/gtest.h>

#include <vector>

#include "base/precisetime.h"
#include "timeclient/selection.h"

namespace {

/* An answer in milliseconds: offset, round trip, root dispersion. */
struct Answer {
    double offsetMs;
    double delayMs;
    double dispersionMs = 0;
};

LONGLONG Ticks(double ms)
{
    return (LONGLONG)(ms * TICKS_PER_MS + (ms >= 0 ? 0.5 : -0.5));
}

std::vector<SelectionCandidate> Candidates(const std::vector<Answer> &answers)
{
    std::vector<SelectionCandidate> candidates;
    for (const Answer &answer : answers)
        candidates.push_back({Ticks(answer.offsetMs), Ticks(answer.delayMs), 0,
                              Ticks(answer.dispersionMs)});
    return candidates;
}

} // namespace

/* The intersection of the correctness intervals, table by table: who is
   taken, and that the reading lies where all of them can be right. */
TEST(Selection, TakesTheLargestSetThatSharesAPoint)
{
    struct Row {
        const char *fault;
        std::vector<Answer> answers;
        SelectionVerdict verdict;
        int agreeing;
        std::vector<bool> taken;
    } rows[] = {
        {"intervals that all agree", {{0, 1}, {0.5, 1}, {-0.3, 1}, {0.2, 1}},
         SELECTION_AGREED, 4, {true, true, true, true}},
        {"one far falseticker", {{0, 1}, {0.2, 1}, {-0.1, 1}, {30000, 1}},
         SELECTION_AGREED, 3, {true, true, true, false}},
        {"a falseticker of a large distance that still overlaps them",
         {{0, 1}, {0.2, 1}, {30000, 1, 40000}}, SELECTION_AGREED, 3, {true, true, true}},
        {"two groups of two", {{0, 1}, {0.1, 1}, {30000, 1}, {30000.1, 1}},
         SELECTION_NO_MAJORITY, 2, {}},
        {"one answer of four", {{0, 1}}, SELECTION_TOO_FEW, 1, {}},
        {"two that disagree", {{0, 1}, {5000, 1}}, SELECTION_NO_MAJORITY, 1, {}},
        {"two majorities that differ", {{5, 0, 5}, {0.5, 0, 0.5}, {9.5, 0, 0.5}},
         SELECTION_NO_MAJORITY, 2, {}},
    };
    for (const Row &row : rows) {
        std::vector<SelectionCandidate> candidates = Candidates(row.answers);
        Selection selection;
        EXPECT_EQ(SelectReading(candidates.data(), (int)candidates.size(), 1, &selection),
                  row.verdict)
            << row.fault;
        EXPECT_EQ(selection.answered, (int)candidates.size()) << row.fault;
        EXPECT_EQ(selection.agreeing, row.agreeing) << row.fault;
        for (size_t i = 0; i < row.taken.size(); i++)
            EXPECT_EQ(selection.truechimer[i] != 0, row.taken[i]) << row.fault << ", " << i;
        if (row.verdict == SELECTION_AGREED) {
            EXPECT_GE(selection.offset, selection.low) << row.fault;
            EXPECT_LE(selection.offset, selection.high) << row.fault;
        }
    }
}

/* Closed intervals: one that only touches the others shares that point,
   and the reading is that point; weighted by 1 / root distance, the
   combination of equal servers is their mean. */
TEST(Selection, CombinesWithinTheCommonInterval)
{
    const LONGLONG tick = 1;
    /* [-1 ms - 1, 1 ms + 1] three times, and [1 ms + 1, 5 ms + 3]. */
    std::vector<SelectionCandidate> touching = {
        {0, Ticks(2), 0, 0}, {0, Ticks(2), 0, 0}, {0, Ticks(2), 0, 0},
        {Ticks(3) + 2 * tick, Ticks(4), 0, 0}};
    Selection selection;
    ASSERT_EQ(SelectReading(touching.data(), 4, tick, &selection), SELECTION_AGREED);
    EXPECT_EQ(selection.agreeing, 4);
    EXPECT_EQ(selection.low, Ticks(1) + tick);
    EXPECT_EQ(selection.high, Ticks(1) + tick);
    EXPECT_EQ(selection.offset, Ticks(1) + tick);

    /* Two near 0 within 1 ms, one 100 ms off whose wide interval reaches
       0.99 ms: the weighted mean (about 0.5 ms) lies outside the interval
       all three share, and is kept at its edge. */
    std::vector<SelectionCandidate> wide = Candidates({{0, 2}, {0, 2}, {100, 198.02}});
    ASSERT_EQ(SelectReading(wide.data(), 3, tick, &selection), SELECTION_AGREED);
    EXPECT_EQ(selection.agreeing, 3);
    EXPECT_EQ(selection.offset, selection.low);
    EXPECT_NEAR((double)selection.low / TICKS_PER_MS, 0.99, 0.001);

    std::vector<SelectionCandidate> equal = Candidates({{1, 2}, {3, 2}, {2, 2}});
    ASSERT_EQ(SelectReading(equal.data(), 3, tick, &selection), SELECTION_AGREED);
    EXPECT_EQ(selection.offset, Ticks(2));
    EXPECT_EQ(selection.delay, Ticks(2));
}
