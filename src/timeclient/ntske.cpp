#include "timeclient/ntske.h"

#include <ctype.h>
#include <string.h>

#include "base/textfmt.h"
#include "timeclient/tlssession.h"

/* Record types (RFC 8915 section 7.6) and what they carry. */
#define RECORD_END 0
#define RECORD_NEXT_PROTOCOL 1
#define RECORD_ERROR 2
#define RECORD_WARNING 3
#define RECORD_AEAD 4
#define RECORD_COOKIE 5
#define RECORD_SERVER 6
#define RECORD_PORT 7
#define CRITICAL 0x8000
#define PROTOCOL_NTPV4 0
#define AEAD_AES_SIV_CMAC_256 15
#define EXPORTER_LABEL "EXPORTER-network-time-security"

static void PutWord(BYTE *at, int value)
{
    at[0] = (BYTE)(value >> 8);
    at[1] = (BYTE)value;
}

static int GetWord(const BYTE *at)
{
    return at[0] << 8 | at[1];
}

static int PutRecord(BYTE *at, int type, int value, BOOL hasValue)
{
    PutWord(at, type);
    PutWord(at + 2, hasValue ? 2 : 0);
    if (hasValue)
        PutWord(at + 4, value);
    return hasValue ? 6 : 4;
}

int BuildNtsKeRequest(BYTE *out, size_t size)
{
    if (size < 16)
        return 0;
    int length = PutRecord(out, CRITICAL | RECORD_NEXT_PROTOCOL, PROTOCOL_NTPV4, TRUE);
    length += PutRecord(out + length, CRITICAL | RECORD_AEAD, AEAD_AES_SIV_CMAC_256, TRUE);
    length += PutRecord(out + length, CRITICAL | RECORD_END, 0, FALSE);
    return length;
}

static NtsKeParse Refuse(NtsKeResult *result, const char *reason)
{
    result->failure = NTS_KE_NO_NTS;
    lstrcpynA(result->reason, reason, sizeof result->reason);
    return NTS_KE_REFUSED;
}

static const char *ErrorText(int code)
{
    switch (code) {
    case 0:
        return "unrecognized critical record";
    case 1:
        return "bad request";
    case 2:
        return "internal server error";
    default:
        return "unknown";
    }
}

/* A server name: printable, without blanks. */
static BOOL IsServerName(const BYTE *body, int length)
{
    if (length < 1 || length >= NTS_SERVER_NAME_SIZE)
        return FALSE;
    for (int i = 0; i < length; i++)
        if (!isgraph(body[i]) || body[i] >= 0x80)
            return FALSE;
    return TRUE;
}

/* What the answer must have had by its End of Message. */
static NtsKeParse Complete(BOOL protocol, BOOL aead, NtsKeResult *result)
{
    if (!protocol)
        return Refuse(result, "NTPv4 not offered");
    if (!aead)
        return Refuse(result, "no AEAD 15");
    if (result->cookieCount == 0)
        return Refuse(result, "no cookies");
    return NTS_KE_PARSED;
}

/* One record's body, by its type; false when it refuses. */
static NtsKeParse TakeRecord(int type, BOOL critical, const BYTE *body, int length, BOOL *protocol,
                             BOOL *aead, NtsKeResult *result)
{
    char reason[64];
    switch (type) {
    case RECORD_NEXT_PROTOCOL:
        if (!critical || length != 2 || GetWord(body) != PROTOCOL_NTPV4)
            return Refuse(result, "NTPv4 not offered");
        *protocol = TRUE;
        return NTS_KE_PARTIAL;
    case RECORD_AEAD:
        if (length != 2 || GetWord(body) != AEAD_AES_SIV_CMAC_256)
            return Refuse(result, "no AEAD 15");
        *aead = TRUE;
        return NTS_KE_PARTIAL;
    case RECORD_ERROR:
        FormatText(reason, sizeof reason, "error %d: %s", length == 2 ? GetWord(body) : -1,
                   ErrorText(length == 2 ? GetWord(body) : -1));
        return Refuse(result, reason);
    case RECORD_WARNING:
        /* None is defined: one this client does not know is an error. */
        FormatText(reason, sizeof reason, "warning %d", length == 2 ? GetWord(body) : -1);
        return Refuse(result, reason);
    case RECORD_COOKIE:
        if (length >= 1 && length <= NTS_LONGEST_COOKIE && result->cookieCount < NTS_MOST_COOKIES) {
            NtsCookie *cookie = &result->cookies[result->cookieCount++];
            cookie->length = length;
            memcpy(cookie->data, body, (size_t)length);
        }
        return NTS_KE_PARTIAL;
    case RECORD_SERVER:
        if (!IsServerName(body, length))
            return Refuse(result, "an unusable server record");
        memcpy(result->server, body, (size_t)length);
        result->server[length] = '\0';
        return NTS_KE_PARTIAL;
    case RECORD_PORT:
        if (length != 2 || GetWord(body) == 0)
            return Refuse(result, "an unusable port record");
        result->port = GetWord(body);
        return NTS_KE_PARTIAL;
    default:
        if (!critical)
            return NTS_KE_PARTIAL;
        FormatText(reason, sizeof reason, "unknown critical record %d", type);
        return Refuse(result, reason);
    }
}

