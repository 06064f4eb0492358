#ifndef HORAVEX_NTSNTP_H
#define HORAVEX_NTSNTP_H

#include <winsock2.h>
#include <windows.h>

#include "timeclient/aessiv.h"
#include "timeclient/sntp.h"

/* NTPv4 with NTS (RFC 8915 section 5): extension fields after the SNTP
   header that carry a unique identifier, a cookie, placeholders for the
   cookies to bring back, and an authenticator that seals the packet. */
#define NTS_UID_SIZE 32
#define NTS_NONCE_SIZE 16
#define NTS_MOST_COOKIES 8
#define NTS_LONGEST_COOKIE 256
/* A request asks for no more cookies than fit this many bytes, so that
   it is never fragmented. */
#define NTS_COOKIES_IN_A_PACKET (8 * 108)
#define NTS_LARGEST_PACKET 2048

struct NtsCookie {
    int length;
    BYTE data[NTS_LONGEST_COOKIE];
};

/* The keys of a key exchange (RFC 8915 section 5.1): client to server,
   server to client. */
struct NtsKeys {
    BYTE c2s[SIV_KEY_SIZE];
    BYTE s2c[SIV_KEY_SIZE];
};

/* One request's own: what its reply must carry back. */
struct NtsRequestState {
    BYTE uid[NTS_UID_SIZE];
    /* A reply of ours that failed its authentication came: a forgery, or
       one changed on the way. */
    BOOL sawForgery;
};

/* The request: LI 0, VN 4, mode 3 and the transmit time originCookie (as
   SNTP's), then the Unique Identifier, the cookie, placeholders so that
   wanted cookies come back, and the authenticator sealed with c2s over all
   of it.  Its length, or 0 when it does not fit size. */
int BuildNtsRequest(BYTE *packet, size_t size, unsigned long long originCookie,
                    const NtsRequestState *request, const NtsCookie *cookie, int wanted,
                    const BYTE c2s[SIV_KEY_SIZE], const BYTE nonce[NTS_NONCE_SIZE]);

/* How many cookies to ask for with one in hand and left in the jar: back
   to NTS_MOST_COOKIES, within one unfragmented packet. */
int NtsCookiesToAsk(int left, int cookieLength);

enum NtsCheck {
    NTS_AUTHENTIC,      /* our UID, a valid authenticator: cookies filled */
    NTS_OTHERS,         /* no UID of ours: not the reply to this request */
    NTS_NAK,            /* our UID, the kiss NTSN, no valid authenticator */
    NTS_NOT_AUTHENTIC,  /* our UID, but no authenticator that proves the server sealed it */
};

/* Checks a reply's extension fields (after its header passed the origin
   check): the UID, the authenticator (the last field) with s2c over all
   before it, and takes the cookies of its encrypted fields. */
NtsCheck CheckNtsReply(const BYTE *packet, int length, const NtsRequestState *request,
                       const BYTE s2c[SIV_KEY_SIZE], NtsCookie *cookies, int *cookieCount);

#endif
