// A folder of the library swapped for a link to a folder outside it, back and forth for as long
// as the file routes run, as anyone who can write into a shared or synced sound folder can do:
// whatever the timing, no route may change, remove, move in or read a file outside.

#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "sound_library_fixture.h"

namespace zennic {
namespace {

namespace fs = std::filesystem;
using testing::ApiReply;
using testing::Json;
using testing::SoundLibraryTest;
using testing::WriteToneWav;

// Inside and outside, files of one name differ in length and level, so a reply shows which
// one was read.
constexpr double kInsideSeconds = 0.05;
constexpr double kInsidePeak = 0.25;  // -12 dBFS
constexpr double kOutsideSeconds = 0.08;
constexpr double kOutsidePeak = 0.9;  // -0.9 dBFS
constexpr int kFilesPerPool = 150;

// Every file below a folder, by its relative path, with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[entry.path().lexically_relative(folder).string()] = testing::ReadFile(entry.path());
    }
  }
  return files;
}

// Exchanges a folder and a link to another one in a loop, until it is stopped, and leaves the
// folder in its place.
class FolderSwapper {
 public:
  FolderSwapper(fs::path folder, fs::path link) : folder_(std::move(folder)), link_(std::move(link)) {
    thread_ = std::thread([this] {
      while (!stop_) Exchange();
    });
  }
  ~FolderSwapper() {
    stop_ = true;
    thread_.join();
    if (fs::is_symlink(folder_)) Exchange();
  }

  // How many exchanges have succeeded so far.
  int Exchanges() const { return exchanges_; }

 private:
  void Exchange() {
    if (::renameat2(AT_FDCWD, folder_.c_str(), AT_FDCWD, link_.c_str(), RENAME_EXCHANGE) == 0) {
      ++exchanges_;
    }
  }

  fs::path folder_;
  fs::path link_;
  std::atomic<bool> stop_{false};
  std::atomic<int> exchanges_{0};
  std::thread thread_;
};

struct RacedRoute {
  std::string route;
  std::function<JsonValue(int request)> body;
  // Whether a reply shows what only an outside file holds.
  std::function<bool(const ApiReply& reply)> shows_outside;
  // Whether a reply shows the route at work inside; when not given, a 200.
  std::function<bool(const ApiReply& reply)> worked_inside = {};
};

