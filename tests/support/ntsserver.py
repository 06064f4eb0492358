#!/usr/bin/env python3
"""NTS servers for the tests, run natively beside Wine.

usage: ntsserver.py DIR KIND NAME [OPTION...]

Takes a free loopback address of its own (DIR/address), makes a throwaway
CA (DIR/ca.pem) and a certificate for NAME and that address with openssl,
then serves NTS-KE on ADDRESS:4460 as KIND says:

  chrony   Debian's chronyd serves NTS-KE and NTPv4 with NTS, behind a relay
           on ADDRESS that counts the key exchanges (DIR/exchanges) and may
           change the NTP replies on the way ("flip": one byte of each
           reply's transmit time, which the authenticator seals); chronyd
           itself listens on the next address.
  tls12    openssl s_server offers TLS 1.2 only.
  noalpn   openssl s_server offers TLS 1.3 without ALPN.

Options: "wrongname" (the certificate names another host), "untrusted"
(a CA that DIR/ca.pem does not hold signed it), "expired" (valid in
January 2020 only), "direct" (chrony on ADDRESS itself, no relay, until
DIR/stop or its caller's end: for tools/accuracy.sh).  DIR/ready appears once
the server answers.  A file DIR/restart has chronyd started again with
new keys (DIR/restarted then appears); DIR/stop, or 30 s without a client,
ends it all, and DIR goes.
"""
import os
import select
import shutil
import socket
import subprocess
import sys
import time

KE_PORT = 4460
NTP_PORT = 123
IDLE_SECONDS = 30


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder, address, name, options):
    def path(leaf):
        return os.path.join(folder, leaf)

    for ca in ("ca", "other"):
        run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-days", "30", "-subj", "/CN=Horavex test %s" % ca,
            "-keyout", path(ca + ".key"), "-out", path(ca + ".pem"))
    subject_name = "other.nts.test" if "wrongname" in options else name
    subject_address = "127.0.0.254" if "wrongname" in options else address
    with open(path("san.ext"), "w") as ext:
        ext.write("subjectAltName=DNS:%s,IP:%s\n" % (subject_name, subject_address))
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
        "-subj", "/CN=%s" % subject_name, "-keyout", path("server.key"), "-out", path("server.csr"))
    signer = "other" if "untrusted" in options else "ca"
    if "expired" in options:
        sign_expired(folder, signer)
        return
    run("openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path(signer + ".pem"),
        "-CAkey", path(signer + ".key"), "-CAcreateserial", "-days", "30",
        "-extfile", path("san.ext"), "-out", path("server.pem"))


def sign_expired(folder, signer):
    """A certificate valid for January 2020 only: openssl's x509 command
    cannot date one, its ca command can."""
    def path(leaf):
        return os.path.join(folder, leaf)

    open(path("index.txt"), "w").close()
    with open(path("serial"), "w") as serial:
        serial.write("1000\n")
    with open(path("ca.cnf"), "w") as conf:
        conf.write("[ca]\ndefault_ca = test\n[test]\ndatabase = %s\nnew_certs_dir = %s\n"
                   "serial = %s\ndefault_md = sha256\npolicy = any\n[any]\n"
                   "commonName = supplied\n" % (path("index.txt"), folder, path("serial")))
    run("openssl", "ca", "-batch", "-config", path("ca.cnf"), "-cert", path(signer + ".pem"),
        "-keyfile", path(signer + ".key"), "-in", path("server.csr"), "-out", path("server.pem"),
        "-startdate", "20200101000000Z", "-enddate", "20200201000000Z",
        "-extfile", path("san.ext"), "-notext")


def inner_address(address):
    """chronyd's own address beside the relay's: 127.a.b.c+1."""
    parts = address.split(".")
    parts[3] = str(int(parts[3]) + 1)
    return ".".join(parts)


def start_chrony(folder, address):
    dump = os.path.join(folder, "dump")
    shutil.rmtree(dump, ignore_errors=True)
    os.makedirs(dump)
    conf = os.path.join(folder, "chrony.conf")
    with open(conf, "w") as out:
        out.write("bindaddress %s\nbindaddress ::1\nport %d\nntsport %d\nallow 127.0.0.0/8\n"
                  "local stratum 2\ncmdport 0\nntsprocesses 0\nntsdumpdir %s\n"
                  "ntsservercert %s\nntsserverkey %s\npidfile %s\ndriftfile %s\n"
                  % (address, NTP_PORT, KE_PORT, dump, os.path.join(folder, "server.pem"),
                     os.path.join(folder, "server.key"), os.path.join(folder, "chronyd.pid"),
                     os.path.join(folder, "drift")))
    log = open(os.path.join(folder, "chrony.log"), "a")
    return subprocess.Popen(["/usr/sbin/chronyd", "-d", "-x", "-u", "root", "-f", conf],
                            stdout=log, stderr=log, stdin=subprocess.DEVNULL)


