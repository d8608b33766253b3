#include "api/path_style.h"

#include <cctype>

#include "core/text.h"

namespace zennic {
namespace {

bool IsSeparator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::kWindows && c == '\\');
}

bool SameName(std::string_view a, std::string_view b, PathStyle style) {
  return style == PathStyle::kWindows ? EqualsIgnoreCase(a, b) : a == b;
}

// "." dropped, ".." taking away the name before it; nothing climbs above a root.
PathText NormalPathText(std::string_view text, PathStyle style) {
  PathText split = SplitPathText(text, style);
  PathText normal{split.root, {}};
  for (std::string& name : split.names) {
    if (name == ".") continue;
    if (name != "..") {
      normal.names.push_back(std::move(name));
    } else if (!normal.names.empty() && normal.names.back() != "..") {
      normal.names.pop_back();
    } else if (normal.root.empty()) {
      normal.names.push_back(std::move(name));
    }
  }
  return normal;
}

// True when `inner` is `outer` or lies below it.
bool StartsWithPath(const PathText& inner, const PathText& outer, PathStyle style) {
  if (!SameName(inner.root, outer.root, style) || inner.names.size() < outer.names.size()) {
    return false;
  }
  for (size_t i = 0; i < outer.names.size(); ++i) {
    if (!SameName(inner.names[i], outer.names[i], style)) return false;
  }
  return true;
}

}  // namespace

PathText SplitPathText(std::string_view text, PathStyle style) {
  PathText split;
  size_t position = 0;
  if (style == PathStyle::kWindows && text.size() >= 2 &&
      std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':') {
    split.root = std::string(text.substr(0, 2));
    position = 2;
  }
  if (position < text.size() && IsSeparator(text[position], style)) {
    split.root += style == PathStyle::kWindows ? '\\' : '/';
  }
  while (position < text.size()) {
    while (position < text.size() && IsSeparator(text[position], style)) ++position;
    size_t end = position;
    while (end < text.size() && !IsSeparator(text[end], style)) ++end;
    if (end > position) split.names.emplace_back(text.substr(position, end - position));
    position = end;
  }
  return split;
}

bool PathTextInsideRoot(std::string_view path, std::string_view root, PathStyle style) {
  if (root.empty()) return false;
  return StartsWithPath(NormalPathText(path, style), NormalPathText(root, style), style);
}

bool SamePathText(std::string_view a, std::string_view b, PathStyle style) {
  PathText first = NormalPathText(a, style);
  PathText second = NormalPathText(b, style);
  return first.names.size() == second.names.size() && StartsWithPath(first, second, style);
}

bool PathTextHasParentComponent(std::string_view text, PathStyle style) {
  for (const std::string& name : SplitPathText(text, style).names) {
    if (name == "..") return true;
  }
  return false;
}

bool PathTextHasOriginalsComponent(std::string_view text, PathStyle style) {
  for (const std::string& name : SplitPathText(text, style).names) {
    if (IsOriginalsName(name)) return true;
  }
  return false;
}

bool PathTextIsRooted(std::string_view text, PathStyle style) {
  return !SplitPathText(text, style).root.empty();
}

bool IsOriginalsName(std::string_view name) { return EqualsIgnoreCase(name, "_originals"); }

}  // namespace zennic
