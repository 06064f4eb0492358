#include "ui/agreement.h"

#include "base/precisetime.h"
#include "base/textfmt.h"

static int CountInState(const TimeSample *sample, int state)
{
    int count = 0;
    for (int i = 0; i < sample->sourceCount; i++)
        if (sample->sources[i].state == state)
            count++;
    return count;
}

void FormatAgreement(const TimeSample *sample, char *text, size_t size)
{
    if (size == 0)
        return;
    text[0] = '\0';
    if (sample->sourceCount == 0) {
        if (sample->authenticated)
            FormatText(text, size, "Authenticated (NTS)");
        return;
    }
    size_t used = (size_t)FormatText(text, size, "%d of %d agree", sample->sourcesAgreeing,
                                     sample->sourcesAnswered);
    for (int i = 0; i < sample->sourceCount && used + 1 < size; i++) {
        const SourceReport *source = &sample->sources[i];
        if (source->state != SOURCE_LEFT_OUT)
            continue;
        char seconds[32];
        FormatSignedSeconds(source->offset - sample->offset, seconds, sizeof seconds);
        used += (size_t)FormatText(text + used, size - used, "; %s was %s s off", source->address,
                                   seconds);
    }
    int silent = CountInState(sample, SOURCE_FAILED);
    if (silent > 0 && used + 1 < size)
        FormatText(text + used, size - used, "; %d did not answer", silent);
}

void FormatAgreementInShort(const TimeSample *sample, char *text, size_t size)
{
    if (size == 0)
        return;
    text[0] = '\0';
    if (sample->sourceCount == 0)
        return;
    size_t used = (size_t)FormatText(text, size, " (%d of %d agree", sample->sourcesAgreeing,
                                     sample->sourcesAnswered);
    for (int i = 0; i < sample->sourceCount && used + 1 < size; i++)
        if (sample->sources[i].state == SOURCE_LEFT_OUT)
            used += (size_t)FormatText(text + used, size - used, "; %s off",
                                       sample->sources[i].address);
    if (used + 1 < size)
        FormatText(text + used, size - used, ")");
}
