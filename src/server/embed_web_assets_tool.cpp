// Build tool: turns the web client's folder into a C++ source holding the asset table.
// Usage: zennic_embed_web <web folder> <rendered folder> <output .cpp>
//
// The table's rows and their order are fixed below; a row whose source is not in the folder yet
// is left out. The guide's Steam illustrations and the program's icon are drawn as SVG under web/
// and served as the PNGs that the build renders from them into the rendered folder (at the row's
// path below /assets/; the icon at icon.png); the icon, asked for by browsers at /favicon.ico,
// goes out as an icon file holding that PNG.
// A page script ("/assets/js/app.js", "/assets/play/play.js") is kept as pieces, one per area
// of the page: the .js files of the folder named after the script (web/js/app/, web/play/play/)
// and of web/shared/, joined in file-name order inside one function scope.
// A file under web/ that no row uses fails the build, so nothing is shipped by accident.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr char kSharedPieces[] = "shared";

struct Row {
  std::string url_path;
  std::string source;  // relative to the web folder: a file, or for a joined script its folder
  bool joined = false;
  // When set, source is a drawing and the row serves this file of the rendered folder.
  std::string rendering{};
};

std::vector<Row> TableRows() {
  std::vector<Row> rows = {
      {"/", "index.html"},
      {"/play", "play.html"},
      {"/guide", "guide.html"},
      {"/assets/css/app.css", "css/app.css"},
      {"/assets/i18n/i18n.js", "i18n/i18n.js"},
      {"/assets/js/app.js", "js/app", true},
  };
  for (const char* code : {"en", "de", "fr", "ko", "nl", "sv", "it", "es", "pt", "pt-BR", "hr", "pl", "cs",
                           "sk", "ru", "zh-CN", "ja", "tr", "uk", "hu", "ro", "zh-TW", "da", "fi", "no",
                           "el"}) {
    rows.push_back({std::string("/assets/i18n/") + code + ".json", std::string("i18n/") + code + ".json"});
  }
  rows.push_back({"/assets/play/play.css", "play/play.css"});
  rows.push_back({"/assets/play/play.js", "play/play", true});
  rows.push_back({"/assets/guide/guide.css", "guide/guide.css"});
  rows.push_back({"/assets/guide/guide.js", "guide/guide.js"});
  for (const char* drawing : {"steam-menu-settings", "steam-settings-in-game-tab", "steam-settings-enable-overlay",
                              "steam-settings-voice-tab", "steam-settings-voice-default-device"}) {
    rows.push_back({std::string("/assets/guide/steam/") + drawing + ".png",
                    std::string("guide/steam/") + drawing + ".svg", false,
                    std::string("guide/steam/") + drawing + ".png"});
  }
  for (const char* image :
       {"windows-open-sound.svg", "windows-cable-input.svg", "steam-overlay-enable.svg", "steam-overlay-open.svg",
        "steam-overlay-browser.svg", "game-voice-cs2.svg", "game-voice-css.svg", "game-voice-rust.svg",
        "game-voice-l4d.svg"}) {
    rows.push_back({std::string("/assets/guide/images/") + image, std::string("guide/images/") + image});
  }
  rows.push_back({"/favicon.ico", "icon.svg", false, "icon.png"});
  return rows;
}

std::string StoredContentType(const std::string& url_path) {
  if (url_path == "/" || url_path == "/play" || url_path == "/guide") return "text/html; charset=utf-8";
  std::string extension = fs::path(url_path).extension().string();
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".js") return "application/javascript; charset=utf-8";
  if (extension == ".png") return "image/png";
  return "application/octet-stream";
}

