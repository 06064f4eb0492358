#ifndef HORAVEX_TEST_EXPECTED_H
#define HORAVEX_TEST_EXPECTED_H

#include <cstdint>
#include <string>

/* The time of day the program shows for a raw reply (no lag added). */
std::string ShownTimeOfDay(uint32_t raw);

/* The name of the time zone in effect, as the program reads it at start. */
std::string ZoneNameInEffect();

#endif
