#ifndef HORAVEX_AGREEMENT_H
#define HORAVEX_AGREEMENT_H

#include <stddef.h>

#include "base/timesample.h"

/* What a reading of several servers says of them, for a line of the
   dialog: "3 of 4 agree; 127.0.7.4 was +30.000 s off" (each falseticker's
   offset from the reading taken), and how many did not answer; of one
   server, that NTS proved it, or nothing. */
void FormatAgreement(const TimeSample *sample, char *text, size_t size);

/* The same in short, to follow the time of day in the hidden window's
   title and the flyout: " (3 of 4 agree; 127.0.7.4 off)"; empty for one
   server. */
void FormatAgreementInShort(const TimeSample *sample, char *text, size_t size);

#endif
