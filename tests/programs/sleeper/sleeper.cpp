// A program that only waits: tests copy it under the names of vendor tools
// and start it, so that process termination has something real to end.
// It ends by itself after the number of seconds given (default 120), so a
// test that fails before its teardown leaves nothing running for long.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  unsigned long seconds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120;
  Sleep(seconds * 1000);
  return 0;
}
