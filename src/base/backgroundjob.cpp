#include "base/backgroundjob.h"

#include <process.h>
#include <stdlib.h>
#include <string.h>

struct BackgroundJob {
    LONG references;
    LONG done;
    HANDLE dropped;
    HANDLE doneEvent;
    void (*work)(void *data, HANDLE dropped);
    JobNotify notify;
    void *context;
    WPARAM tag;
    /* The data follows the record. */
    size_t size;
};

static void *DataOf(BackgroundJob *job)
{
    return job + 1;
}

static void Unhold(BackgroundJob *job)
{
    if (InterlockedDecrement(&job->references) != 0)
        return;
    CloseHandle(job->dropped);
    CloseHandle(job->doneEvent);
    free(job);
}

void ReleaseBackgroundJob(BackgroundJob *job)
{
    if (job == NULL)
        return;
    SetEvent(job->dropped);
    Unhold(job);
}

static unsigned __stdcall RunJob(void *parameter)
{
    BackgroundJob *job = (BackgroundJob *)parameter;
    job->work(DataOf(job), job->dropped);
    InterlockedExchange(&job->done, 1);
    SetEvent(job->doneEvent);
    if (job->notify != NULL)
        job->notify(job->context, job->tag);
    Unhold(job);
    return 0;
}

BackgroundJob *StartBackgroundJob(void (*work)(void *data, HANDLE dropped), const void *data,
                                  size_t size, JobNotify notify, void *context, WPARAM tag)
{
    BackgroundJob *job = (BackgroundJob *)calloc(1, sizeof *job + size);
    if (job == NULL)
        return NULL;
    job->dropped = CreateEventA(NULL, TRUE, FALSE, NULL);
    job->doneEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (job->dropped == NULL || job->doneEvent == NULL) {
        if (job->dropped != NULL)
            CloseHandle(job->dropped);
        if (job->doneEvent != NULL)
            CloseHandle(job->doneEvent);
        free(job);
        return NULL;
    }
    job->work = work;
    job->notify = notify;
    job->context = context;
    job->tag = tag;
    job->size = size;
    memcpy(DataOf(job), data, size);
    /* One hold for the caller, one for the thread. */
    job->references = 2;
    uintptr_t thread = _beginthreadex(NULL, 0, RunJob, job, 0, NULL);
    if (thread != 0)
        CloseHandle((HANDLE)thread);
    else
        RunJob(job);
    return job;
}

const void *FinishedJobData(BackgroundJob *job)
{
    if (job == NULL || InterlockedCompareExchange(&job->done, 1, 1) != 1)
        return NULL;
    return DataOf(job);
}

HANDLE JobDoneEvent(const BackgroundJob *job)
{
    return job->doneEvent;
}