void AppendLittleEndian(std::string* bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An icon file of one image, the PNG itself, as every browser and Windows since Vista read it.
std::string IconFileHolding(const std::string& png) {
  // The width or height in the PNG's header, big-endian; an icon entry's 0 stands for 256 and over.
  auto dimension = [&png](size_t at) {
    uint32_t value = 0;
    for (size_t i = at; i < at + 4 && i < png.size(); ++i) {
      value = (value << 8) | static_cast<unsigned char>(png[i]);
    }
    return value >= 256 ? 0u : value;
  };
  std::string icon;
  AppendLittleEndian(&icon, 0, 2);  // reserved
  AppendLittleEndian(&icon, 1, 2);  // an icon, not a cursor
  AppendLittleEndian(&icon, 1, 2);  // one image
  AppendLittleEndian(&icon, dimension(16), 1);
  AppendLittleEndian(&icon, dimension(20), 1);
  AppendLittleEndian(&icon, 0, 2);   // no palette, reserved
  AppendLittleEndian(&icon, 1, 2);   // colour planes
  AppendLittleEndian(&icon, 32, 2);  // bits per pixel
  AppendLittleEndian(&icon, static_cast<uint32_t>(png.size()), 4);
  AppendLittleEndian(&icon, 6 + 16, 4);  // the image follows this header and its one entry
  return icon + png;
}

// A C++ string literal for any bytes: printable ASCII stays, the rest becomes octal escapes.
void WriteLiteral(std::ostream& out, const std::string& bytes) {
  const size_t kPerLine = 120;
  out << "\"";
  size_t on_line = 0;
  for (unsigned char c : bytes) {
    if (on_line >= kPerLine) {
      out << "\"\n    \"";
      on_line = 0;
    }
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != '?') {
      out << static_cast<char>(c);
      on_line += 1;
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\%03o", c);
      out << escaped;
      on_line += 4;
    }
  }
  out << "\"";
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool IsHidden(const std::string& relative) {
  return relative.empty() || relative.front() == '.' || relative.find("/.") != std::string::npos;
}

// The translators' glossary lives beside the catalogues but is read by the checker, never served.
bool IsSourceOnly(const std::string& relative) { return relative.starts_with("i18n/glossary/"); }

// The .js files directly inside `folder`, as paths relative to the web folder.
std::vector<std::string> PiecesIn(const fs::path& root, const std::string& folder) {
  std::vector<std::string> pieces;
  if (!fs::is_directory(root / folder)) return pieces;
  for (const auto& entry : fs::directory_iterator(root / folder)) {
    std::string relative = entry.path().lexically_relative(root).generic_string();
    if (entry.is_regular_file() && entry.path().extension() == ".js" && !IsHidden(relative)) {
      pieces.push_back(relative);
    }
  }
  return pieces;
}

std::string JoinPieces(const fs::path& root, const std::string& folder, std::set<std::string>* used) {
  std::vector<std::string> pieces = PiecesIn(root, folder);
  if (pieces.empty()) return "";
  for (const std::string& shared : PiecesIn(root, kSharedPieces)) pieces.push_back(shared);
  std::sort(pieces.begin(), pieces.end(), [](const std::string& a, const std::string& b) {
    std::string name_a = fs::path(a).filename().string();
    std::string name_b = fs::path(b).filename().string();
    return name_a != name_b ? name_a < name_b : a < b;
  });
  std::string script = "// Joined at build time from web/" + folder + "/ and web/" + kSharedPieces +
                       "/.\n(function () {\n\"use strict\";\n";
  for (const std::string& piece : pieces) {
    used->insert(piece);
    script += "\n// ---- " + piece + "\n" + ReadFile(root / piece);
    if (script.back() != '\n') script += '\n';
  }
  return script + "})();\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: zennic_embed_web <web folder> <rendered folder> <output .cpp>\n";
    return 2;
  }
  fs::path root = argv[1];
  fs::path rendered = argv[2];
  std::set<std::string> used;
  std::vector<std::pair<std::string, std::string>> assets;  // url path, bytes
  for (const Row& row : TableRows()) {
    if (row.joined) {
      std::string script = JoinPieces(root, row.source, &used);
      if (!script.empty()) assets.emplace_back(row.url_path, script);
    } else if (!row.rendering.empty() && fs::is_regular_file(root / row.source)) {
      fs::path rendering = rendered / row.rendering;
      if (!fs::is_regular_file(rendering)) {
        std::cerr << "zennic_embed_web: " << rendering.string() << " was not rendered from web/" << row.source
                  << "\n";
        return 1;
      }
      used.insert(row.source);
      std::string png = ReadFile(rendering);
      assets.emplace_back(row.url_path, row.url_path.ends_with(".ico") ? IconFileHolding(png) : png);
    } else if (fs::is_regular_file(root / row.source)) {
      used.insert(row.source);
      assets.emplace_back(row.url_path, ReadFile(root / row.source));
    }
  }
  bool unused = false;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string relative = entry.path().lexically_relative(root).generic_string();
    if (!entry.is_regular_file() || IsHidden(relative) || IsSourceOnly(relative) || used.contains(relative)) {
      continue;
    }
    std::cerr << "zennic_embed_web: web/" << relative << " belongs to no row of the asset table\n";
    unused = true;
  }
  if (unused) return 1;

  std::ostringstream out;
  out << "// Generated by zennic_embed_web from the web client's folder. Do not edit.\n"
      << "#include \"server/embedded_asset_table.h\"\n\nnamespace zennic {\nnamespace {\n\n";
  for (size_t i = 0; i < assets.size(); ++i) {
    out << "// " << assets[i].first << "\nconst char kAsset" << i << "[] =\n    ";
    WriteLiteral(out, assets[i].second);
    out << ";\n\n";
  }
  if (assets.empty()) {
    out << "}  // namespace\n\nextern const EmbeddedAsset* const kEmbeddedAssetRows = nullptr;\n";
  } else {
    out << "const EmbeddedAsset kRows[] = {\n";
    for (size_t i = 0; i < assets.size(); ++i) {
      out << "    {\"" << assets[i].first << "\", \"" << StoredContentType(assets[i].first)
          << "\", true, reinterpret_cast<const unsigned char*>(kAsset" << i << "), sizeof(kAsset" << i
          << ") - 1},\n";
    }
    out << "};\n\n}  // namespace\n\nextern const EmbeddedAsset* const kEmbeddedAssetRows = kRows;\n";
  }
  out << "extern const size_t kEmbeddedAssetRowCount = " << assets.size() << ";\n\n}  // namespace zennic\n";

  // Rewrite only on change, so an unchanged web client does not rebuild the program.
  fs::path output = argv[3];
  std::string text = out.str();
  if (fs::exists(output) && ReadFile(output) == text) return 0;
  fs::create_directories(output.parent_path());
  std::ofstream file(output, std::ios::binary | std::ios::trunc);
  file << text;
  return file.good() ? 0 : 1;
}
