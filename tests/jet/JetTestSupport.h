#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/runtime/RuntimeError.h"
#include "tests/support/ErrorOf.h"
#include "tools/jetwriter/JetWriter.h"

namespace zr::jet::test {

inline constexpr const char* kSuitePassword = "R$KQTM3VXEJW8FNUPC";
inline constexpr const char* kConnect = ";PWD=R$KQTM3VXEJW8FNUPC";
inline constexpr const char* kVersionQuery = "SELECT VALUECHAR FROM XC_CONTROL WHERE ITEM = 'ZrVer'";

// A common database as the suite keeps it: XC_CONTROL with the given rows,
// locked with the suite's password.
inline writer::Database CommonDatabase(const std::vector<std::pair<writer::Cell, writer::Cell>>& rows,
                                       const std::string& password = kSuitePassword) {
  writer::Database db;
  db.password = password;
  db.tables.push_back(writer::ControlTable(rows));
  return db;
}

using ::zr::test::ErrorOf;

inline std::filesystem::path RealFixture(const std::string& name) {
  return std::filesystem::path(ZR_THIRD_PARTY_DATA) / "jet-real" / name;
}

// The data ships with the tests: a missing file is a broken checkout, not a reason to skip.
#define ZR_REQUIRE_REAL_FIXTURE(name) \
  ASSERT_TRUE(std::filesystem::exists(::zr::jet::test::RealFixture(name))) << ::zr::jet::test::RealFixture(name)

}  // namespace zr::jet::test
