#ifndef HORAVEX_BACKGROUNDJOB_H
#define HORAVEX_BACKGROUNDJOB_H

#include <windows.h>
#include <stddef.h>

/* Work that would hold its caller up (a name lookup, a call to the time
   service), done in a thread of its own on a copy of its data; once it is
   done, notify (if given) runs in that thread with context and tag, and
   the job's done event is set.  The work may watch dropped, set when
   nobody waits for it any more. */
struct BackgroundJob;

typedef void (*JobNotify)(void *context, WPARAM tag);

BackgroundJob *StartBackgroundJob(void (*work)(void *data, HANDLE dropped), const void *data,
                                  size_t size, JobNotify notify, void *context, WPARAM tag);

/* The job's data once the work is done, else null. */
const void *FinishedJobData(BackgroundJob *job);

/* Set once the work is done; valid while the caller holds the job. */
HANDLE JobDoneEvent(const BackgroundJob *job);

/* The caller's hold on the job ends: work still running is told, finishes
   by itself, and its result is dropped. */
void ReleaseBackgroundJob(BackgroundJob *job);

#endif
