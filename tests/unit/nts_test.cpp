#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/stringlist.h"
#include "ntsserver.h"
#include "process.h"
#include "pump.h"
#include "requestowner.h"
#include "statewindow.h"
#include "timeclient/aessiv.h"
#include "timeclient/ntske.h"
#include "timeclient/ntsntp.h"
#include "timeclient/request.h"

namespace {

typedef std::vector<BYTE> Bytes;

Bytes FromHex(const std::string &hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((BYTE)std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string ToHex(const Bytes &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

/* Bytes that differ from case to case and run to run alike. */
Bytes Pattern(size_t length, int seed)
{
    Bytes bytes(length);
    for (size_t i = 0; i < length; i++)
        bytes[i] = (BYTE)(seed * 31 + i * 7 + (i >> 8));
    return bytes;
}

Bytes Seal(const Bytes &key, const std::vector<Bytes> &parts, const Bytes &plain)
{
    std::vector<SivPart> sivParts;
    for (const Bytes &part : parts)
        sivParts.push_back({part.data(), part.size()});
    Bytes sealed(plain.size() + SIV_TAG_SIZE);
    EXPECT_TRUE(SivSeal(key.data(), sivParts.data(), (int)sivParts.size(), plain.data(),
                        plain.size(), sealed.data()));
    return sealed;
}

bool Opens(const Bytes &key, const std::vector<Bytes> &parts, const Bytes &sealed, Bytes *plain)
{
    std::vector<SivPart> sivParts;
    for (const Bytes &part : parts)
        sivParts.push_back({part.data(), part.size()});
    plain->assign(sealed.size() - SIV_TAG_SIZE, 0xee);
    return SivOpen(key.data(), sivParts.data(), (int)sivParts.size(), sealed.data(), sealed.size(),
                   plain->data());
}

} // namespace

/* RFC 5297's own examples (A.1 deterministic, A.2 with two strings and a
   nonce); whatever bit of the tag, the ciphertext or a part changes, it
   no longer opens and nothing of the plaintext is left. */
TEST(AesSiv, SealsAndOpensTheRfcExamples)
{
    struct Case {
        const char *key;
        std::vector<const char *> parts;
        const char *plain;
        const char *sealed;
    } cases[] = {
        {"fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
         {"101112131415161718191a1b1c1d1e1f2021222324252627"}, "112233445566778899aabbccddee",
         "85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c"},
        {"7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
         {"00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100",
          "102030405060708090a0", "09f911029d74e35bd84156c5635688c0"},
         "7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349"
         "562d414553",
         "7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f7"
         "48ba8af829ea64ad544a272e9c485b62a3fd5c0d"},
    };
    for (const Case &c : cases) {
        Bytes key = FromHex(c.key);
        std::vector<Bytes> parts;
        for (const char *part : c.parts)
            parts.push_back(FromHex(part));
        Bytes sealed = Seal(key, parts, FromHex(c.plain));
        EXPECT_EQ(ToHex(sealed), c.sealed);
        Bytes plain;
        ASSERT_TRUE(Opens(key, parts, sealed, &plain));
        EXPECT_EQ(ToHex(plain), c.plain);
        for (size_t bit = 0; bit < sealed.size() * 8; bit += 13) {
            Bytes changed = sealed;
            changed[bit / 8] ^= (BYTE)(1 << bit % 8);
            EXPECT_FALSE(Opens(key, parts, changed, &plain)) << "bit " << bit;
            EXPECT_EQ(plain, Bytes(plain.size(), 0)) << "wiped";
        }
        parts.back()[0] ^= 1;
        EXPECT_FALSE(Opens(key, parts, sealed, &plain)) << "another part";
    }
}

/* The shapes NTS seals, against Nettle's SIV (chrony's own), run at test
   time: a request seals nothing under its header and fields, a reply
   seals its cookies; lengths around the block size. */
TEST(AesSiv, AgreesWithNettleOnWhatNtsSeals)
{
    struct Shape {
        size_t associated;
        size_t plain;
    } shapes[] = {{48 + 36 + 104 + 7 * 104, 0}, {48 + 36, 8 * 104}, {84, 15}, {84, 16},
                  {84, 17}, {64, 31}, {16, 0}, {1, 1}};
    std::string folder = "/tmp/horavex-siv-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(WindowsPath(folder).c_str(), NULL);
    std::ofstream input(WindowsPath(folder + "/in"));
    std::vector<Bytes> mine;
    int seed = 0;
    for (const Shape &shape : shapes) {
        Bytes key = Pattern(SIV_KEY_SIZE, ++seed);
        Bytes associated = Pattern(shape.associated, ++seed);
        Bytes nonce = Pattern(NTS_NONCE_SIZE, ++seed);
        Bytes plain = Pattern(shape.plain, ++seed);
        mine.push_back(Seal(key, {associated, nonce}, plain));
        input << ToHex(key) << " " << ToHex(associated) << " " << ToHex(nonce) << " "
              << (plain.empty() ? "-" : ToHex(plain)) << "\n";
    }
    input.close();
    ASSERT_TRUE(StartHostProgram("/usr/bin/python3 " HORAVEX_TEST_SUPPORT_DIR "/sivpeer.py " +
                                 folder + "/in " + folder + "/out"));
    std::string out = WindowsPath(folder + "/out");
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesA(out.c_str()) != INVALID_FILE_ATTRIBUTES; },
                          5000));
    std::ifstream answers(out);
    std::string line;
    for (size_t i = 0; i < mine.size(); i++) {
        ASSERT_TRUE(std::getline(answers, line));
        EXPECT_EQ(ToHex(mine[i]), line) << "associated " << shapes[i].associated << ", plain "
                                        << shapes[i].plain;
    }
    answers.close();
    DeleteFileA(WindowsPath(folder + "/in").c_str());
    DeleteFileA(out.c_str());
    RemoveDirectoryA(WindowsPath(folder).c_str());
}

