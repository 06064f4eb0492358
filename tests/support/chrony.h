#ifndef HORAVEX_TEST_CHRONY_H
#define HORAVEX_TEST_CHRONY_H

#include <string>

/* The offset Debian's ntpdig measures of the server at address, asked
   until it answers (its files in folder); false if it never did. */
bool NtpdigOffsetOf(const std::string &address, const std::string &folder, double *offset);

/* Debian's chrony, a real NTP server nobody here wrote, on a loopback
   address of the test namespace (127.0.0.123 unless told): it never
   touches the clock (-x) and serves its own (local stratum 2). */
class ChronyPeer {
public:
    explicit ChronyPeer(const std::string &address = "127.0.0.123");
    ~ChronyPeer();
    ChronyPeer(const ChronyPeer &) = delete;
    ChronyPeer &operator=(const ChronyPeer &) = delete;

    /* The offset Debian's ntpdig measures, asked until chrony answers;
       false if it never did. */
    bool NtpdigOffset(double *offset);

private:
    bool Exists(const char *name) const;

    std::string folder_;
    std::string address_;
    bool started_ = false;
};

#endif
