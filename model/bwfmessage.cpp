#include "bwfmessage.h"

#include <system_error>

#include "bwfchunk.h"
#include "bwfnotify.h"
#include "progstart.h"

namespace fs = std::filesystem;

namespace {

struct Edition {
  const char* viewer_title;
  const char* converter_title;
  const char* converter_program;
};

constexpr Edition kEditions[] = {
    {"ミルダ ポストプロダクション仕様", "オルネ　ポストプロダクション仕様", "Pallin"},
    {"ミルダ 広告会社仕様", "オルネ　広告会社仕様", "Orlune"},
    {"ミルダ 放送局仕様", "オルネ　放送局仕様", "Ferrio"},
};

const Edition* EditionOf(int code) {
  return code >= 1 && code <= 3 ? &kEditions[code - 1] : nullptr;
}

void ShowPlain(const char* text) { GetBWFNotifier().Plain(text); }

std::string Absolute(const std::filesystem::path& p) {
  std::error_code ec;
  auto a = std::filesystem::absolute(p, ec);
  return (ec ? p : a).lexically_normal().string();
}

}  // namespace

std::string ViewerTitle(int edition) {
  const Edition* e = EditionOf(edition);
  return e ? e->viewer_title : "";
}

std::string ConverterTitle(int edition) {
  const Edition* e = EditionOf(edition);
  return e ? e->converter_title : "";
}

std::string ConverterProgram(int edition) {
  const Edition* e = EditionOf(edition);
  return e ? e->converter_program : "";
}

bool NotifyViewer(const TBWFChunck& chunk, int edition,
                  const std::optional<vant::ipc::WindowRef>& window) {
  const std::string title = ViewerTitle(edition);
  if (title.empty()) return false;
  std::optional<vant::ipc::WindowRef> target;
  if (window && vant::ipc::IsWindow(*window)) {
    target = window;
  } else {
    target = vant::ipc::FindWindowByTitle(title);
  }
  if (!target) return false;
  // The folder of the absolute path: a bare name has an empty folder part, which is no folder.
  std::string folder = fs::path(Absolute(chunk.GetPath())).parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return vant::ipc::SendCopyData(*target, folder) == vant::ipc::SendResult::kDelivered;
}

bool OpenWithApplication(const std::string& program, const std::filesystem::path& file,
                         std::string_view title) {
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) {
    ShowPlain(kMsgShowFileMissing);
    return false;
  }
  if (program.empty()) {
    ShowPlain(kMsgNoApplication);
    return false;
  }
  const std::string path = Absolute(file);
  if (!title.empty()) {
    if (auto window = vant::ipc::FindWindowByTitle(title)) {
      vant::ipc::ActivateWindow(*window);
      return vant::ipc::SendCopyData(*window, path) == vant::ipc::SendResult::kDelivered;
    }
  }
  const vant::StartResult r = vant::StartProgram({program, path});
  if (r >= 32) return true;
  struct Failure {
    int code;
    const char* message;
  };
  static constexpr Failure kFailures[] = {
      {vant::kStartOutOfResources, kMsgStartNoResources},
      {vant::kStartBadFormat, kMsgStartBadFormat},
      {vant::kStartFileNotFound, kMsgStartFileNotFound},
      {vant::kStartPathNotFound, kMsgStartPathNotFound},
  };
  const char* message = kMsgStartOther;
  for (const Failure& f : kFailures) {
    if (f.code == r) message = f.message;
  }
  ShowPlain(message);
  return false;
}