namespace {

/* NTS-KE records: the critical bit, the type, the body. */
struct Records {
    Bytes bytes;
    Records &Add(int type, const Bytes &body, bool critical = false)
    {
        int head = type | (critical ? 0x8000 : 0);
        bytes.insert(bytes.end(), {(BYTE)(head >> 8), (BYTE)head, (BYTE)(body.size() >> 8),
                                   (BYTE)body.size()});
        bytes.insert(bytes.end(), body.begin(), body.end());
        return *this;
    }
    Records &Word(int type, int value, bool critical = false)
    {
        return Add(type, {(BYTE)(value >> 8), (BYTE)value}, critical);
    }
    Records &Text(int type, const std::string &text) { return Add(type, Bytes(text.begin(), text.end())); }
    Records &Cookies(int count, size_t length = 100)
    {
        for (int i = 0; i < count; i++)
            Add(5, Pattern(length, i));
        return *this;
    }
    Records &End() { return Add(0, {}, true); }
};

Records Usual()
{
    return Records().Word(1, 0, true).Word(4, 15);
}

} // namespace

/* Every rule of RFC 8915 section 4 for the server's answer. */
TEST(NtsKeAnswer, IsReadByEveryRuleOfTheRecords)
{
    struct Case {
        const char *what;
        Bytes answer;
        NtsKeParse parse;
        int cookies;
        const char *reason;
    } cases[] = {
        {"the usual answer", Usual().Cookies(3).End().bytes, NTS_KE_PARSED, 3, ""},
        {"an unknown record that is not critical is skipped",
         Usual().Add(0x4000, Pattern(9, 1)).Cookies(1).End().bytes, NTS_KE_PARSED, 1, ""},
        {"records after the End of Message are not read",
         Usual().Cookies(1).End().Add(0x4001, {}, true).bytes, NTS_KE_PARSED, 1, ""},
        {"eleven cookies: eight are kept", Usual().Cookies(11).End().bytes, NTS_KE_PARSED, 8, ""},
        {"a cookie longer than 256 bytes is skipped",
         Usual().Cookies(1, 257).Cookies(2, 256).End().bytes, NTS_KE_PARSED, 2, ""},
        {"an unknown critical record", Usual().Add(0x4001, {}, true).Cookies(1).End().bytes,
         NTS_KE_REFUSED, 0, "unknown critical record 16385"},
        {"an Error record", Records().Word(2, 1, true).End().bytes, NTS_KE_REFUSED, 0,
         "error 1: bad request"},
        {"a Warning record", Usual().Word(3, 7, true).Cookies(1).End().bytes, NTS_KE_REFUSED, 0,
         "warning 7"},
        {"another AEAD only", Records().Word(1, 0, true).Word(4, 1).Cookies(1).End().bytes,
         NTS_KE_REFUSED, 0, "no AEAD 15"},
        {"no AEAD record", Records().Word(1, 0, true).Cookies(1).End().bytes, NTS_KE_REFUSED, 0,
         "no AEAD 15"},
        {"another next protocol", Records().Word(1, 1, true).Word(4, 15).Cookies(1).End().bytes,
         NTS_KE_REFUSED, 0, "NTPv4 not offered"},
        {"a next protocol not marked critical",
         Records().Word(1, 0).Word(4, 15).Cookies(1).End().bytes, NTS_KE_REFUSED, 0,
         "NTPv4 not offered"},
        {"no cookies", Usual().End().bytes, NTS_KE_REFUSED, 0, "no cookies"},
        {"a server name with a blank", Usual().Text(6, "ntp .example").Cookies(1).End().bytes,
         NTS_KE_REFUSED, 0, "an unusable server record"},
        {"port 0", Usual().Word(7, 0).Cookies(1).End().bytes, NTS_KE_REFUSED, 0,
         "an unusable port record"},
        {"no End of Message yet", Usual().Cookies(2).bytes, NTS_KE_PARTIAL, 2, ""},
        {"a record longer than what came", Usual().Cookies(1).End().bytes, NTS_KE_PARTIAL, 1, ""},
        {"an answer longer than 16 KB", Usual().Cookies(70, 240).End().bytes, NTS_KE_REFUSED, 0,
         "an answer too long"},
    };
    /* Its last record's length runs past what arrived. */
    cases[16].answer.resize(cases[16].answer.size() - 1);
    cases[16].answer[cases[16].answer.size() - 3] = 1;
    for (const Case &c : cases) {
        NtsKeResult result = {};
        EXPECT_EQ(ParseNtsKeAnswer(c.answer.data(), c.answer.size(), &result), c.parse) << c.what;
        if (c.parse == NTS_KE_REFUSED) {
            EXPECT_STREQ(result.reason, c.reason) << c.what;
            EXPECT_EQ(result.failure, NTS_KE_NO_NTS) << c.what;
        } else {
            EXPECT_EQ(result.cookieCount, c.cookies) << c.what;
        }
    }

    Bytes named = Usual().Text(6, "ntp1.example.net").Word(7, 1234).Cookies(1, 4).End().bytes;
    NtsKeResult result = {};
    ASSERT_EQ(ParseNtsKeAnswer(named.data(), named.size(), &result), NTS_KE_PARSED);
    EXPECT_STREQ(result.server, "ntp1.example.net");
    EXPECT_EQ(result.port, 1234);
    EXPECT_EQ(result.cookies[0].length, 4);
    EXPECT_EQ(Bytes(result.cookies[0].data, result.cookies[0].data + 4), Pattern(4, 0));
}

