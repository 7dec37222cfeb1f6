#pragma once
// Where the reference ROOT files are: $SKIM_TESTDATA, else ../shared/testdata beside the
// source tree. When they are missing a test skips with a clear message, except under CI,
// where missing data must fail rather than pass silently.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testdata {

inline std::filesystem::path folder()
{
    if (const char* env = std::getenv("SKIM_TESTDATA"); env && *env) return env;
    return std::filesystem::path(SKIM_SOURCE_DIR) / ".." / "shared" / "testdata";
}

inline bool under_ci()
{
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

}  // namespace testdata

// Use at the top of a test: binds `var` to the file or skips/fails when it is absent.
#define REQUIRE_TESTDATA(var, name)                                                              \
    const std::filesystem::path var = testdata::folder() / (name);                              \
    if (!std::filesystem::exists(var)) {                                                         \
        if (testdata::under_ci()) FAIL() << "test data missing under CI: " << var;              \
        GTEST_SKIP() << "test data not found: " << var << " (set SKIM_TESTDATA)";               \
    }