NtsKeParse ParseNtsKeAnswer(const BYTE *data, size_t length, NtsKeResult *result)
{
    BOOL protocol = FALSE;
    BOOL aead = FALSE;
    result->cookieCount = 0;
    result->server[0] = '\0';
    result->port = 0;
    if (length > NTS_KE_LONGEST_ANSWER)
        return Refuse(result, "an answer too long");
    for (size_t at = 0; at + 4 <= length;) {
        int head = GetWord(data + at);
        int bodyLength = GetWord(data + at + 2);
        if (at + 4 + (size_t)bodyLength > length)
            break;
        int type = head & ~CRITICAL;
        if (type == RECORD_END)
            return Complete(protocol, aead, result);
        NtsKeParse taken = TakeRecord(type, (head & CRITICAL) != 0, data + at + 4, bodyLength,
                                      &protocol, &aead, result);
        if (taken == NTS_KE_REFUSED)
            return taken;
        at += 4 + (size_t)bodyLength;
    }
    return NTS_KE_PARTIAL;
}

static void FromTls(const TlsOutcome *tls, NtsKeResult *result)
{
    static const NtsKeFailure failures[] = {
        NTS_KE_DONE,       NTS_KE_NO_CONNECTION, NTS_KE_NOT_SECURE, NTS_KE_NOT_TRUSTED,
        NTS_KE_WRONG_NAME, NTS_KE_NO_NTS,        NTS_KE_NOT_SECURE, NTS_KE_STOPPED};
    result->failure = failures[tls->failure];
    result->socketError = tls->socketError;
    if (tls->failure == TLS_NO_PROTOCOL)
        lstrcpynA(result->reason, "no " NTS_KE_PROTOCOL, sizeof result->reason);
    else
        lstrcpynA(result->reason, tls->reason, sizeof result->reason);
}

/* The answer, read until its End of Message. */
static BOOL ReadAnswer(TlsSession *session, NtsKeResult *result, TlsOutcome *tls)
{
    BYTE answer[NTS_KE_LONGEST_ANSWER + 1];
    size_t length = 0;
    for (;;) {
        int read = TlsRead(session, answer + length, sizeof answer - length, tls);
        if (read < 0) {
            FromTls(tls, result);
            return FALSE;
        }
        length += (size_t)read;
        NtsKeParse parsed = ParseNtsKeAnswer(answer, length, result);
        if (parsed == NTS_KE_PARSED)
            return TRUE;
        if (parsed == NTS_KE_REFUSED)
            return FALSE;
        if (read == 0) {
            Refuse(result, "an answer cut short");
            return FALSE;
        }
    }
}

/* RFC 8915 section 5.1: the exporter's context is the protocol, the
   AEAD algorithm, and 0 for the client's key, 1 for the server's. */
static BOOL ExportKeys(TlsSession *session, NtsKeys *keys)
{
    BYTE context[5] = {0, PROTOCOL_NTPV4, 0, AEAD_AES_SIV_CMAC_256, 0};
    if (!TlsExport(session, EXPORTER_LABEL, context, sizeof context, keys->c2s, sizeof keys->c2s))
        return FALSE;
    context[4] = 1;
    return TlsExport(session, EXPORTER_LABEL, context, sizeof context, keys->s2c,
                     sizeof keys->s2c);
}

void RunNtsKeyExchange(const char *name, const SOCKADDR_STORAGE *address, int addressLength,
                       const char *trustFile, DWORD timeLimitMs, HANDLE giveUp,
                       NtsKeResult *result)
{
    memset(result, 0, sizeof *result);
    TlsOutcome tls;
    TlsSession *session = OpenTlsSession(name, address, addressLength, NTS_KE_PROTOCOL, trustFile,
                                         GetTickCount() + timeLimitMs, giveUp, &tls);
    result->notBefore = tls.notBefore;
    result->notAfter = tls.notAfter;
    if (session == NULL) {
        FromTls(&tls, result);
        return;
    }
    BYTE request[32];
    int length = BuildNtsKeRequest(request, sizeof request);
    if (!TlsWrite(session, request, (size_t)length, &tls))
        FromTls(&tls, result);
    else if (ReadAnswer(session, result, &tls) && !ExportKeys(session, &result->keys)) {
        result->failure = NTS_KE_NOT_SECURE;
        lstrcpynA(result->reason, "no keys from the session", sizeof result->reason);
    }
    CloseTlsSession(session);
    if (result->failure != NTS_KE_DONE)
        SecureZeroMemory(&result->keys, sizeof result->keys);
}
