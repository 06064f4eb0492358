#include "timeclient/tlssession.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <wincrypt.h>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#include <psa/crypto.h>

#include "base/textfmt.h"
#include "timeclient/resolve.h"

/* A wait on the socket looks at the deadline and giveUp this often. */
#define WAIT_SLICE_MS 100
/* The most a trust file may hold. */
#define LONGEST_TRUST_FILE (1024 * 1024)
#define NAME_SIZE 256
/* The roots parsed are used again for this long. */
#define ROOTS_KEPT_MS (60 * 60 * 1000)

struct TlsSession {
    SOCKET sock;
    DWORD deadline;
    HANDLE giveUp;
    mbedtls_ssl_context ssl;
    mbedtls_ssl_config conf;
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context random;
    /* Kept alive for the session: Mbed TLS keeps the pointers. */
    char protocol[32];
    const char *protocols[2];
    BOOL haveDates;
    LONGLONG notBefore;
    LONGLONG notAfter;
};

static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
static CRITICAL_SECTION oneSession;
static BOOL psaReady;

static BOOL CALLBACK StartTls(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&oneSession);
    return TRUE;
}

static void Fail(TlsOutcome *outcome, TlsFailure failure, const char *reason)
{
    outcome->failure = failure;
    lstrcpynA(outcome->reason, reason, sizeof outcome->reason);
}

/* Until the socket can be read (or written), the deadline, or giveUp. */
static TlsFailure WaitForSocket(TlsSession *session, BOOL writing)
{
    for (;;) {
        LONG left = (LONG)(session->deadline - GetTickCount());
        if (left <= 0)
            return TLS_TIMED_OUT;
        if (session->giveUp != NULL && WaitForSingleObject(session->giveUp, 0) == WAIT_OBJECT_0)
            return TLS_STOPPED;
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(session->sock, &ready);
        FD_SET(session->sock, &failed);
        timeval slice = {0, (left < WAIT_SLICE_MS ? left : WAIT_SLICE_MS) * 1000};
        int count = select(0, writing ? NULL : &ready, writing ? &ready : NULL, &failed, &slice);
        if (count != 0)
            return TLS_OK;
    }
}

static int SendBytes(void *context, const unsigned char *data, size_t length)
{
    TlsSession *session = (TlsSession *)context;
    int sent = send(session->sock, (const char *)data, length > INT_MAX ? INT_MAX : (int)length, 0);
    if (sent >= 0)
        return sent;
    return WSAGetLastError() == WSAEWOULDBLOCK ? MBEDTLS_ERR_SSL_WANT_WRITE
                                               : MBEDTLS_ERR_NET_SEND_FAILED;
}

static int ReceiveBytes(void *context, unsigned char *data, size_t size)
{
    TlsSession *session = (TlsSession *)context;
    int received = recv(session->sock, (char *)data, size > INT_MAX ? INT_MAX : (int)size, 0);
    if (received >= 0)
        return received;
    return WSAGetLastError() == WSAEWOULDBLOCK ? MBEDTLS_ERR_SSL_WANT_READ
                                               : MBEDTLS_ERR_NET_RECV_FAILED;
}

static LONGLONG TimeToTicks(const mbedtls_x509_time *time)
{
    SYSTEMTIME fields;
    memset(&fields, 0, sizeof fields);
    fields.wYear = (WORD)time->year;
    fields.wMonth = (WORD)time->mon;
    fields.wDay = (WORD)time->day;
    fields.wHour = (WORD)time->hour;
    fields.wMinute = (WORD)time->min;
    fields.wSecond = (WORD)time->sec;
    FILETIME ticks;
    if (!SystemTimeToFileTime(&fields, &ticks))
        return 0;
    return (LONGLONG)((ULONGLONG)ticks.dwHighDateTime << 32 | ticks.dwLowDateTime);
}

/* Each certificate of the chain as it is verified: its validity narrows
   the chain's. */
static int OnChainCertificate(void *context, mbedtls_x509_crt *certificate, int, uint32_t *)
{
    TlsSession *session = (TlsSession *)context;
    LONGLONG from = TimeToTicks(&certificate->valid_from);
    LONGLONG to = TimeToTicks(&certificate->valid_to);
    if (!session->haveDates || from > session->notBefore)
        session->notBefore = from;
    if (!session->haveDates || to < session->notAfter)
        session->notAfter = to;
    session->haveDates = TRUE;
    return 0;
}

