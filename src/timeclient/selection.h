#ifndef HORAVEX_SELECTION_H
#define HORAVEX_SELECTION_H

#include <windows.h>

#include "base/timesample.h"

/* One answering server as the selection weighs it, in ticks of 100 ns:
   its offset, the round trip, and its own distance from its reference. */
struct SelectionCandidate {
    LONGLONG offset;
    LONGLONG delay;
    LONGLONG rootDelay;
    LONGLONG rootDispersion;
};

enum SelectionVerdict {
    SELECTION_AGREED,      /* a majority of at least two agree: offset is theirs */
    SELECTION_TOO_FEW,     /* fewer than two answered */
    SELECTION_NO_MAJORITY, /* no set of more than half agrees, or two such sets differ */
};

struct Selection {
    SelectionVerdict verdict;
    int answered;
    /* The truechimers: the largest set of servers whose correctness
       intervals share a point; the others are falsetickers. */
    int agreeing;
    BOOL truechimer[MOST_SOURCES];
    /* Their common interval, and the combined reading, which lies in it. */
    LONGLONG low;
    LONGLONG high;
    LONGLONG offset;
    LONGLONG delay;
};

/* Half the round trip, plus half the root delay, plus the root
   dispersion, plus the local clock's reading precision: how far from the
   offset the true time can be, by what the server says of itself. */
LONGLONG RootDistance(const SelectionCandidate *candidate, LONGLONG precision);

/* RFC 5905's intersection of the correctness intervals [offset - root
   distance, offset + root distance], closed (intervals that touch share
   that point), over at most MOST_SOURCES answers; the truechimers'
   offsets and delays are combined as RFC 5905's clock_combine does,
   weighted by 1 / root distance, and the offset is kept within their
   common interval.  The verdict, with the selection filled in. */
SelectionVerdict SelectReading(const SelectionCandidate *candidates, int count,
                               LONGLONG precision, Selection *selection);

#endif