namespace {

const BYTE kC2s[SIV_KEY_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const BYTE kS2c[SIV_KEY_SIZE] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                                 0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff,
                                 0xe0, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
                                 0xe8, 0xe9, 0xea, 0xeb, 0xec, 0xed, 0xee, 0xef};

void AddField(Bytes *packet, int type, const Bytes &body)
{
    size_t length = 4 + ((body.size() + 3) & ~(size_t)3);
    if (length < 16)
        length = 16;
    size_t at = packet->size();
    packet->resize(at + length, 0);
    (*packet)[at] = (BYTE)(type >> 8);
    (*packet)[at + 1] = (BYTE)type;
    (*packet)[at + 2] = (BYTE)(length >> 8);
    (*packet)[at + 3] = (BYTE)length;
    memcpy(packet->data() + at + 4, body.data(), body.size());
}

Bytes CookieFields(int count)
{
    Bytes fields;
    for (int i = 0; i < count; i++)
        AddField(&fields, 0x0204, Pattern(100, i));
    return fields;
}

/* The authenticator over everything so far, sealing plain with key. */
void AddAuthenticator(Bytes *packet, const BYTE *key, const Bytes &plain)
{
    Bytes nonce = Pattern(NTS_NONCE_SIZE, 9);
    Bytes sealed = Seal(Bytes(key, key + SIV_KEY_SIZE), {*packet, nonce}, plain);
    Bytes body = {0, NTS_NONCE_SIZE, (BYTE)(sealed.size() >> 8), (BYTE)sealed.size()};
    body.insert(body.end(), nonce.begin(), nonce.end());
    body.insert(body.end(), sealed.begin(), sealed.end());
    AddField(packet, 0x0404, body);
}

/* A server's reply to the request with uid: header, UID, authenticator. */
Bytes Reply(const NtsRequestState &request, int cookies = 2, const BYTE *key = kS2c)
{
    Bytes packet(SNTP_PACKET_SIZE, 0);
    packet[0] = 0x24;
    packet[1] = 2;
    AddField(&packet, 0x0104, Bytes(request.uid, request.uid + NTS_UID_SIZE));
    AddAuthenticator(&packet, key, CookieFields(cookies));
    return packet;
}

Bytes Nak(const NtsRequestState &request)
{
    Bytes packet(SNTP_PACKET_SIZE, 0);
    packet[0] = 0x24;
    memcpy(packet.data() + 12, "NTSN", 4);
    AddField(&packet, 0x0104, Bytes(request.uid, request.uid + NTS_UID_SIZE));
    return packet;
}

} // namespace

