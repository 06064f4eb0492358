#ifndef HORAVEX_OUTCOME_H
#define HORAVEX_OUTCOME_H

#include <windows.h>

#include "base/globals.h"
#include "base/timesample.h"

/* What a notification of a request means to the window that owns it.
   Every kind from OUTCOME_READING on has ended the request already: its
   socket is closed and its timer killed, so that nothing can happen to it
   while the owner shows the outcome. */
enum OutcomeKind {
    OUTCOME_NOT_OURS,     /* about no request this owner runs */
    OUTCOME_WAITING,      /* nothing to act on yet */
    OUTCOME_CALIBRATION,  /* a calibration reading (its lag in the sample);
                             the next exchange is under way */
    OUTCOME_READING,      /* the reading that counts, in the sample */
    OUTCOME_NO_READING,   /* ended without one, nothing to say */
    OUTCOME_FAILED,       /* ended: report says how */
    OUTCOME_STOPPED,      /* ended by its owner */
};

/* How a failure reads, and where its owner says so. */
enum FailureKind {
    FAILURE_NONE,
    FAILURE_CONNECTION,  /* the Time protocol's failed connection */
    FAILURE_EXCHANGE,    /* an SNTP exchange that gave no usable reply */
    FAILURE_HELD,        /* nothing was sent: the server refused us or asked us to wait */
    FAILURE_SOCKET,      /* a Windows Sockets step failed: report names it, socketError */
};

struct RequestOutcome {
    OutcomeKind kind;
    FailureKind failure;
    int socketError;
    /* One line: the failure and the host ("No answer from: host"). */
    char report[TEXT_BUFFER_SIZE];
    TimeSample sample;
};

#endif
