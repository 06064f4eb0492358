#ifndef HORAVEX_TEST_NTSSERVER_H
#define HORAVEX_TEST_NTSSERVER_H

#include <windows.h>

#include <string>

/* An NTS server on a loopback address of its own (tests/support/
   ntsserver.py, run beside Wine): Debian's chrony behind a relay that
   counts the key exchanges and may change replies on the way, or openssl's
   s_server for TLS servers that are no NTS-KE servers; with a throwaway
   CA made at test time. */
class TestNtsServer {
public:
    /* kind: "chrony", "tls12" or "noalpn"; options: "wrongname",
       "untrusted", "expired", "flip", separated by blanks. */
    explicit TestNtsServer(const std::string &kind = "chrony", const std::string &options = "");
    ~TestNtsServer();
    TestNtsServer(const TestNtsServer &) = delete;
    TestNtsServer &operator=(const TestNtsServer &) = delete;

    /* Answering, waited for. */
    bool Ready() const;
    const std::string &Address() const { return address_; }
    /* The CA file, as the program's ntsTrust names it. */
    std::string TrustFile() const;
    /* The same, as the host's programs name it. */
    std::string HostTrustFile() const { return folder_ + "/ca.pem"; }
    int KeyExchanges() const;
    /* What Debian's ntpdig measures of the server, through the relay. */
    bool NtpdigOffset(double *offset) const;
    /* chronyd started again with new keys: the cookies handed out so far
       are refused (NAK). */
    bool Restart();

private:
    bool Exists(const std::string &leaf) const;
    std::string Read(const std::string &leaf) const;

    std::string folder_;
    std::string address_;
};

#endif
