// Where the tests find the shared real-world test pictures.
//
// The folder lives beside the project (../shared/testdata) and is not part of the
// repository; VITRELLE_TESTDATA in the environment points elsewhere. A clone without it
// still passes its suite: every test that needs a real file starts with
// VITRELLE_REQUIRE_TESTDATA(), which skips the test with a message naming the folder.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cstdlib>
#include <string>

namespace vitrelle_test {

inline std::string TestDataDir() {
  if (const char* env = std::getenv("VITRELLE_TESTDATA"); env && *env) return env;
#ifdef VITRELLE_TESTDATA
  return VITRELLE_TESTDATA;
#else
  return "../shared/testdata";
#endif
}

inline bool TestDataPresent() {
  struct stat st {};
  return stat(TestDataDir().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Path of a file of the shared folder, e.g. TestDataPath("gif/image-any-disposal.gif").
inline std::string TestDataPath(const std::string& relative) {
  return TestDataDir() + "/" + relative;
}

}  // namespace vitrelle_test

#define VITRELLE_REQUIRE_TESTDATA()                                                          \
  do {                                                                                       \
    if (!::vitrelle_test::TestDataPresent())                                                 \
      GTEST_SKIP() << "shared test pictures not found in " << ::vitrelle_test::TestDataDir() \
                   << " (set VITRELLE_TESTDATA)";                                            \
  } while (0)
