// Containment and sameness of paths under each file system's rules, on text alone.

#include "api/path_style.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

constexpr PathStyle kPosix = PathStyle::kPosix;
constexpr PathStyle kWindows = PathStyle::kWindows;

TEST(PathStyle, InsideTheRoot) {
  struct Case {
    const char* path;
    const char* root;
    PathStyle style;
    bool inside;
  };
  for (const Case& c : std::vector<Case>{
           {"C:\\Root\\sub\\..\\..\\x.wav", "C:\\Root", kWindows, false},
           {"C:\\ROOT\\a.wav", "C:\\Root", kWindows, true},
           {"c:/root/Sub/a.wav", "C:\\Root\\", kWindows, true},
           {"C:\\Root", "C:\\Root", kWindows, true},
           {"C:\\Rooted\\a.wav", "C:\\Root", kWindows, false},
           {"D:\\Root\\a.wav", "C:\\Root", kWindows, false},
           {"\\Root\\a.wav", "C:\\Root", kWindows, false},
           {"C:\\Root\\..\\Other\\a.wav", "C:\\Root", kWindows, false},
           {"C:\\a.wav", "", kWindows, false},
           // Here letter case and "\" belong to names: a sibling never passes.
           {"/home/u/ROOT/a.wav", "/home/u/Root", kPosix, false},
           {"/home/u/Root\\..\\x.wav", "/home/u/Root", kPosix, false},
           {"/home/u/Root/sub\\..\\x.wav", "/home/u/Root", kPosix, true},
           {"/home/u/Root/sub/../../x.wav", "/home/u/Root", kPosix, false},
           {"/home/u/Root/./a.wav", "/home/u/Root/", kPosix, true},
           {"/home/u/Rooted/a.wav", "/home/u/Root", kPosix, false},
           {"/anything", "/", kPosix, true},
       }) {
    EXPECT_EQ(PathTextInsideRoot(c.path, c.root, c.style), c.inside) << c.path << " in " << c.root;
  }
}

TEST(PathStyle, SamePath) {
  EXPECT_TRUE(SamePathText("C:\\Root\\a.wav", "c:\\root\\A.WAV", kWindows));
  EXPECT_TRUE(SamePathText("C:\\Root\\Sub\\", "C:/Root/Sub", kWindows));
  EXPECT_FALSE(SamePathText("/r/a.wav", "/r/A.WAV", kPosix));
  EXPECT_TRUE(SamePathText("/r/Sub/", "/r/Sub", kPosix));
  EXPECT_FALSE(SamePathText("/r/Sub/a.wav", "/r/Sub", kPosix));
}

TEST(PathStyle, ComponentsThatLeaveOrReserve) {
  // Windows spelling, as the web client sends a relative folder.
  for (const char* leaving : {"..\\Other", "C:\\Other", "\\Other", "/Other", "a/../b", "C:Other"}) {
    EXPECT_TRUE(PathTextIsRooted(leaving, kWindows) ||
                PathTextHasParentComponent(leaving, kWindows))
        << leaving;
  }
  for (const char* staying : {"", "Sub", "Sub\\Deeper", "..name", "a..b"}) {
    EXPECT_FALSE(PathTextIsRooted(staying, kWindows) ||
                 PathTextHasParentComponent(staying, kWindows))
        << staying;
  }
  EXPECT_FALSE(PathTextHasParentComponent("..\\Other", kPosix)) << "one name on this system";

  EXPECT_TRUE(PathTextHasOriginalsComponent("_ORIGINALS\\a.wav", kWindows));
  EXPECT_TRUE(PathTextHasOriginalsComponent("x/_Originals/y/a.wav", kPosix));
  EXPECT_FALSE(PathTextHasOriginalsComponent("my_originals/a.wav", kPosix));
  EXPECT_FALSE(PathTextHasOriginalsComponent("x\\_originals\\a.wav", kPosix));
}

}  // namespace
}  // namespace zennic
