#ifndef HORAVEX_AESSIV_H
#define HORAVEX_AESSIV_H

#include <windows.h>
#include <stddef.h>

/* AEAD_AES_SIV_CMAC_256 (RFC 5297): the AEAD that NTS uses (AEAD
   algorithm 15), on Mbed TLS's AES and CMAC, which have no SIV of their
   own.  The key is two AES-128 keys, the first for S2V, the second for
   CTR; the output is the synthetic IV (the tag) and then the ciphertext. */
#define SIV_KEY_SIZE 32
#define SIV_TAG_SIZE 16
#define SIV_MOST_PARTS 4

/* One string of the associated data (a nonce is one more, the last). */
struct SivPart {
    const BYTE *data;
    size_t length;
};

/* Seals plain (length bytes) under the parts into sealed (length + 16
   bytes); false when the cipher could not run, or for too many parts. */
BOOL SivSeal(const BYTE key[SIV_KEY_SIZE], const SivPart *parts, int partCount,
             const BYTE *plain, size_t length, BYTE *sealed);

/* Opens sealed (length bytes, at least the tag) into plain (length - 16
   bytes): true only when the tag proves it was sealed under these parts
   with this key; plain is then wiped on failure. */
BOOL SivOpen(const BYTE key[SIV_KEY_SIZE], const SivPart *parts, int partCount,
             const BYTE *sealed, size_t length, BYTE *plain);

#endif
