#include "timeclient/ntsntp.h"

#include <string.h>

/* Extension field types (RFC 8915 section 7.5). */
#define EF_UNIQUE_IDENTIFIER 0x0104
#define EF_COOKIE 0x0204
#define EF_COOKIE_PLACEHOLDER 0x0304
#define EF_AUTHENTICATOR 0x0404
/* RFC 7822: an extension field is at least 16 bytes, in 4-byte words. */
#define SMALLEST_FIELD 16
#define FIELD_HEAD 4
#define AUTH_HEAD 4
#define STRATUM_AT 1
#define REFERENCE_ID_AT 12

static void PutWord(BYTE *at, int value)
{
    at[0] = (BYTE)(value >> 8);
    at[1] = (BYTE)value;
}

static int GetWord(const BYTE *at)
{
    return at[0] << 8 | at[1];
}

static int Padded(int length)
{
    return (length + 3) & ~3;
}

/* A field of the body's length, padded to a word and to the smallest
   field; its body is zero but what the caller writes.  The body, or null
   when it does not fit. */
static BYTE *AddField(BYTE *packet, size_t size, int *used, int type, int bodyLength)
{
    int length = FIELD_HEAD + Padded(bodyLength);
    if (length < SMALLEST_FIELD)
        length = SMALLEST_FIELD;
    if ((size_t)(*used + length) > size)
        return NULL;
    BYTE *field = packet + *used;
    memset(field, 0, (size_t)length);
    PutWord(field, type);
    PutWord(field + 2, length);
    *used += length;
    return field + FIELD_HEAD;
}

int NtsCookiesToAsk(int left, int cookieLength)
{
    int wanted = NTS_MOST_COOKIES - left;
    int fitting = NTS_COOKIES_IN_A_PACKET / (cookieLength + FIELD_HEAD);
    if (wanted > fitting)
        wanted = fitting;
    return wanted < 1 ? 1 : wanted;
}

/* Figure 3 of RFC 8915: the header, then
     Unique Identifier | NTS Cookie | Cookie Placeholder ... |
     NTS Authenticator (nonce length, ciphertext length, nonce, ciphertext),
   the ciphertext sealing nothing under the header and every field before
   it, with the nonce as the last part. */
int BuildNtsRequest(BYTE *packet, size_t size, unsigned long long originCookie,
                    const NtsRequestState *request, const NtsCookie *cookie, int wanted,
                    const BYTE c2s[SIV_KEY_SIZE], const BYTE nonce[NTS_NONCE_SIZE])
{
    if (size < SNTP_PACKET_SIZE || cookie->length < 1 || cookie->length > NTS_LONGEST_COOKIE)
        return 0;
    BuildSntpRequest(packet, originCookie);
    int used = SNTP_PACKET_SIZE;
    BYTE *body = AddField(packet, size, &used, EF_UNIQUE_IDENTIFIER, NTS_UID_SIZE);
    if (body == NULL)
        return 0;
    memcpy(body, request->uid, NTS_UID_SIZE);
    body = AddField(packet, size, &used, EF_COOKIE, cookie->length);
    if (body == NULL)
        return 0;
    memcpy(body, cookie->data, (size_t)cookie->length);
    for (int i = 1; i < wanted; i++)
        if (AddField(packet, size, &used, EF_COOKIE_PLACEHOLDER, cookie->length) == NULL)
            return 0;
    int associated = used;
    body = AddField(packet, size, &used, EF_AUTHENTICATOR,
                    AUTH_HEAD + NTS_NONCE_SIZE + SIV_TAG_SIZE);
    if (body == NULL)
        return 0;
    PutWord(body, NTS_NONCE_SIZE);
    PutWord(body + 2, SIV_TAG_SIZE);
    memcpy(body + AUTH_HEAD, nonce, NTS_NONCE_SIZE);
    SivPart parts[2] = {{packet, (size_t)associated}, {nonce, NTS_NONCE_SIZE}};
    if (!SivSeal(c2s, parts, 2, NULL, 0, body + AUTH_HEAD + NTS_NONCE_SIZE))
        return 0;
    return used;
}

/* One field at offset of a datagram of length: its type, its length and
   its body's; false for one that does not fit or is not made of words. */
