#!/usr/bin/env python3
"""AES-SIV-CMAC-256 as Nettle seals it (Debian's libnettle8, chrony's own
SIV), for known answers made at test time.

usage: sivpeer.py IN OUT
IN holds lines "KEY ASSOCIATED NONCE PLAIN" in hex ("-" for empty); OUT
gets one line of hex per case, the tag and then the ciphertext.
"""
import ctypes
import os
import sys

nettle = ctypes.CDLL("libnettle.so.8")
SET_KEY = nettle.nettle_siv_cmac_aes128_set_key
SEAL = nettle.nettle_siv_cmac_aes128_encrypt_message
SEAL.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t,
                 ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_char_p]
TAG = 16


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def seal(key, associated, nonce, plain):
    context = ctypes.create_string_buffer(1024)
    SET_KEY(context, key)
    out = ctypes.create_string_buffer(len(plain) + TAG)
    SEAL(context, len(nonce), nonce, len(associated), associated, len(plain) + TAG, out, plain)
    return out.raw


def main():
    source, target = sys.argv[1:3]
    lines = []
    with open(source) as cases:
        for case in cases:
            key, associated, nonce, plain = (unhex(field) for field in case.split())
            lines.append(seal(key, associated, nonce, plain).hex())
    with open(target + ".part", "w") as out:
        out.write("\n".join(lines) + "\n")
    os.rename(target + ".part", target)


if __name__ == "__main__":
    main()