TEST_F(SoundLibraryTest, AFolderSwappedForALinkOutsideLeadsNoRouteThere) {
  const fs::path sub = audio_ / "Sub";
  for (const char* pool : {"c", "r", "m", "d", "v"}) {
    // The "v" clips need converting.
    const int rate = pool[0] == 'v' ? 44100 : 48000;
    for (int i = 0; i < kFilesPerPool; ++i) {
      const std::string name = pool + std::to_string(i) + ".wav";
      WriteToneWav(sub / name, kInsideSeconds, kInsidePeak, rate);
      WriteToneWav(outside_ / name, kOutsideSeconds, kOutsidePeak, rate);
    }
  }
  fs::create_directories(outside_ / "Elsewhere");
  const std::map<std::string, std::string> outside_before = Contents(outside_);
  std::set<std::string> outside_bytes;
  for (const auto& [name, bytes] : outside_before) outside_bytes.insert(bytes);
  const std::string upload = testing::Base64Encode(testing::ReadFile(sub / "c0.wav"));
  fs::create_directory_symlink(outside_, folder_ / "swap");
  ASSERT_TRUE(StartProgram());

  const auto clip = [&](const char* pool, int request) {
    return Text(sub / (pool + std::to_string(request % kFilesPerPool) + ".wav"));
  };
  const auto nothing_read = [](const ApiReply&) { return false; };
  const auto loud = [](const JsonValue* value) {
    return value != nullptr && value->type == JsonValue::Type::Number && value->number_value > -3;
  };
  const auto lists_size = [](const ApiReply& reply, uintmax_t size) {
    const JsonValue* files = reply.json.Find("files");
    if (files == nullptr) return false;
    for (const JsonValue& file : files->array_value) {
      if (file.GetNumber("size_bytes", 0) == static_cast<double>(size)) return true;
    }
    return false;
  };
  const uintmax_t inside_size = fs::file_size(sub / "c0.wav");
  const uintmax_t outside_size = fs::file_size(outside_ / "c0.wav");
  const auto first_file = [](const ApiReply& reply) -> const JsonValue* {
    const JsonValue* files = reply.json.Find("files");
    return files != nullptr && !files->array_value.empty() ? &files->array_value[0] : nullptr;
  };
  const auto first_duration_ms = [&](const ApiReply& reply) {
    const JsonValue* file = first_file(reply);
    return file != nullptr ? file->GetNumber("duration_ms", 0) : 0.0;
  };
  const std::vector<RacedRoute> routes = {
      {"/api/mixer/files", [](int) { return JsonValue::MakeObject(); },
       [&](const ApiReply& reply) { return lists_size(reply, outside_size); },
       [&](const ApiReply& reply) { return lists_size(reply, inside_size); }},
      {"/api/mixer/folders", [](int) { return JsonValue::MakeObject(); },
       [](const ApiReply& reply) { return reply.http.body.find("Elsewhere") != std::string::npos; },
       [](const ApiReply& reply) { return reply.http.body.find("\"Sub\"") != std::string::npos; }},
      {"/api/mixer/analyze",
       [&](int i) {
         JsonValue paths = JsonValue::MakeArray();
         paths.PushBack(clip("c", i));
         return Json({{"paths", paths}});
       },
       [&](const ApiReply& reply) { return first_duration_ms(reply) > kInsideSeconds * 1000; },
       [&](const ApiReply& reply) {
         const double duration_ms = first_duration_ms(reply);
         return duration_ms > 0 && duration_ms <= kInsideSeconds * 1000;
       }},
      {"/api/mixer/trim/source", [&](int i) { return Json({{"path", clip("c", i)}}); },
       [&](const ApiReply& reply) { return outside_bytes.count(reply.http.body) > 0; }},
      {"/api/mixer/files/volume-health", [&](int i) { return Json({{"path", clip("c", i)}}); },
       [&](const ApiReply& reply) {
         const JsonValue* file = first_file(reply);
         return file != nullptr && loud(file->Find("peak_dbfs"));
       }},
      {"/api/mixer/files/normalize", [&](int i) { return Json({{"path", clip("c", i)}}); },
       [&](const ApiReply& reply) { return loud(reply.json.Find("peak_before_dbfs")); }},
      {"/api/mixer/files/merge",
       [&](int i) { return Json({{"first_path", clip("c", i)}, {"second_path", clip("c", i + 1)}}); },
       [&](const ApiReply& reply) {
         return reply.json.GetNumber("duration_seconds", 0) > 2 * kInsideSeconds + 0.001;
       }},
      {"/api/mixer/trim/export",
       [&](int i) { return Json({{"wav_base64", upload}, {"source_path", clip("c", i)}}); },
       nothing_read},
      {"/api/mixer/convert",
       [&](int i) {
         JsonValue paths = JsonValue::MakeArray();
         paths.PushBack(clip("v", i));
         return Json({{"paths", paths}});
       },
       nothing_read,
       [](const ApiReply& reply) {
         const JsonValue* summary = reply.json.Find("summary");
         return summary != nullptr && summary->GetNumber("converted", 0) > 0;
       }},
      {"/api/mixer/files/rename",
       [&](int i) {
         return Json({{"path", clip("r", i)}, {"new_filename", "renamed" + std::to_string(i)}});
       },
       nothing_read},
      {"/api/mixer/files/move",
       [&](int i) { return Json({{"path", clip("m", i)}, {"destination_relative_dir", ""}}); },
       nothing_read},
      {"/api/mixer/files/delete", [&](int i) { return Json({{"path", clip("d", i)}}); },
       nothing_read},
  };
  {
    FolderSwapper swapper(sub, folder_ / "swap");
    for (const RacedRoute& route : routes) {
      int answered = 0;
      int requests = 0;
      const int exchanges_before = swapper.Exchanges();
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
      for (; std::chrono::steady_clock::now() < until; ++requests) {
        ApiReply reply = Post(route.route, route.body(requests));
        EXPECT_FALSE(route.shows_outside(reply)) << route.route << ": " << reply.http.body;
        if (route.worked_inside ? route.worked_inside(reply) : reply.status == 200) ++answered;
      }
      const int exchanges = swapper.Exchanges() - exchanges_before;
      std::cout << route.route << ": " << answered << " of " << requests
                << " worked inside, " << exchanges << " exchanges meanwhile\n";
      // Otherwise the route was never raced, or never reached the folder at all.
      EXPECT_GT(exchanges, 0) << route.route;
      EXPECT_GT(answered, 0) << route.route;
    }
  }
  EXPECT_TRUE(Contents(outside_) == outside_before)
      << "a file outside was changed, removed, or one was added";
}

}  // namespace
}  // namespace zennic