/* The roots every session trusts, parsed once: the machine's store takes
   a tenth of a second and more.  Parsed again after an hour, or for
   another trust file, or one written since.  Sessions run one at a time,
   so the one that parses them is the only one to use them. */
struct TrustedRoots {
    mbedtls_x509_crt chain;
    DWORD parsedTick;
    char trustFile[MAX_PATH];
    FILETIME trustWritten;
};

static TrustedRoots *trusted;

static void AddSystemRoots(mbedtls_x509_crt *roots)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    if (store == NULL)
        return;
    PCCERT_CONTEXT certificate = NULL;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != NULL)
        mbedtls_x509_crt_parse_der(roots, certificate->pbCertEncoded, certificate->cbCertEncoded);
    CertCloseStore(store, 0);
}

/* The PEM file's roots; a file that cannot be read adds none. */
static void AddTrustFile(mbedtls_x509_crt *roots, const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER size;
    BYTE *text = NULL;
    DWORD read = 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= LONGEST_TRUST_FILE)
        text = (BYTE *)malloc((size_t)size.QuadPart + 1);
    if (text != NULL && ReadFile(file, text, (DWORD)size.QuadPart, &read, NULL)
        && read == (DWORD)size.QuadPart) {
        text[read] = '\0';
        mbedtls_x509_crt_parse(roots, text, read + 1);
    }
    free(text);
    CloseHandle(file);
}

static BOOL ConnectWithin(TlsSession *session, const SOCKADDR_STORAGE *address, int length,
                          TlsOutcome *outcome)
{
    u_long nonBlocking = 1;
    /* The request follows the handshake's last flight at once: waiting for
       its acknowledgement would cost a delayed ACK, 40 ms and more. */
    BOOL noDelay = TRUE;
    session->sock = socket(address->ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (session->sock == INVALID_SOCKET || ioctlsocket(session->sock, FIONBIO, &nonBlocking) != 0
        || setsockopt(session->sock, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay,
                      sizeof noDelay)
               != 0) {
        outcome->socketError = WSAGetLastError();
        Fail(outcome, TLS_NO_CONNECTION, "could not get socket");
        return FALSE;
    }
    if (connect(session->sock, (const struct sockaddr *)address, length) == 0)
        return TRUE;
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        outcome->socketError = WSAGetLastError();
        Fail(outcome, TLS_NO_CONNECTION, "could not connect");
        return FALSE;
    }
    TlsFailure waited = WaitForSocket(session, TRUE);
    int error = 0;
    int errorSize = sizeof error;
    if (waited == TLS_OK
        && (getsockopt(session->sock, SOL_SOCKET, SO_ERROR, (char *)&error, &errorSize) != 0
            || error != 0)) {
        outcome->socketError = error != 0 ? error : WSAGetLastError();
        Fail(outcome, TLS_NO_CONNECTION, "could not connect");
        return FALSE;
    }
    if (waited != TLS_OK) {
        outcome->socketError = WSAETIMEDOUT;
        Fail(outcome, waited, waited == TLS_STOPPED ? "stopped" : "could not connect in time");
        return FALSE;
    }
    return TRUE;
}

/* What went wrong in the handshake, in a person's words. */
static void DescribeHandshake(TlsSession *session, int error, TlsOutcome *outcome)
{
    char text[sizeof outcome->reason];
    if (error == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) {
        uint32_t flags = mbedtls_ssl_get_verify_result(&session->ssl);
        if (flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED)
            Fail(outcome, TLS_NOT_TRUSTED, "not signed by a trusted root");
        else if (flags & MBEDTLS_X509_BADCERT_CN_MISMATCH)
            Fail(outcome, TLS_WRONG_NAME, "not for this name");
        else {
            FormatText(text, sizeof text, "its chain failed the checks (0x%lx)",
                       (unsigned long)flags);
            Fail(outcome, TLS_NOT_TRUSTED, text);
        }
        return;
    }
    switch (error) {
    case MBEDTLS_ERR_SSL_BAD_PROTOCOL_VERSION:
        Fail(outcome, TLS_NOT_SECURE, "the server offers no TLS 1.3");
        break;
    case MBEDTLS_ERR_SSL_CONN_EOF:
    case MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY:
    case MBEDTLS_ERR_NET_RECV_FAILED:
        Fail(outcome, TLS_NOT_SECURE, "the server closed the connection");
        break;
    case MBEDTLS_ERR_SSL_FATAL_ALERT_MESSAGE:
        Fail(outcome, TLS_NOT_SECURE, "the server refused the handshake");
        break;
    default:
        FormatText(text, sizeof text, "TLS error -0x%04x", (unsigned)-error);
        Fail(outcome, TLS_NOT_SECURE, text);
        break;
    }
}

