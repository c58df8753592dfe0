// The shared library as a host loads it: by file, each export looked up by
// its plain name, nothing of the internals reachable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zm/zm.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

class Library {
 public:
  explicit Library(const char* path) {
#ifdef _WIN32
    handle_ = LoadLibraryA(path);
#else
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
  }
  ~Library() {
#ifdef _WIN32
    if (handle_) FreeLibrary(handle_);
#else
    if (handle_) dlclose(handle_);
#endif
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const {
    return handle_ != nullptr;
  }

  template <typename Function>
  Function* Find(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
    return reinterpret_cast<Function*>(dlsym(handle_, name));
#endif
  }

 private:
#ifdef _WIN32
  HMODULE handle_;
#else
  void* handle_;
#endif
};

TEST(SharedLibrary, ExportsAreFoundByPlainName) {
  Library lib(ZM_TEST_LIBRARY);
  ASSERT_TRUE(lib.Loaded()) << ZM_TEST_LIBRARY;

  auto* getVersion = lib.Find<decltype(ZM_getVersion)>("ZM_getVersion");
  ASSERT_NE(getVersion, nullptr);
  EXPECT_EQ(getVersion(), 400);

  EXPECT_NE(lib.Find<decltype(ZM_process)>("ZM_process"), nullptr);
  EXPECT_NE(lib.Find<decltype(ZM_loadSetup)>("ZM_loadSetup"), nullptr);
  EXPECT_NE(lib.Find<decltype(ZM_saveSetup)>("ZM_saveSetup"), nullptr);
  EXPECT_NE(lib.Find<decltype(ZM_saveMaterial)>("ZM_saveMaterial"), nullptr);

  // A failure crosses the boundary as a filled record, not as an exception.
  auto* loadMaterial = lib.Find<decltype(ZM_loadMaterial)>("ZM_loadMaterial");
  ASSERT_NE(loadMaterial, nullptr);
  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  TMaterialEntry material;
  loadMaterial(nullptr, &material, &error);
  EXPECT_EQ(error.Failed, 1);
  EXPECT_STREQ(error.Message, "Argument \"fileName\" must not be a null pointer");
}

TEST(SharedLibrary, InternalsAreNotExported) {
  Library lib(ZM_TEST_LIBRARY);
  ASSERT_TRUE(lib.Loaded());
  // The frame's helper under its C++ name, and a decorated export name.
  EXPECT_EQ(lib.Find<void()>("_ZN2zm13ReportFailureER12TErrorRecordSt17basic_string_viewIcSt11char_"
                             "traitsIcEE"),
            nullptr);
  EXPECT_EQ(lib.Find<void()>("_ZM_getVersion"), nullptr);
  EXPECT_EQ(lib.Find<void()>("ZM_getversion"), nullptr);
}

}  // namespace
