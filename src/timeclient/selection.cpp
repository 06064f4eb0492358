#include "timeclient/selection.h"

#include <stdlib.h>
#include <string.h>

/* One end of a correctness interval: a start counts one more server in,
   an end one out. */
struct Endpoint {
    LONGLONG at;
    int step;
};

/* At the same point a start comes before an end: intervals that touch
   share that point. */
static int CompareEndpoints(const void *one, const void *other)
{
    const Endpoint *a = (const Endpoint *)one;
    const Endpoint *b = (const Endpoint *)other;
    if (a->at != b->at)
        return a->at < b->at ? -1 : 1;
    return b->step - a->step;
}

LONGLONG RootDistance(const SelectionCandidate *candidate, LONGLONG precision)
{
    LONGLONG delay = candidate->delay > 0 ? candidate->delay : 0;
    LONGLONG rootDelay = candidate->rootDelay > 0 ? candidate->rootDelay : 0;
    LONGLONG dispersion = candidate->rootDispersion > 0 ? candidate->rootDispersion : 0;
    return delay / 2 + rootDelay / 2 + dispersion + (precision > 0 ? precision : 1);
}

/* The sweep over the endpoints: the most intervals that share a point,
   where that first happens ([low, high]), and in how many separate
   places that many meet. */
static int LargestOverlap(Endpoint *ends, int count, LONGLONG *low, LONGLONG *high, int *places)
{
    qsort(ends, (size_t)count, sizeof ends[0], CompareEndpoints);
    int inside = 0;
    int most = 0;
    BOOL open = FALSE;
    *places = 0;
    for (int i = 0; i < count; i++) {
        if (ends[i].step > 0) {
            inside++;
            if (inside > most) {
                most = inside;
                *low = ends[i].at;
                *places = 1;
                open = TRUE;
            } else if (inside == most) {
                (*places)++;
            }
        } else {
            if (inside == most && open) {
                *high = ends[i].at;
                open = FALSE;
            }
            inside--;
        }
    }
    return most;
}

/* clock_combine: each truechimer weighs 1 / its root distance.  The sums
   are taken relative to one truechimer's offset, so that a clock years off
   loses no precision in a double. */
static void Combine(const SelectionCandidate *candidates, int count, LONGLONG precision,
                    Selection *selection)
{
    LONGLONG base = 0;
    BOOL haveBase = FALSE;
    double weights = 0;
    double offsets = 0;
    double delays = 0;
    for (int i = 0; i < count; i++) {
        if (!selection->truechimer[i])
            continue;
        if (!haveBase) {
            base = candidates[i].offset;
            haveBase = TRUE;
        }
        double weight = 1.0 / (double)RootDistance(&candidates[i], precision);
        weights += weight;
        offsets += weight * (double)(candidates[i].offset - base);
        delays += weight * (double)candidates[i].delay;
    }
    LONGLONG offset = base + (LONGLONG)(offsets / weights + (offsets >= 0 ? 0.5 : -0.5));
    if (offset < selection->low)
        offset = selection->low;
    if (offset > selection->high)
        offset = selection->high;
    selection->offset = offset;
    selection->delay = (LONGLONG)(delays / weights + 0.5);
}

SelectionVerdict SelectReading(const SelectionCandidate *candidates, int count,
                               LONGLONG precision, Selection *selection)
{
    memset(selection, 0, sizeof *selection);
    if (count > MOST_SOURCES)
        count = MOST_SOURCES;
    selection->answered = count;
    if (count < 2) {
        selection->agreeing = count;
        selection->verdict = SELECTION_TOO_FEW;
        return selection->verdict;
    }
    Endpoint ends[2 * MOST_SOURCES];
    for (int i = 0; i < count; i++) {
        LONGLONG distance = RootDistance(&candidates[i], precision);
        ends[2 * i].at = candidates[i].offset - distance;
        ends[2 * i].step = 1;
        ends[2 * i + 1].at = candidates[i].offset + distance;
        ends[2 * i + 1].step = -1;
    }
    int places = 0;
    int most = LargestOverlap(ends, 2 * count, &selection->low, &selection->high, &places);
    for (int i = 0; i < count; i++) {
        LONGLONG distance = RootDistance(&candidates[i], precision);
        selection->truechimer[i] = candidates[i].offset - distance <= selection->low
                                   && candidates[i].offset + distance >= selection->high;
    }
    selection->agreeing = most;
    /* More than half, at least two, and one such set only. */
    if (most < 2 || 2 * most <= count || places > 1) {
        selection->verdict = SELECTION_NO_MAJORITY;
        return selection->verdict;
    }
    Combine(candidates, count, precision, selection);
    selection->verdict = SELECTION_AGREED;
    return selection->verdict;
}
