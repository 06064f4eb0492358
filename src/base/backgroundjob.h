#ifndef HORAVEX_BACKGROUNDJOB_H
#define HORAVEX_BACKGROUNDJOB_H

#include <windows.h>
#include <stddef.h>

/* Work that would hold a window up (a name lookup, a call to the time
   service), done in a thread of its own on a copy of its data; message
   (wParam: tag) goes to window once it is done.  The work may watch
   dropped, set when nobody waits for it any more. */
struct BackgroundJob;

BackgroundJob *StartBackgroundJob(void (*work)(void *data, HANDLE dropped), const void *data,
                                  size_t size, HWND window, UINT message, WPARAM tag);

/* The job's data once the work is done, else null. */
const void *FinishedJobData(BackgroundJob *job);

/* The caller's hold on the job ends: work still running is told, finishes
   by itself, and its result is dropped. */
void ReleaseBackgroundJob(BackgroundJob *job);

#endif
