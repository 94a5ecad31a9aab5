#pragma once
// The clipboard with registered formats: each format name gets a number, and data of several
// formats can be put on the clipboard together between Open and Close. Text (CF_TEXT) is the
// toolkit's plain text and pictures (CF_BITMAP) its image, so other programs see them.
#include <cstdint>
#include <optional>
#include <string>

namespace vant {

constexpr uint32_t CF_TEXT = 1;
// A picture as the bytes of a BMP file. Other programs see it as the toolkit's image; a picture
// another program put there is read back as BMP bytes (32 bits, alpha kept).
constexpr uint32_t CF_BITMAP = 2;

// The number of a named private format (0xC000 and up; the same name answers the same number).
uint32_t RegisterClipboardFormat(const std::string& name);

class TClipboard {
 public:
  // Between Open and Close the Set calls collect; Close puts them on the clipboard at once.
  // Outside a bracket each Set replaces the clipboard's contents.
  void Open();
  void Close();
  void Clear();
  bool HasFormat(uint32_t format) const;
  void SetData(uint32_t format, const std::string& bytes);
  std::optional<std::string> GetData(uint32_t format) const;
  // UTF-8 text.
  void SetAsText(const std::string& text) { SetData(CF_TEXT, text); }
  std::string GetAsText() const { return GetData(CF_TEXT).value_or(""); }

 private:
  int open_ = 0;
  struct Pending;
  Pending* pending_ = nullptr;
};

TClipboard& Clipboard();

}  // namespace vant
