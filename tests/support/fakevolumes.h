#pragma once
// A volume service for tests: drives are folders registered as roots with a type, a readiness
// flag and a label; unmount and eject answer from a script and count their calls.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "volumes.h"

namespace vant::testing {

class FakeVolumes : public vant::volume::VolumeControl {
 public:
  struct Drive {
    vant::volume::DriveType type = vant::volume::DriveType::Fixed;
    bool ready = true;
    std::string label;
    std::string device;  // the drive the medium is in ("/dev/sdb"); empty: none
  };

  Drive& Add(const std::filesystem::path& root, vant::volume::DriveType type,
             std::string label = {}, std::string device = {}) {
    Drive& d = drives_[Key(root)];
    d.type = type;
    d.label = std::move(label);
    d.device = std::move(device);
    return d;
  }
  Drive& At(const std::filesystem::path& root) { return drives_.at(Key(root)); }
  // The mount is gone (the medium was taken out and unmounted).
  void Remove(const std::filesystem::path& root) { drives_.erase(Key(root)); }

  // Unmount fails this many times before it succeeds (-1: always fails), with this errno.
  int unmount_failures = 0;
  int unmount_error = 16;  // EBUSY
  bool eject_ok = true;
  int eject_error = 5;  // EIO
  int unmount_calls = 0;
  int eject_calls = 0;

  // The longest registered root that holds the folder; nullopt for a folder that does not exist.
  std::optional<std::filesystem::path> RootOf(const std::filesystem::path& folder) const override {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) return std::nullopt;
    const std::string f = Key(folder).string();
    std::optional<std::filesystem::path> best;
    for (const auto& [root, d] : drives_) {
      const std::string r = root.string();
      const bool inside = f == r || f.rfind(r == "/" ? r : r + "/", 0) == 0;
      if (inside && (!best || r.size() > best->string().size())) best = root;
    }
    return best;
  }
  vant::volume::DriveType GetDriveType(const std::filesystem::path& root) const override {
    auto it = drives_.find(Key(root));
    return it == drives_.end() ? vant::volume::DriveType::NoRootDir : it->second.type;
  }
  bool IsReady(const std::filesystem::path& root) const override {
    auto it = drives_.find(Key(root));
    return it != drives_.end() && it->second.ready;
  }
  std::optional<vant::volume::VolumeInfo> GetVolumeInformation(
      const std::filesystem::path& root) const override {
    auto it = drives_.find(Key(root));
    if (it == drives_.end() || !it->second.ready) return std::nullopt;
    return vant::volume::VolumeInfo{it->second.label, "fake"};
  }
  std::string DriveOf(const std::filesystem::path& root) const override {
    auto it = drives_.find(Key(root));
    return it == drives_.end() ? std::string() : it->second.device;
  }
  std::optional<std::filesystem::path> MountOfDrive(const std::string& drive) const override {
    for (const auto& [root, d] : drives_) {
      if (!drive.empty() && d.device == drive) return root;
    }
    return std::nullopt;
  }
  vant::volume::VolumeResult Open(const std::filesystem::path& root,
                                  vant::volume::VolumeHandle& out) override {
    const auto type = GetDriveType(root);
    if (type != vant::volume::DriveType::Removable && type != vant::volume::DriveType::CdRom) {
      return {false, 22, "Drive type is incorrect"};
    }
    out = {root, "/dev/fake", type};
    return {true, 0, ""};
  }
  vant::volume::VolumeResult Unmount(const vant::volume::VolumeHandle&) override {
    ++unmount_calls;
    if (unmount_failures < 0) return {false, unmount_error, "unmount failed"};
    if (unmount_failures > 0) {
      --unmount_failures;
      return {false, unmount_error, "unmount failed"};
    }
    return {true, 0, ""};
  }
  vant::volume::VolumeResult Eject(const vant::volume::VolumeHandle&) override {
    ++eject_calls;
    return eject_ok ? vant::volume::VolumeResult{true, 0, ""}
                    : vant::volume::VolumeResult{false, eject_error, "eject failed"};
  }

 private:
  static std::filesystem::path Key(const std::filesystem::path& p) {
    std::string s = p.lexically_normal().string();
    if (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  }
  std::map<std::filesystem::path, Drive> drives_;
};

}  // namespace vant::testing