/* Only a reply with this request's identifier and the server's seal
   counts; a NAK is ours by its identifier alone. */
TEST(NtsReply, CountsOnlyWithOurIdentifierAndTheServersSeal)
{
    NtsRequestState request = {};
    memcpy(request.uid, Pattern(NTS_UID_SIZE, 3).data(), NTS_UID_SIZE);
    NtsRequestState other = request;
    other.uid[31] ^= 1;
    Bytes changedHeader = Reply(request);
    changedHeader[47] ^= 1;
    Bytes fieldAfter = Reply(request);
    AddField(&fieldAfter, 0x0204, Pattern(100, 1));
    Bytes overlong = Reply(request);
    overlong[overlong.size() - 4 - 16 - 16 - 1] = 0xf0; /* the ciphertext's length */
    Bytes authOnly(SNTP_PACKET_SIZE, 0);
    AddAuthenticator(&authOnly, kS2c, CookieFields(1));
    struct Case {
        const char *what;
        Bytes reply;
        NtsCheck check;
        int cookies;
    } cases[] = {
        {"sealed by the server", Reply(request), NTS_AUTHENTIC, 2},
        {"nine cookies inside: eight are taken", Reply(request, 9), NTS_AUTHENTIC, 8},
        {"another request's identifier", Reply(other), NTS_OTHERS, 0},
        {"no identifier", authOnly, NTS_OTHERS, 0},
        {"sealed with the client's key", Reply(request, 2, kC2s), NTS_NOT_AUTHENTIC, 0},
        {"its header changed on the way", changedHeader, NTS_NOT_AUTHENTIC, 0},
        {"a field after the authenticator", fieldAfter, NTS_NOT_AUTHENTIC, 0},
        {"a ciphertext longer than its field", overlong, NTS_NOT_AUTHENTIC, 0},
        {"a NAK", Nak(request), NTS_NAK, 0},
        {"another request's NAK", Nak(other), NTS_OTHERS, 0},
    };
    for (const Case &c : cases) {
        NtsCookie cookies[NTS_MOST_COOKIES];
        int count = -1;
        EXPECT_EQ(CheckNtsReply(c.reply.data(), (int)c.reply.size(), &request, kS2c, cookies,
                                &count),
                  c.check)
            << c.what;
        EXPECT_EQ(count, c.cookies) << c.what;
        if (c.check == NTS_AUTHENTIC) {
            EXPECT_EQ(Bytes(cookies[1].data, cookies[1].data + cookies[1].length), Pattern(100, 1));
        }
    }
}

