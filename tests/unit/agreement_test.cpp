#include <gtest/gtest.h>

#include <string.h>

#include "base/precisetime.h"
#include "ui/agreement.h"

/* What the dialog's line and the title say of several servers: who was
   off from the reading taken, and how many did not answer; of one server
   only whether NTS proved it. */
TEST(Agreement, NamesEachFalsetickerAndCountsTheSilent)
{
    TimeSample sample = {};
    char text[512];
    FormatAgreement(&sample, text, sizeof text);
    EXPECT_STREQ(text, "") << "one server";
    sample.authenticated = TRUE;
    FormatAgreement(&sample, text, sizeof text);
    EXPECT_STREQ(text, "Authenticated (NTS)") << "one server under NTS";
    sample.offset = 2 * TICKS_PER_MS;
    sample.sourcesAnswered = 4;
    sample.sourcesAgreeing = 3;
    const struct {
        const char *address;
        int state;
        LONGLONG offsetMs;
    } asked[] = {{"127.0.7.1", SOURCE_TAKEN, 2},
                 {"127.0.7.4", SOURCE_LEFT_OUT, 30002},
                 {"127.0.7.5", SOURCE_LEFT_OUT, -998},
                 {"127.0.7.6", SOURCE_FAILED, 0}};
    for (const auto &server : asked) {
        SourceReport *source = &sample.sources[sample.sourceCount++];
        lstrcpynA(source->address, server.address, sizeof source->address);
        source->state = server.state;
        source->offset = server.offsetMs * TICKS_PER_MS;
    }
    FormatAgreement(&sample, text, sizeof text);
    EXPECT_STREQ(text, "3 of 4 agree; 127.0.7.4 was +30.000 s off; 127.0.7.5 was -1.000 s off; "
                       "1 did not answer");
    FormatAgreementInShort(&sample, text, sizeof text);
    EXPECT_STREQ(text, " (3 of 4 agree; 127.0.7.4 off; 127.0.7.5 off)");
    FormatAgreement(&sample, text, 20);
    EXPECT_STREQ(text, "3 of 4 agree; 127.0") << "cut to fit";
}
