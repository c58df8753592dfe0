// A C++ host through the CMake package.
#include <zm/zm.h>

#include <iostream>

int main() {
  int version = ZM_getVersion();
  if (version != 400) {
    std::cerr << "unexpected version " << version << "\n";
    return 1;
  }
  std::cout << "zm " << version << " from C++\n";
  return 0;
}
