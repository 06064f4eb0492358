#include <gtest/gtest.h>

#include <string.h>

#include <functional>

#include "timeclient/servicepipe.h"

/* Exactly one well-formed request of the format is taken; everything else
   a client could send is not. */
TEST(ServiceMessages, OnlyAWellFormedRequestIsTaken)
{
    ServiceRequest sent;
    ASSERT_TRUE(MakeServiceRequest("time.example.org", 1, SERVICE_ACCEPT_UP_TO, 61, &sent));
    BYTE good[SERVICE_REQUEST_SIZE];
    ASSERT_EQ(EncodeServiceRequest(&sent, good), (DWORD)SERVICE_REQUEST_SIZE);
    ServiceRequest taken;
    ASSERT_TRUE(DecodeServiceRequest(good, sizeof good, &taken));
    EXPECT_STREQ(taken.host, "time.example.org");
    EXPECT_EQ(taken.protocol, 1);
    EXPECT_EQ(taken.mode, SERVICE_ACCEPT_UP_TO);
    EXPECT_EQ(taken.limit, 61u);

    struct Row {
        const char *fault;
        std::function<void(BYTE *)> spoil;
        DWORD size;
    } rows[] = {
        {"one byte short", [](BYTE *) {}, SERVICE_REQUEST_SIZE - 1},
        {"nothing at all", [](BYTE *) {}, 0},
        {"another mark", [](BYTE *m) { m[0] = 'X'; }, SERVICE_REQUEST_SIZE},
        {"another version", [](BYTE *m) { m[4] = 1; }, SERVICE_REQUEST_SIZE},
        {"a wrong size field", [](BYTE *m) { m[6] = 0; }, SERVICE_REQUEST_SIZE},
        {"an unknown protocol", [](BYTE *m) { m[8] = 3; }, SERVICE_REQUEST_SIZE},
        {"an unknown mode", [](BYTE *m) { m[12] = 3; }, SERVICE_REQUEST_SIZE},
        {"a mode past 2^31", [](BYTE *m) { m[15] = 0x80; }, SERVICE_REQUEST_SIZE},
        {"the reserved field set", [](BYTE *m) { m[20] = 1; }, SERVICE_REQUEST_SIZE},
        {"an empty host", [](BYTE *m) { m[24] = 0; }, SERVICE_REQUEST_SIZE},
        {"an unterminated host", [](BYTE *m) { memset(m + 24, 'h', 256); }, SERVICE_REQUEST_SIZE},
        {"bytes after the host", [](BYTE *m) { m[279] = 'x'; }, SERVICE_REQUEST_SIZE},
    };
    for (const Row &row : rows) {
        BYTE message[SERVICE_REQUEST_SIZE];
        memcpy(message, good, sizeof message);
        row.spoil(message);
        EXPECT_FALSE(DecodeServiceRequest(message, row.size, &taken)) << row.fault;
    }
}

/* An answer reads back as it was written, 64-bit times whole. */
TEST(ServiceMessages, AnAnswerReadsBackAsWritten)
{
    ServiceAnswer sent = {};
    sent.result = SERVICE_LIMITED;
    sent.error = 1314;
    sent.precise = 1;
    sent.localClock = 0x01DCABCDEF012345LL;
    sent.offset = -1234567890123LL;
    sent.serverTime = 0x100000000LL;
    sent.lag = 7;
    sent.maxAdjust = 120;
    sent.authenticated = TRUE;
    lstrcpynA(sent.label, "partial", sizeof sent.label);
    lstrcpynA(sent.text, "text", sizeof sent.text);
    BYTE message[SERVICE_ANSWER_SIZE];
    ServiceAnswer taken;
    ASSERT_TRUE(DecodeServiceAnswer(message, EncodeServiceAnswer(&sent, message), &taken));
    EXPECT_EQ(taken.result, SERVICE_LIMITED);
    EXPECT_EQ(taken.error, 1314u);
    EXPECT_EQ(taken.localClock, sent.localClock);
    EXPECT_EQ(taken.offset, sent.offset);
    EXPECT_EQ(taken.serverTime, sent.serverTime);
    EXPECT_STREQ(taken.label, "partial");
    EXPECT_TRUE(taken.authenticated);
    message[76] = 2;
    EXPECT_FALSE(DecodeServiceAnswer(message, SERVICE_ANSWER_SIZE, &taken)) << "authenticated 2";
    message[76] = 0;
    message[8] = SERVICE_BUSY;
    EXPECT_TRUE(DecodeServiceAnswer(message, SERVICE_ANSWER_SIZE, &taken)) << "busy";
    message[8] = SERVICE_BUSY + 1;
    EXPECT_FALSE(DecodeServiceAnswer(message, SERVICE_ANSWER_SIZE, &taken)) << "unknown result";
}

/* Each way the service fails the program is told as what it is: a busy
   pipe or a refused user is no service that is not running. */
TEST(ServiceMessages, EachTroubleIsToldAsWhatItIs)
{
    struct Row {
        ServiceTrouble trouble;
        int result;
        const char *text;
    } rows[] = {
        {SERVICE_PIPE_BUSY, 0,
         "The Horavex Time Service is busy serving other programs: try again in a moment."},
        {SERVICE_DENIED, 0,
         "The Horavex Time Service does not let this user ask it (access denied)."},
        {SERVICE_NO_PIPE, 0,
         "The Horavex Time Service runs but does not serve its pipe: restart it."},
        {SERVICE_UNREACHABLE, 0,
         "The Horavex Time Service could not be reached (Windows error 1450)."},
        {SERVICE_ANSWERED, SERVICE_BUSY,
         "The Horavex Time Service is busy with other readings: try again in a moment."},
        {SERVICE_ANSWERED, SERVICE_REFUSED, "The Horavex Time Service refused: why."},
    };
    for (const Row &row : rows) {
        ServiceAnswer answer = {};
        answer.result = row.result;
        answer.error = 1450;
        lstrcpynA(answer.text, "why", sizeof answer.text);
        char text[512];
        DescribeServiceTrouble(row.trouble, &answer, text, sizeof text);
        EXPECT_STREQ(text, row.text);
    }
}
