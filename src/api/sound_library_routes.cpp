// The routes on the clips of an audio folder, each family in its own file.

#include "api/http_api.h"

namespace zennic {

void HttpApi::RegisterSoundLibraryRoutes() {
  const auto add = [this](const char* path, HttpResponse (HttpApi::*handler)(const JsonValue&)) {
    routes_.emplace(path,
                    [this, handler](const JsonValue& body) { return (this->*handler)(body); });
  };
  add("/api/mixer/files", &HttpApi::HandleFiles);
  add("/api/mixer/folders", &HttpApi::HandleFolders);
  add("/api/mixer/folders/create", &HttpApi::HandleFoldersCreate);
  add("/api/mixer/files/delete", &HttpApi::HandleFilesDelete);
  add("/api/mixer/files/move", &HttpApi::HandleFilesMove);
  add("/api/mixer/files/rename", &HttpApi::HandleFilesRename);
  add("/api/mixer/files/normalize", &HttpApi::HandleFilesNormalize);
  add("/api/mixer/files/merge", &HttpApi::HandleFilesMerge);
  add("/api/mixer/files/volume-health", &HttpApi::HandleFilesVolumeHealth);
  add("/api/mixer/trim/source", &HttpApi::HandleTrimSource);
  add("/api/mixer/trim/export", &HttpApi::HandleTrimExport);
  add("/api/mixer/analyze", &HttpApi::HandleAnalyze);
  add("/api/mixer/convert", &HttpApi::HandleConvert);
}

}  // namespace zennic