static BOOL ReadField(const BYTE *packet, int length, int offset, int *type, int *fieldLength)
{
    if (offset + FIELD_HEAD > length)
        return FALSE;
    *type = GetWord(packet + offset);
    *fieldLength = GetWord(packet + offset + 2);
    return *fieldLength >= SMALLEST_FIELD && *fieldLength % 4 == 0
           && *fieldLength <= length - offset;
}

/* The cookies among the decrypted fields, as many as the jar takes. */
static BOOL TakeCookies(const BYTE *plain, int length, NtsCookie *cookies, int *cookieCount)
{
    for (int offset = 0, type = 0, fieldLength = 0; offset < length; offset += fieldLength) {
        if (!ReadField(plain, length, offset, &type, &fieldLength))
            return FALSE;
        int bodyLength = fieldLength - FIELD_HEAD;
        if (type != EF_COOKIE || bodyLength > NTS_LONGEST_COOKIE || *cookieCount >= NTS_MOST_COOKIES)
            continue;
        NtsCookie *cookie = &cookies[(*cookieCount)++];
        cookie->length = bodyLength;
        memcpy(cookie->data, plain + offset + FIELD_HEAD, (size_t)bodyLength);
    }
    return TRUE;
}

/* The authenticator at offset, the packet's last field: its ciphertext
   opened with s2c under everything before it and its nonce. */
static BOOL OpenAuthenticator(const BYTE *packet, int length, int offset, int fieldLength,
                              const BYTE s2c[SIV_KEY_SIZE], NtsCookie *cookies, int *cookieCount)
{
    const BYTE *body = packet + offset + FIELD_HEAD;
    int bodyLength = fieldLength - FIELD_HEAD;
    if (offset + fieldLength != length || bodyLength < AUTH_HEAD)
        return FALSE;
    int nonceLength = GetWord(body);
    int sealedLength = GetWord(body + 2);
    BYTE plain[NTS_LARGEST_PACKET];
    if (nonceLength < 1 || sealedLength < SIV_TAG_SIZE
        || sealedLength - SIV_TAG_SIZE > (int)sizeof plain
        || AUTH_HEAD + Padded(nonceLength) + Padded(sealedLength) > bodyLength)
        return FALSE;
    const BYTE *nonce = body + AUTH_HEAD;
    const BYTE *sealed = nonce + Padded(nonceLength);
    int plainLength = sealedLength - SIV_TAG_SIZE;
    SivPart parts[2] = {{packet, (size_t)offset}, {nonce, (size_t)nonceLength}};
    BOOL opened = SivOpen(s2c, parts, 2, sealed, (size_t)sealedLength, plain)
                  && TakeCookies(plain, plainLength, cookies, cookieCount);
    SecureZeroMemory(plain, (size_t)plainLength);
    return opened;
}

NtsCheck CheckNtsReply(const BYTE *packet, int length, const NtsRequestState *request,
                       const BYTE s2c[SIV_KEY_SIZE], NtsCookie *cookies, int *cookieCount)
{
    BOOL ours = FALSE;
    BOOL authentic = FALSE;
    *cookieCount = 0;
    for (int offset = SNTP_PACKET_SIZE, type = 0, fieldLength = 0; offset < length;
         offset += fieldLength) {
        if (!ReadField(packet, length, offset, &type, &fieldLength))
            break;
        if (type == EF_UNIQUE_IDENTIFIER) {
            if (fieldLength - FIELD_HEAD != NTS_UID_SIZE
                || memcmp(packet + offset + FIELD_HEAD, request->uid, NTS_UID_SIZE) != 0)
                return NTS_OTHERS;
            ours = TRUE;
        } else if (type == EF_AUTHENTICATOR && ours) {
            authentic = OpenAuthenticator(packet, length, offset, fieldLength, s2c, cookies,
                                          cookieCount);
        }
    }
    if (!ours)
        return NTS_OTHERS;
    if (authentic)
        return NTS_AUTHENTIC;
    *cookieCount = 0;
    /* A NAK is not sealed: it only makes the client ask for new keys. */
    if (length >= SNTP_PACKET_SIZE && packet[STRATUM_AT] == 0
        && memcmp(packet + REFERENCE_ID_AT, "NTSN", 4) == 0)
        return NTS_NAK;
    return NTS_NOT_AUTHENTIC;
}
