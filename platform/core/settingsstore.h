#pragma once
// The per-user settings store both programs share: a small text file of named, typed values
// (integer, string, binary) that stand where the registry values of the original platform stood.
//
// Every read sees the file as it is now: the file is read once and again only when it changed
// (another inode, size or modification time), once for all the stores of the process. A file
// larger than kMaxFileBytes, far beyond any settings the programs write, is refused unread: it
// answers nothing, as a damaged one does, and every value takes its default. Every write locks the
// file, re-reads it, changes the one value and replaces the file atomically (temporary file +
// rename), so two programs writing different values both keep theirs and a crash never leaves
// half a file.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vant {

class SettingsStore {
 public:
  enum class Type { kNone, kInteger, kString, kBinary };
  struct Value {
    Type type = Type::kNone;
    int64_t integer = 0;
    std::string bytes;  // the string (as stored, usually CP932 or UTF-8) or the binary data
  };

  static constexpr size_t kMaxFileBytes = 1024 * 1024;

  explicit SettingsStore(std::filesystem::path file);
  // The store for a registry-style key of the current user: "Software\QORA\VANTCM" is
  // $XDG_CONFIG_HOME/QORA/VANTCM.conf ($HOME/.config when XDG_CONFIG_HOME is unset). A leading
  // "Software\" is dropped; '/' and '\' both separate the levels.
  static std::filesystem::path FileForKey(std::string_view key);
  // FileForKey("Software\\QORA\\VANTCM").
  static std::filesystem::path DefaultFile();

  const std::filesystem::path& File() const { return file_; }
  bool Exists() const;

  // Names are matched without regard to ASCII case and keep the spelling of their first write.
  Value Get(std::string_view name) const;
  Type TypeOf(std::string_view name) const { return Get(name).type; }
  // Nothing when the value is missing or of another type.
  std::optional<int64_t> GetInteger(std::string_view name) const;
  std::optional<std::string> GetString(std::string_view name) const;
  std::optional<std::string> GetBinary(std::string_view name) const;
  std::vector<std::string> Names() const;

  // False when the store cannot be written or the name is empty, starts with '#' or holds
  // '=', '\n' or '\r'.
  bool SetInteger(std::string_view name, int64_t value);
  bool SetString(std::string_view name, std::string_view value);
  bool SetBinary(std::string_view name, std::string_view data);
  bool Remove(std::string_view name);

 private:
  bool Write(std::string_view name, const Value* value);
  std::filesystem::path file_;
};

}  // namespace vant
