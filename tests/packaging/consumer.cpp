// A C++ host through the CMake package.
#include <zm/zm.h>

#include <cstdio>

int main() {
  const int version = ZM_getVersion();
  std::printf("zm %d from C++\n", version);
  return version == 400 ? 0 : 1;
}
