#ifndef HORAVEX_TEST_SHELLLINK_H
#define HORAVEX_TEST_SHELLLINK_H

#include <string>

/* Reads a shell link (.lnk) through the shell's own link object. */
bool ReadLink(const std::string &path, std::string *target, std::string *description);

#endif