/* One TLS call, repeated while the socket is not ready. */
static int RunTls(TlsSession *session, int (*call)(mbedtls_ssl_context *, void *), void *argument,
                  TlsOutcome *outcome)
{
    for (;;) {
        int result = call(&session->ssl, argument);
        if (result == MBEDTLS_ERR_SSL_RECEIVED_NEW_SESSION_TICKET)
            continue;
        if (result != MBEDTLS_ERR_SSL_WANT_READ && result != MBEDTLS_ERR_SSL_WANT_WRITE)
            return result;
        TlsFailure waited = WaitForSocket(session, result == MBEDTLS_ERR_SSL_WANT_WRITE);
        if (waited != TLS_OK) {
            Fail(outcome, waited, waited == TLS_STOPPED ? "stopped" : "no answer in time");
            return MBEDTLS_ERR_SSL_TIMEOUT;
        }
    }
}

static int Handshake(mbedtls_ssl_context *ssl, void *)
{
    return mbedtls_ssl_handshake(ssl);
}

static FILETIME LastWritten(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME never = {0, 0};
    return path[0] != '\0' && GetFileAttributesExA(path, GetFileExInfoStandard, &data)
               ? data.ftLastWriteTime
               : never;
}

static mbedtls_x509_crt *RootsFor(const char *trustFile)
{
    const char *path = trustFile != NULL ? trustFile : "";
    FILETIME written = LastWritten(path);
    if (trusted != NULL && GetTickCount() - trusted->parsedTick < ROOTS_KEPT_MS
        && strcmp(trusted->trustFile, path) == 0
        && CompareFileTime(&trusted->trustWritten, &written) == 0)
        return &trusted->chain;
    if (trusted == NULL)
        trusted = (TrustedRoots *)calloc(1, sizeof *trusted);
    else
        mbedtls_x509_crt_free(&trusted->chain);
    if (trusted == NULL)
        return NULL;
    mbedtls_x509_crt_init(&trusted->chain);
    AddSystemRoots(&trusted->chain);
    if (path[0] != '\0')
        AddTrustFile(&trusted->chain, path);
    trusted->parsedTick = GetTickCount();
    lstrcpynA(trusted->trustFile, path, sizeof trusted->trustFile);
    trusted->trustWritten = written;
    return &trusted->chain;
}

static BOOL Configure(TlsSession *session, const char *name, const char *protocol,
                      const char *trustFile, TlsOutcome *outcome)
{
    static const char personal[] = "horavex nts-ke";
    char bare[NAME_SIZE];
    UnbracketedHost(name, bare, sizeof bare);
    lstrcpynA(session->protocol, protocol, sizeof session->protocol);
    session->protocols[0] = session->protocol;
    session->protocols[1] = NULL;
    mbedtls_x509_crt *roots = RootsFor(trustFile);
    mbedtls_ssl_config *conf = &session->conf;
    BOOL configured =
        roots != NULL
        && mbedtls_ctr_drbg_seed(&session->random, mbedtls_entropy_func, &session->entropy,
                              (const unsigned char *)personal, sizeof personal - 1)
            == 0
        && mbedtls_ssl_config_defaults(conf, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                       MBEDTLS_SSL_PRESET_DEFAULT)
               == 0;
    if (configured) {
        mbedtls_ssl_conf_min_tls_version(conf, MBEDTLS_SSL_VERSION_TLS1_3);
        mbedtls_ssl_conf_max_tls_version(conf, MBEDTLS_SSL_VERSION_TLS1_3);
        mbedtls_ssl_conf_authmode(conf, MBEDTLS_SSL_VERIFY_REQUIRED);
        mbedtls_ssl_conf_ca_chain(conf, roots, NULL);
        mbedtls_ssl_conf_verify(conf, OnChainCertificate, session);
        mbedtls_ssl_conf_rng(conf, mbedtls_ctr_drbg_random, &session->random);
        configured = mbedtls_ssl_conf_alpn_protocols(conf, session->protocols) == 0
                     && mbedtls_ssl_setup(&session->ssl, conf) == 0
                     && mbedtls_ssl_set_hostname(&session->ssl, bare) == 0;
    }
    if (!configured)
        Fail(outcome, TLS_NOT_SECURE, "TLS could not be set up");
    mbedtls_ssl_set_bio(&session->ssl, session, SendBytes, ReceiveBytes, NULL);
    return configured;
}

