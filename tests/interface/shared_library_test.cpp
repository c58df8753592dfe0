// The shared library as a host loads it: by file, each export found by its
// plain name, failures as records. (That nothing else is exported is held to
// the export list by the ELF and PE image checks.)
#include <gtest/gtest.h>

#include <cstring>

#include "zm/zm.h"

#ifdef _WIN32
#include <windows.h>
#define OPEN(path) LoadLibraryA(path)
#define FIND(handle, name) reinterpret_cast<void*>(GetProcAddress(handle, name))
#define CLOSE(handle) FreeLibrary(handle)
#else
#include <dlfcn.h>
#define OPEN(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define FIND(handle, name) dlsym(handle, name)
#define CLOSE(handle) dlclose(handle)
#endif

namespace {

TEST(SharedLibrary, ExportsAreFoundByPlainName) {
  auto handle = OPEN(ZM_TEST_LIBRARY);
  ASSERT_TRUE(handle) << ZM_TEST_LIBRARY;
  for (const char* name : {"ZM_process", "ZM_loadSetup", "ZM_saveSetup", "ZM_saveMaterial"}) {
    EXPECT_NE(FIND(handle, name), nullptr) << name;
  }
  auto* getVersion = reinterpret_cast<decltype(&ZM_getVersion)>(FIND(handle, "ZM_getVersion"));
  ASSERT_NE(getVersion, nullptr);
  EXPECT_EQ(getVersion(), 400);
  // A failure crosses the boundary as a filled record, not as an exception.
  auto* loadMaterial =
      reinterpret_cast<decltype(&ZM_loadMaterial)>(FIND(handle, "ZM_loadMaterial"));
  ASSERT_NE(loadMaterial, nullptr);
  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  TMaterialEntry material;
  loadMaterial(nullptr, &material, &error);
  EXPECT_EQ(error.Failed, 1);
  EXPECT_STREQ(error.Message, "Argument \"fileName\" must not be a null pointer");
  CLOSE(handle);
}

}  // namespace
