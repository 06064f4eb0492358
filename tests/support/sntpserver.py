#!/usr/bin/env python3
"""A scripted SNTP server for the tests, run natively beside Wine.

Wine binds a UDP socket of its own to every address of an interface and
answers from 127.0.0.1, which a client's connected socket rightly drops: the
server runs outside Wine.

usage: sntpserver.py DIR [@ADDRESS] ANSWER...
Binds UDP port 123 of ADDRESS, or of the first free 127.a.b.c, writes it to DIR/address,
appends "<ms> <packet in hex>" to DIR/received for each request, and
answers the requests in turn with the ANSWERs (the last one repeats):
comma-separated key=value of offset (ms), delay (ms), at (seconds since
1970), length, leap, version, mode, stratum, kiss, rootdisp (ms), txearly
(ms, the transmit time before the receive time), and the flags zerotx,
zerorx, wrongorig, dup, silent.  A datagram "STOP" ends it.
"""
import os
import socket
import struct
import sys
import time

SECONDS_1900_TO_1970 = 2208988800


def ntp_time(seconds):
    whole = int(seconds // 1)
    fraction = int((seconds - whole) * 2**32) & 0xFFFFFFFF
    return ((whole + SECONDS_1900_TO_1970) & 0xFFFFFFFF) << 32 | fraction


def parse(text):
    answer = {"offset": 0, "delay": 0, "at": 0, "length": 48, "leap": 0, "version": 4,
              "mode": 4, "stratum": 2, "kiss": "", "rootdisp": 0, "txearly": 0}
    for item in filter(None, text.split(",")):
        key, _, value = item.partition("=")
        answer[key] = value if key == "kiss" else int(value or 1)
    return answer


def reply(request, answer, now):
    originate = struct.unpack("!Q", request[40:48])[0]
    if answer.get("wrongorig"):
        originate += 1
    transmit = 0 if answer.get("zerotx") else ntp_time(now - answer["txearly"] / 1000)
    receive = 0 if answer.get("zerorx") else ntp_time(now)
    kiss = answer["kiss"]
    packet = struct.pack("!BBbbII4sQQQQ",
                         answer["leap"] << 6 | answer["version"] << 3 | answer["mode"],
                         0 if kiss else answer["stratum"], 4, -20, 0,
                         answer["rootdisp"] * 65536 // 1000,
                         (kiss or "LOCL").encode()[:4], ntp_time(now - 1), originate,
                         receive, transmit)
    return packet[:answer["length"]].ljust(answer["length"], b"\0")


def bind_given_address(address):
    sock = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET,
                         socket.SOCK_DGRAM)
    sock.bind((address, 123))
    return sock, address


def bind_own_address():
    start = os.getpid() * 7 % 20000
    for i in range(60000):
        n = (start + i) % 60000
        address = "127.%d.%d.%d" % (100 + n // 62500, (n // 250) % 250 + 1, 2 + n % 250)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            sock.bind((address, 123))
            return sock, address
        except OSError:
            sock.close()
    sys.exit("no free address")


def main():
    folder, texts = sys.argv[1], sys.argv[2:]
    if texts and texts[0].startswith("@"):
        sock, address = bind_given_address(texts.pop(0)[1:])
    else:
        sock, address = bind_own_address()
    answers = [parse(text) for text in texts]
    with open(os.path.join(folder, "address.part"), "w") as out:
        out.write(address)
    os.rename(os.path.join(folder, "address.part"), os.path.join(folder, "address"))
    sock.settimeout(30)
    count = 0
    while True:
        try:
            request, client = sock.recvfrom(512)
        except socket.timeout:
            return
        if request == b"STOP":
            return
        arrived = time.monotonic()
        with open(os.path.join(folder, "received"), "a") as log:
            log.write("%d %s\n" % (arrived * 1000, request.hex()))
        answer = answers[min(count, len(answers) - 1)]
        count += 1
        if len(request) < 48 or answer.get("silent"):
            continue
        time.sleep(answer["delay"] / 2000)
        now = answer["at"] or time.time() + answer["offset"] / 1000
        packet = reply(request, answer, now)
        time.sleep(answer["delay"] / 2000)
        sock.sendto(packet, client)
        if answer.get("dup"):
            sock.sendto(reply(request, answer, now + 1), client)


if __name__ == "__main__":
    main()