TlsSession *OpenTlsSession(const char *name, const SOCKADDR_STORAGE *address, int addressLength,
                           const char *protocol, const char *trustFile, DWORD deadline,
                           HANDLE giveUp, TlsOutcome *outcome)
{
    memset(outcome, 0, sizeof *outcome);
    InitOnceExecuteOnce(&once, StartTls, NULL, NULL);
    TlsSession *session = (TlsSession *)calloc(1, sizeof *session);
    if (session == NULL) {
        Fail(outcome, TLS_NOT_SECURE, "no memory");
        return NULL;
    }
    EnterCriticalSection(&oneSession);
    if (!psaReady)
        psaReady = psa_crypto_init() == PSA_SUCCESS;
    session->sock = INVALID_SOCKET;
    session->deadline = deadline;
    session->giveUp = giveUp;
    mbedtls_ssl_init(&session->ssl);
    mbedtls_ssl_config_init(&session->conf);
    mbedtls_entropy_init(&session->entropy);
    mbedtls_ctr_drbg_init(&session->random);
    if (!psaReady) {
        Fail(outcome, TLS_NOT_SECURE, "its cryptography could not start");
    } else if (Configure(session, name, protocol, trustFile, outcome)
               && ConnectWithin(session, address, addressLength, outcome)) {
        int result = RunTls(session, Handshake, NULL, outcome);
        const char *agreed = result == 0 ? mbedtls_ssl_get_alpn_protocol(&session->ssl) : NULL;
        if (result != 0 && outcome->failure == TLS_OK)
            DescribeHandshake(session, result, outcome);
        /* A TLS 1.3 server without ALPN completes the handshake all the same. */
        else if (result == 0 && (agreed == NULL || strcmp(agreed, protocol) != 0))
            Fail(outcome, TLS_NO_PROTOCOL, "no agreed protocol");
    }
    outcome->notBefore = session->notBefore;
    outcome->notAfter = session->notAfter;
    if (outcome->failure == TLS_OK)
        return session;
    CloseTlsSession(session);
    return NULL;
}

/* Bytes to write, or room to read into, for RunTls. */
struct TlsChunk {
    BYTE *data;
    size_t size;
};

static int Write(mbedtls_ssl_context *ssl, void *argument)
{
    const TlsChunk *chunk = (const TlsChunk *)argument;
    return mbedtls_ssl_write(ssl, chunk->data, chunk->size);
}

BOOL TlsWrite(TlsSession *session, const BYTE *data, size_t length, TlsOutcome *outcome)
{
    while (length > 0) {
        TlsChunk chunk = {(BYTE *)data, length};
        int written = RunTls(session, Write, &chunk, outcome);
        if (written <= 0) {
            if (outcome->failure == TLS_OK)
                DescribeHandshake(session, written, outcome);
            return FALSE;
        }
        data += written;
        length -= (size_t)written;
    }
    return TRUE;
}

static int Read(mbedtls_ssl_context *ssl, void *argument)
{
    const TlsChunk *chunk = (const TlsChunk *)argument;
    return mbedtls_ssl_read(ssl, chunk->data, chunk->size);
}

int TlsRead(TlsSession *session, BYTE *data, size_t size, TlsOutcome *outcome)
{
    TlsChunk chunk = {data, size};
    int read = RunTls(session, Read, &chunk, outcome);
    if (read >= 0)
        return read;
    if (read == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || read == MBEDTLS_ERR_SSL_CONN_EOF)
        return 0;
    if (outcome->failure == TLS_OK)
        DescribeHandshake(session, read, outcome);
    return -1;
}

BOOL TlsExport(TlsSession *session, const char *label, const BYTE *context,
               size_t contextLength, BYTE *out, size_t length)
{
    return mbedtls_ssl_export_keying_material(&session->ssl, out, length, label, strlen(label),
                                              context, contextLength, 1)
           == 0;
}

void CloseTlsSession(TlsSession *session)
{
    if (session == NULL)
        return;
    if (session->sock != INVALID_SOCKET) {
        mbedtls_ssl_close_notify(&session->ssl);
        closesocket(session->sock);
    }
    mbedtls_ssl_free(&session->ssl);
    mbedtls_ssl_config_free(&session->conf);
    mbedtls_ctr_drbg_free(&session->random);
    mbedtls_entropy_free(&session->entropy);
    LeaveCriticalSection(&oneSession);
    free(session);
}
