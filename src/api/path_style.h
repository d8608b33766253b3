#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// How a file system spells and compares paths. POSIX: "/" only, letter case counts. Windows:
// "\" and "/" both separate, a drive prefix roots a path, and letter case is ignored. Deciding
// containment with the other system's rules would let a sibling folder pass ("Root" against
// "ROOT", or a file named "Root\..\x" beside the root), so every containment and sameness test
// takes the style of the file system it runs on.
enum class PathStyle { kPosix, kWindows };

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::kWindows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::kPosix;
#endif

// A path as text, split the way `style` reads it.
struct PathText {
  std::string root;                // "/", "\", "C:", "C:\"; empty for a relative path
  std::vector<std::string> names;  // every component after the root, as written
};

PathText SplitPathText(std::string_view text, PathStyle style);

// Lexical tests on text only, no file-system access; "." and ".." are resolved as text first.
// Letter case is folded (ASCII) only in the Windows style.
bool PathTextInsideRoot(std::string_view path, std::string_view root, PathStyle style);
bool SamePathText(std::string_view a, std::string_view b, PathStyle style);
// Any component exactly "..", before anything is resolved.
bool PathTextHasParentComponent(std::string_view text, PathStyle style);
// Any component equal to "_originals" ignoring case; "", "." and ".." are skipped.
bool PathTextHasOriginalsComponent(std::string_view text, PathStyle style);
// A drive or a leading separator.
bool PathTextIsRooted(std::string_view text, PathStyle style);

// The reserved folder that keeps the sources replaced by a conversion; any letter case.
bool IsOriginalsName(std::string_view name);

}  // namespace zennic