/* A request asks for the cookies back to eight, but never for more than
   fit one unfragmented packet (chrony's answers show the rest). */
TEST(NtsReply, ARequestAsksForCookiesThatFitOnePacket)
{
    struct Ask {
        int left;
        int length;
        int asked;
    } asks[] = {{0, 100, 8}, {7, 100, 1}, {8, 100, 1}, {3, 100, 5}, {0, 256, 3}};
    for (const Ask &ask : asks)
        EXPECT_EQ(NtsCookiesToAsk(ask.left, ask.length), ask.asked) << ask.left << " " << ask.length;
}

namespace {

class NtsRequest : public ::testing::Test {
protected:
    StateWindow main;
    RequestOwner owner;

    RequestOutcome Fetch(const TestNtsServer &server, const std::string &trust = "")
    {
        main.state.protocol = PROTOCOL_NTS;
        main.state.ntsTrust = ReplaceString(
            main.state.ntsTrust, trust.empty() ? server.TrustFile().c_str() : trust.c_str());
        /* No two seconds' wait for the next packet. */
        if (ServerManners *manners = MannersOfNtpServer(server.Address()))
            manners->lastSendTick -= 3000;
        return owner.Fetch(server.Address(), 8000);
    }
};

} // namespace

/* Ten fetches of chrony, each reading authenticated, on the keys of one
   key exchange: each reply brings the cookie it used back. */
TEST_F(NtsRequest, TenAuthenticatedReadingsOfChronyTakeOneKeyExchange)
{
    TestNtsServer server;
    ASSERT_TRUE(server.Ready());
    for (int i = 0; i < 10; i++) {
        RequestOutcome read = Fetch(server);
        ASSERT_EQ(read.kind, OUTCOME_READING) << i << ": " << read.report;
        EXPECT_TRUE(read.sample.authenticated);
        EXPECT_TRUE(read.sample.precise);
        EXPECT_LT(read.sample.offset < 0 ? -read.sample.offset : read.sample.offset, 10000 * 50)
            << "chrony serves this machine's clock";
    }
    EXPECT_EQ(server.KeyExchanges(), 1);
}

/* chrony's own NTS client authenticates with the test server, as the
   program does: the server is the real thing. */
TEST_F(NtsRequest, ChronysOwnClientAuthenticatesWithTheTestServer)
{
    TestNtsServer server;
    ASSERT_TRUE(server.Ready());
    std::string folder = "/tmp/horavex-chronyc-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount());
    CreateDirectoryA(WindowsPath(folder).c_str(), NULL);
    ASSERT_TRUE(StartHostProgram("/bin/sh " HORAVEX_TEST_SUPPORT_DIR "/chronyclient.sh " + folder +
                                 " " + server.Address() + " " + server.HostTrustFile()));
    std::string answer = WindowsPath(folder + "/authdata");
    ASSERT_TRUE(WaitUntil([&] {
        return GetFileAttributesA(answer.c_str()) != INVALID_FILE_ATTRIBUTES;
    }, 9000));
    std::string line;
    std::getline(std::ifstream(answer), line);
    std::istringstream fields(line);
    std::vector<std::string> columns{std::istream_iterator<std::string>(fields), {}};
    ASSERT_EQ(columns.size(), 10u) << line;
    EXPECT_EQ(columns[1], "NTS");
    EXPECT_EQ(columns[3], "15") << "AEAD_AES_SIV_CMAC_256";
    EXPECT_EQ(columns[8], "8") << "cookies";
    EXPECT_EQ(server.KeyExchanges(), 1);
    StartHostProgram("/bin/rm -rf " + folder);
}

