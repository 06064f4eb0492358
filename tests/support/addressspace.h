#ifndef HORAVEX_TEST_ADDRESSSPACE_H
#define HORAVEX_TEST_ADDRESSSPACE_H

#include <windows.h>

#include <vector>

/* Reserves every free stretch of the process's address space of at least
   smallest bytes, so that a larger allocation fails while small ones can
   still be served from what is left.  Released when it goes. */
class AddressSpaceHog {
public:
    explicit AddressSpaceHog(SIZE_T smallest);
    ~AddressSpaceHog();
    AddressSpaceHog(const AddressSpaceHog &) = delete;
    AddressSpaceHog &operator=(const AddressSpaceHog &) = delete;

    /* Only a 32-bit address space is small enough to use up. */
    static bool CanExhaust() { return sizeof(void *) == 4; }

private:
    std::vector<void *> regions_;
};

#endif
