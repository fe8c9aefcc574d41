#include <cstdio>
#include <cstring>

#include "rules/rules.h"

void ReportCannotOpen(const char* fileName, int error) {
  std::fprintf(stderr, "%s: cannot open: %s\n", fileName, std::strerror(error));
  std::fflush(stderr);
}

void ReportCannotRead(const char* fileName, int error) {
  std::fprintf(stderr, "%s: cannot read: %s\n", fileName, std::strerror(error));
  std::fflush(stderr);
}

void ReportShortFile(const char* fileName, long bytes, long expected) {
  std::fprintf(stderr, "%s: %ld bytes, %ld expected\n", fileName, bytes, expected);
  std::fflush(stderr);
}
