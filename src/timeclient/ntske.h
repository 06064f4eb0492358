#ifndef HORAVEX_NTSKE_H
#define HORAVEX_NTSKE_H

#include <winsock2.h>
#include <windows.h>
#include <stddef.h>

#include "timeclient/ntsntp.h"

/* NTS Key Establishment (RFC 8915 section 4): TLS 1.3 to TCP 4460 with
   ALPN "ntske/1", one request of records, one answer of records, and the
   keys from the TLS exporter. */
#define NTS_KE_PORT 4460
#define NTS_KE_PROTOCOL "ntske/1"
/* An answer longer than this is no NTS-KE server's. */
#define NTS_KE_LONGEST_ANSWER 16384
#define NTS_SERVER_NAME_SIZE 256

enum NtsKeFailure {
    NTS_KE_DONE,
    NTS_KE_NO_CONNECTION, /* no TCP connection: socketError */
    NTS_KE_NOT_SECURE,    /* no TLS 1.3 session: reason */
    NTS_KE_NOT_TRUSTED,   /* the certificate is not trusted: reason */
    NTS_KE_WRONG_NAME,    /* the certificate is not for this name */
    NTS_KE_NO_NTS,        /* no NTS at the server: reason */
    NTS_KE_STOPPED,
};

struct NtsKeResult {
    NtsKeFailure failure;
    int socketError;
    char reason[160];
    NtsKeys keys;
    int cookieCount;
    NtsCookie cookies[NTS_MOST_COOKIES];
    /* The NTPv4 server and port the answer named: empty and 0 for the
       key exchange's own server and port 123. */
    char server[NTS_SERVER_NAME_SIZE];
    int port;
    /* The certificate chain's validity, in ticks. */
    LONGLONG notBefore;
    LONGLONG notAfter;
};

/* The request: Next Protocol (NTPv4), AEAD Algorithm (15,
   AEAD_AES_SIV_CMAC_256), End of Message.  Its length. */
int BuildNtsKeRequest(BYTE *out, size_t size);

enum NtsKeParse {
    NTS_KE_PARSED,   /* up to End of Message, and usable */
    NTS_KE_PARTIAL,  /* more records are to come */
    NTS_KE_REFUSED,  /* an Error or Warning record, or no NTS for us: reason */
};

/* The answer's records, every length checked: the critical bit heeded,
   unknown records that are not critical skipped, the cookies kept (up to
   eight), a server or port record taken. */
NtsKeParse ParseNtsKeAnswer(const BYTE *data, size_t length, NtsKeResult *result);

/* The whole key exchange with name (as the certificate must name it) at
   address (its port included), within timeLimitMs and until giveUp (or
   null) is set, against the machine's roots and trustFile (a PEM file, or
   null). */
void RunNtsKeyExchange(const char *name, const SOCKADDR_STORAGE *address, int addressLength,
                       const char *trustFile, DWORD timeLimitMs, HANDLE giveUp,
                       NtsKeResult *result);

#endif
