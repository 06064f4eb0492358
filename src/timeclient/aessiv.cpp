#include "timeclient/aessiv.h"

#include <stdlib.h>
#include <string.h>

#include <mbedtls/aes.h>
#include <mbedtls/cipher.h>
#include <mbedtls/cmac.h>

#define BLOCK 16
#define HALF_KEY_BITS 128

/* Mbed TLS's CMAC refuses a null pointer, even for no bytes. */
static const BYTE nothing[1] = {0};

static BOOL Cmac(const BYTE *key, const BYTE *data, size_t length, BYTE out[BLOCK])
{
    const mbedtls_cipher_info_t *aes = mbedtls_cipher_info_from_type(MBEDTLS_CIPHER_AES_128_ECB);
    return aes != NULL
           && mbedtls_cipher_cmac(aes, key, HALF_KEY_BITS, length != 0 ? data : nothing, length,
                                  out)
                  == 0;
}

/* dbl(S): a shift left by one bit, the carry folded back as 0x87. */
static void Double(BYTE block[BLOCK])
{
    BYTE carry = (BYTE)(block[0] >> 7);
    for (int i = 0; i < BLOCK - 1; i++)
        block[i] = (BYTE)(block[i] << 1 | block[i + 1] >> 7);
    block[BLOCK - 1] = (BYTE)(block[BLOCK - 1] << 1 ^ (carry ? 0x87 : 0));
}

static void Xor(BYTE *into, const BYTE *with, size_t length)
{
    for (size_t i = 0; i < length; i++)
        into[i] ^= with[i];
}

/* S2V (RFC 5297 section 2.4) over the parts and then the plaintext:
     D = CMAC(K, <zero>); for each part D = dbl(D) xor CMAC(K, part);
     T = Sn xorend D (Sn of a block or more), else dbl(D) xor pad(Sn);
     V = CMAC(K, T). */
static BOOL S2V(const BYTE *key, const SivPart *parts, int partCount, const BYTE *plain,
                size_t length, BYTE v[BLOCK])
{
    BYTE d[BLOCK];
    BYTE mac[BLOCK];
    static const BYTE zero[BLOCK] = {0};
    if (!Cmac(key, zero, BLOCK, d))
        return FALSE;
    for (int i = 0; i < partCount; i++) {
        if (!Cmac(key, parts[i].data, parts[i].length, mac))
            return FALSE;
        Double(d);
        Xor(d, mac, BLOCK);
    }
    if (length >= BLOCK) {
        BYTE *t = (BYTE *)malloc(length);
        if (t == NULL)
            return FALSE;
        memcpy(t, plain, length);
        Xor(t + length - BLOCK, d, BLOCK);
        BOOL made = Cmac(key, t, length, v);
        SecureZeroMemory(t, length);
        free(t);
        return made;
    }
    BYTE t[BLOCK] = {0};
    memcpy(t, length != 0 ? plain : nothing, length);
    t[length] = 0x80;
    Double(d);
    Xor(t, d, BLOCK);
    return Cmac(key, t, BLOCK, v);
}

/* CTR under the second key from Q, V with bits 31 and 63 cleared. */
static BOOL Ctr(const BYTE *key, const BYTE v[BLOCK], const BYTE *in, size_t length, BYTE *out)
{
    BYTE counter[BLOCK];
    BYTE stream[BLOCK];
    size_t offset = 0;
    memcpy(counter, v, BLOCK);
    counter[8] &= 0x7F;
    counter[12] &= 0x7F;
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    BOOL done = mbedtls_aes_setkey_enc(&aes, key, HALF_KEY_BITS) == 0
                && (length == 0
                    || mbedtls_aes_crypt_ctr(&aes, length, &offset, counter, stream, in, out) == 0);
    mbedtls_aes_free(&aes);
    SecureZeroMemory(stream, sizeof stream);
    return done;
}

BOOL SivSeal(const BYTE key[SIV_KEY_SIZE], const SivPart *parts, int partCount,
             const BYTE *plain, size_t length, BYTE *sealed)
{
    if (partCount < 0 || partCount > SIV_MOST_PARTS)
        return FALSE;
    BYTE v[BLOCK];
    if (!S2V(key, parts, partCount, plain, length, v))
        return FALSE;
    memcpy(sealed, v, BLOCK);
    return Ctr(key + BLOCK, v, plain, length, sealed + BLOCK);
}

BOOL SivOpen(const BYTE key[SIV_KEY_SIZE], const SivPart *parts, int partCount,
             const BYTE *sealed, size_t length, BYTE *plain)
{
    if (partCount < 0 || partCount > SIV_MOST_PARTS || length < BLOCK)
        return FALSE;
    BYTE v[BLOCK];
    size_t plainLength = length - BLOCK;
    if (!Ctr(key + BLOCK, sealed, sealed + BLOCK, plainLength, plain)
        || !S2V(key, parts, partCount, plain, plainLength, v)) {
        SecureZeroMemory(plain, plainLength);
        return FALSE;
    }
    /* Every byte compared, whatever differs first. */
    BYTE differ = 0;
    for (int i = 0; i < BLOCK; i++)
        differ |= (BYTE)(v[i] ^ sealed[i]);
    if (differ != 0)
        SecureZeroMemory(plain, plainLength);
    return differ == 0;
}
