#ifndef HORAVEX_TLSSESSION_H
#define HORAVEX_TLSSESSION_H

#include <winsock2.h>
#include <windows.h>
#include <stddef.h>

/* A TLS 1.3 client session over TCP (Mbed TLS), for NTS-KE: the name
   given for SNI and checked in the certificate (a DNS or an IP subject
   alternative name), the chain verified against the machine's trusted
   roots (the Windows ROOT store) and a PEM file of further roots, without
   the certificates' validity dates: the caller checks those against the
   server's authenticated time.  One session at a time in a process (Mbed
   TLS's PSA core keeps global state): opening one waits for the last to
   close. */

enum TlsFailure {
    TLS_OK,
    TLS_NO_CONNECTION, /* the TCP connection failed: socketError */
    TLS_NOT_SECURE,    /* the TLS handshake failed: reason */
    TLS_NOT_TRUSTED,   /* the chain leads to no trusted root */
    TLS_WRONG_NAME,    /* the certificate is not for this name */
    TLS_NO_PROTOCOL,   /* the server agreed to no protocol of ALPN's */
    TLS_TIMED_OUT,
    TLS_STOPPED,       /* giveUp was set */
};

struct TlsOutcome {
    TlsFailure failure;
    int socketError;
    char reason[128];
    /* Of the verified chain, the latest start and the earliest end of
       validity, in ticks (base/precisetime.h). */
    LONGLONG notBefore;
    LONGLONG notAfter;
};

struct TlsSession;

/* Connects to address and makes the handshake with name (a host name,
   or an address, bare or in brackets) and the one ALPN protocol, by
   deadline (a tick) and until giveUp (or null) is set.  The session, or
   null with the outcome saying why. */
TlsSession *OpenTlsSession(const char *name, const SOCKADDR_STORAGE *address, int addressLength,
                           const char *protocol, const char *trustFile, DWORD deadline,
                           HANDLE giveUp, TlsOutcome *outcome);

BOOL TlsWrite(TlsSession *session, const BYTE *data, size_t length, TlsOutcome *outcome);

/* What the server sends next, up to size: its length; 0 at the end of
   the connection; -1 for a failure (the outcome says which). */
int TlsRead(TlsSession *session, BYTE *data, size_t size, TlsOutcome *outcome);

/* RFC 5705's keying material of the session. */
BOOL TlsExport(TlsSession *session, const char *label, const BYTE *context,
               size_t contextLength, BYTE *out, size_t length);

void CloseTlsSession(TlsSession *session);

#endif
