#include "addressspace.h"

AddressSpaceHog::AddressSpaceHog(SIZE_T smallest)
{
    regions_.reserve(65536);
    for (SIZE_T size = (SIZE_T)1 << 30; size >= smallest; size /= 2) {
        while (regions_.size() < regions_.capacity()) {
            void *region = VirtualAlloc(NULL, size, MEM_RESERVE, PAGE_NOACCESS);
            if (region == NULL)
                break;
            regions_.push_back(region);
        }
    }
}

AddressSpaceHog::~AddressSpaceHog()
{
    for (void *region : regions_)
        VirtualFree(region, 0, MEM_RELEASE);
}