/* chrony started again with new keys answers the old cookies with a NAK:
   the same fetch makes a new key exchange and reads. */
TEST_F(NtsRequest, ANakMakesANewKeyExchangeInTheSameFetch)
{
    TestNtsServer server;
    ASSERT_TRUE(server.Ready());
    RequestOutcome first = Fetch(server);
    ASSERT_EQ(first.kind, OUTCOME_READING) << first.report;
    ASSERT_TRUE(server.Restart());
    RequestOutcome read = Fetch(server);
    ASSERT_EQ(read.kind, OUTCOME_READING) << read.report;
    EXPECT_TRUE(read.sample.authenticated);
    EXPECT_EQ(server.KeyExchanges(), 2);
}

/* Each server that gives no keys, or a certificate that the time it
   gives proves out of date, says why, as a failed exchange does. */
TEST_F(NtsRequest, EachServerWithoutKeysForUsSaysWhy)
{
    struct Case {
        const char *kind;
        const char *options;
        const char *before;
        const char *after;
    } cases[] = {
        {"chrony", "untrusted", "Certificate not trusted: ", " ("},
        {"chrony", "wrongname", "Certificate not for: ", ""},
        {"chrony", "expired", "Certificate not valid at the server's time: ", " (expired)"},
        {"tls12", "", "No secure connection to: ", " ("},
        {"noalpn", "", "No NTS at: ", " (no ntske/1)"},
    };
    std::vector<std::unique_ptr<TestNtsServer>> servers;
    for (const Case &c : cases)
        servers.push_back(std::make_unique<TestNtsServer>(c.kind, c.options));
    for (size_t i = 0; i < servers.size(); i++) {
        ASSERT_TRUE(servers[i]->Ready()) << cases[i].kind << " " << cases[i].options;
        RequestOutcome failed = Fetch(*servers[i]);
        std::string expected = cases[i].before + servers[i]->Address() + cases[i].after;
        EXPECT_EQ(failed.kind, OUTCOME_FAILED) << expected;
        EXPECT_EQ(failed.failure, FAILURE_EXCHANGE) << expected;
        EXPECT_EQ(std::string(failed.report).substr(0, expected.size()), expected)
            << failed.report;
    }
}

/* The roots are parsed once, but a trust file written since is read
   again: a CA an administrator adds counts at the next fetch. */
TEST_F(NtsRequest, ATrustFileIsReadAgainOnceItChanged)
{
    TestNtsServer server;
    ASSERT_TRUE(server.Ready());
    std::string trust = server.TrustFile() + ".later";
    std::ofstream(trust).close();
    RequestOutcome refused = Fetch(server, trust);
    EXPECT_EQ(std::string(refused.report).substr(0, 24), "Certificate not trusted:");
    std::ofstream(trust) << std::ifstream(server.TrustFile()).rdbuf();
    RequestOutcome read = Fetch(server, trust);
    EXPECT_EQ(read.kind, OUTCOME_READING) << read.report;
}

/* Several servers under NTS: each has its own key exchange, and the
   reading of those that agree is authenticated. */
TEST_F(NtsRequest, SeveralServersEachHaveTheirOwnKeys)
{
    TestNtsServer servers[3];
    main.state.sources = 3;
    for (int i = 1; i < 3; i++)
        StringListAdd(&main.state.hosts, servers[i].Address().c_str());
    /* One file that holds each server's CA. */
    std::string trust = servers[0].TrustFile() + ".all";
    std::ofstream all(trust);
    for (const TestNtsServer &server : servers) {
        ASSERT_TRUE(server.Ready());
        all << std::ifstream(server.TrustFile()).rdbuf();
    }
    all.close();
    RequestOutcome read = Fetch(servers[0], trust);
    ASSERT_EQ(read.kind, OUTCOME_READING) << read.report;
    EXPECT_EQ(read.sample.sourcesAgreeing, 3);
    EXPECT_TRUE(read.sample.authenticated);
    for (const TestNtsServer &server : servers)
        EXPECT_EQ(server.KeyExchanges(), 1);
}
