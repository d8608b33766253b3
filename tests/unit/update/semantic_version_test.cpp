// Versions by Semantic Versioning 2.0.0: what parses, and the order of precedence.

#include "update/semantic_version.h"

#include <gtest/gtest.h>

#include <vector>

namespace zennic {
namespace {

SemanticVersion Parsed(const std::string& text) {
  SemanticVersion version;
  EXPECT_TRUE(ParseSemVer(text, &version)) << text;
  return version;
}

// Each version in the list is lower than every one after it.
void ExpectAscending(const std::vector<std::string>& texts) {
  for (size_t i = 0; i < texts.size(); ++i) {
    for (size_t j = 0; j < texts.size(); ++j) {
      int order = CompareVersions(Parsed(texts[i]), Parsed(texts[j]));
      EXPECT_EQ((order > 0) - (order < 0), (i > j) - (i < j))
          << texts[i] << " against " << texts[j];
    }
  }
}

TEST(SemanticVersion, WhatParses) {
  struct Case {
    std::string text;
    bool valid;
    SemanticVersion expected;
  };
  for (const Case& c : std::vector<Case>{
           {" 1.0.4\t", true, {1, 0, 4, ""}},
           {"1.0.4-rc.1+build.5", true, {1, 0, 4, "rc.1"}},
           {"1.0.4+build-with-dashes", true, {1, 0, 4, ""}},
           {"1.0.4-0a.0", true, {1, 0, 4, "0a.0"}},
           {"2147483647.0.0", true, {2147483647, 0, 0, ""}},
           {"2147483648.0.0", false, {}},
           {"99999999999999999999.0.0", false, {}},
           {"01.0.0", false, {}},
           {"1.0", false, {}},
           {"1.0.0.0", false, {}},
           {"1..0", false, {}},
           {"1.0.0+", false, {}},
           {"1.0.0-", false, {}},
           {"1.0.0-01", false, {}},
           {"1.0.0-a..b", false, {}},
           {"1.0.0-a_b", false, {}},
           {"v1.0.0", false, {}},
           {"", false, {}},
       }) {
    SemanticVersion version{7, 7, 7, "untouched"};
    ASSERT_EQ(ParseSemVer(c.text, &version), c.valid) << c.text;
    SemanticVersion expected = c.valid ? c.expected : SemanticVersion{7, 7, 7, "untouched"};
    EXPECT_EQ(version.major, expected.major) << c.text;
    EXPECT_EQ(version.minor, expected.minor) << c.text;
    EXPECT_EQ(version.patch, expected.patch) << c.text;
    EXPECT_EQ(version.prerelease, expected.prerelease) << c.text;
  }
  EXPECT_FALSE(ParseSemVer("1.0.0", nullptr));
}

TEST(SemanticVersion, PrecedenceOfTheStandardsExample) {
  ExpectAscending({"1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
                   "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0", "1.0.4", "1.1.0",
                   "1.10.0", "2.0.0-0"});
}

TEST(SemanticVersion, BuildMetadataTakesNoPartInPrecedence) {
  EXPECT_EQ(CompareVersions(Parsed("1.0.4+a"), Parsed("1.0.4+b")), 0);
  EXPECT_EQ(CompareVersions(Parsed("1.0.4-rc.1+z"), Parsed("1.0.4-rc.1")), 0);
}

// Identifiers longer than a 64-bit integer still order by their value.
TEST(SemanticVersion, LongNumericPrereleaseIdentifiersOrderByValue) {
  ExpectAscending({"1.0.0-rc.9", "1.0.0-rc.9999999999999999999",
                   "1.0.0-rc.1234567890123456789012345", "1.0.0-rc.1234567890123456789012346",
                   "1.0.0-rc.9000000000000000000000000", "1.0.0-rc.a"});
}

}  // namespace
}  // namespace zennic