def start_openssl(folder, address, kind):
    version = "-tls1_2" if kind == "tls12" else "-tls1_3"
    log = open(os.path.join(folder, "openssl.log"), "a")
    return subprocess.Popen(["openssl", "s_server", version, "-www", "-accept",
                             "%s:%d" % (address, KE_PORT),
                             "-cert", os.path.join(folder, "server.pem"),
                             "-key", os.path.join(folder, "server.key")],
                            stdout=log, stderr=log, stdin=subprocess.DEVNULL)


def free(address):
    """Nothing holds the address's ports yet."""
    held = []
    try:
        for kind, port in ((socket.SOCK_STREAM, KE_PORT), (socket.SOCK_DGRAM, NTP_PORT)):
            sock = socket.socket(socket.AF_INET, kind)
            held.append(sock)
            sock.bind((address, port))
        return True
    except OSError:
        return False
    finally:
        for sock in held:
            sock.close()


def own_address():
    start = os.getpid() * 7 % 20000
    for i in range(20000):
        n = (start + i) % 20000
        outer = "127.%d.%d.%d" % (230 + n // 5000, (n // 20) % 250 + 1, 2 + 2 * (n % 20) * 5)
        if free(outer) and free(inner_address(outer)):
            return outer
    sys.exit("no free address")


def answers(address, port):
    try:
        with socket.create_connection((address, port), timeout=0.2):
            return True
    except OSError:
        return False


def wait_until_answering(address):
    for _ in range(100):
        if answers(address, KE_PORT):
            return True
        time.sleep(0.05)
    return False


def touch(folder, leaf, text=""):
    with open(os.path.join(folder, leaf + ".part"), "w") as out:
        out.write(text)
    os.rename(os.path.join(folder, leaf + ".part"), os.path.join(folder, leaf))


class Relay:
    """TCP 4460 and UDP 123 of the outer address to chronyd's own."""

    def __init__(self, folder, outer, inner, flip):
        self.folder, self.inner, self.flip = folder, inner, flip
        self.exchanges = 0
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((outer, KE_PORT))
        self.listener.listen(8)
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((outer, NTP_PORT))
        self.upstream = {}
        self.pairs = {}

    def sockets(self):
        return [self.listener, self.udp] + list(self.pairs) + list(self.upstream)

    def serve(self, ready):
        for sock in ready:
            if sock is self.listener:
                client, _ = self.listener.accept()
                server = socket.create_connection((self.inner, KE_PORT))
                # As fast as without the relay: no write waits for an ACK.
                for end in (client, server):
                    end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                self.pairs[client], self.pairs[server] = server, client
                self.exchanges += 1
                touch(self.folder, "exchanges", str(self.exchanges))
            elif sock is self.udp:
                data, client = self.udp.recvfrom(4096)
                if client not in self.upstream.values():
                    up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                    up.connect((self.inner, NTP_PORT))
                    self.upstream[up] = client
                up = next(s for s, c in self.upstream.items() if c == client)
                up.send(data)
            elif sock in self.upstream:
                try:
                    data = bytearray(sock.recv(4096))
                except OSError:  # chronyd was not listening (yet)
                    continue
                if self.flip and len(data) > 48:
                    data[47] ^= 0x01
                self.udp.sendto(bytes(data), self.upstream[sock])
            elif sock in self.pairs:
                other = self.pairs[sock]
                try:
                    data = sock.recv(65536)
                    if data:
                        other.sendall(data)
                except OSError:  # a reset ends the pair as a close does
                    data = b""
                if not data:
                    for end in (sock, other):
                        self.pairs.pop(end, None)
                        end.close()


def main():
    folder, kind, name = sys.argv[1:4]
    options = sys.argv[4:]
    address = own_address()
    make_certificates(folder, address, name, options)
    touch(folder, "address", address)
    relay = None
    direct = "direct" in options
    if kind == "chrony" and direct:
        server = start_chrony(folder, address)
        ready = wait_until_answering(address)
    elif kind == "chrony":
        inner = inner_address(address)
        server = start_chrony(folder, inner)
        relay = Relay(folder, address, inner, "flip" in options)
        ready = wait_until_answering(inner)
    else:
        server = start_openssl(folder, address, kind)
        ready = wait_until_answering(address)
    if ready:
        touch(folder, "ready")
    last = time.monotonic()
    try:
        while (direct or time.monotonic() - last < IDLE_SECONDS) and not os.path.exists(
                os.path.join(folder, "stop")):
            if relay is None:
                time.sleep(0.1)
                continue
            readable, _, _ = select.select(relay.sockets(), [], [], 0.1)
            if readable:
                last = time.monotonic()
                relay.serve(readable)
            if os.path.exists(os.path.join(folder, "restart")):
                os.remove(os.path.join(folder, "restart"))
                server.terminate()
                server.wait()
                server = start_chrony(folder, inner)
                if wait_until_answering(inner):
                    touch(folder, "restarted")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
