#ifndef HORAVEX_OUTCOME_H
#define HORAVEX_OUTCOME_H

#include "base/appstate.h"
#include "base/timesample.h"

/* What a notification of the request means to the window that owns it;
   the owner decides only what to show. */
enum OutcomeKind {
    OUTCOME_NOT_OURS,     /* about no request this owner runs */
    OUTCOME_WAITING,      /* nothing to act on yet */
    OUTCOME_CALIBRATION,  /* a calibration reading; lag holds its lag */
    OUTCOME_READING,      /* the reading that counts, in the sample */
    OUTCOME_NO_READING,   /* the request ended without one, nothing to say */
    OUTCOME_FAILED,       /* the request failed: report says how */
};

struct RequestOutcome {
    OutcomeKind kind;
    /* The Time protocol's failed connection, whose texts stay as they were. */
    BOOL connectionFailed;
    /* The failure and the host, one line ("No answer from: host"). */
    char report[TEXT_BUFFER_SIZE];
};

/* A UM_SOCKET notification (wParam, lParam) for the request. */
OutcomeKind OutcomeOfSocketEvent(AppState *state, WPARAM wParam, LPARAM lParam,
                                 TimeSample *sample, RequestOutcome *outcome);

/* The owner's REQUEST_TIMER_ID: the packet goes now, or no answer came. */
OutcomeKind OutcomeOfRequestTimer(HWND owner, AppState *state, RequestOutcome *outcome);

#endif
