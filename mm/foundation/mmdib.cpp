#include "mmdib.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

#include "bitmapdecode.h"
#include "mmresources.h"
#include "replacingfile.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// The header fields every query needs, from a Windows (40 bytes or more) or core (12) header.
struct Header {
  uint32_t size = 0;
  int32_t width = 0, height = 0;
  int bits = 0;
  uint32_t compression = 0, sizeImage = 0, clrUsed = 0;
  bool core = false;
};

std::optional<Header> ReadHeader(TDIBView dib) {
  if (dib.size() < 4) return std::nullopt;
  Header h;
  h.size = Le32(dib.data());
  if (h.size == sizeof(BITMAPCOREHEADER) && dib.size() >= h.size) {
    BITMAPCOREHEADER c;
    std::memcpy(&c, dib.data(), sizeof c);
    h.width = c.bcWidth;
    h.height = c.bcHeight;
    h.bits = c.bcBitCount;
    h.core = true;
    return h;
  }
  if (h.size < sizeof(BITMAPINFOHEADER) || dib.size() < h.size) return std::nullopt;
  BITMAPINFOHEADER b;
  std::memcpy(&b, dib.data(), sizeof b);
  h.width = b.biWidth;
  h.height = b.biHeight;
  h.bits = b.biBitCount;
  h.compression = b.biCompression;
  h.sizeImage = b.biSizeImage;
  h.clrUsed = b.biClrUsed;
  return h;
}

BITMAPINFOHEADER* Info(TDIB& dib) { return reinterpret_cast<BITMAPINFOHEADER*>(dib.data()); }

int64_t Abs(int64_t v) { return v < 0 ? -v : v; }

// a·b for non-negative factors, held at INT64_MAX instead of overflowing: a hostile header's
// product is then simply larger than any block.
int64_t SaturatedProduct(int64_t a, int64_t b) {
  if (a != 0 && b > INT64_MAX / a) return INT64_MAX;
  return a * b;
}

// The sixteen standard colours, by which a new DIB's colour table is filled.
constexpr uint8_t kStandard16[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

// The static colours of the system palette: entries 0-9 and 246-255.
constexpr uint8_t kStaticLow[10][3] = {
    {0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
constexpr uint8_t kStaticHigh[10][3] = {
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};

// Nothing a bitmap of this library needs is larger; it keeps a lying header from asking for
// gigabytes.
constexpr int64_t kMaxImageBytes = int64_t{1} << 30;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header queries

bool IsWinDIB(TDIBView dib) { return dib.size() >= 4 && Le32(dib.data()) == 40; }

namespace {
template <typename T>
T Field(TDIBView dib, T Header::*member) {
  const auto h = ReadHeader(dib);
  return h ? (*h).*member : T{};
}
}  // namespace

int32_t DIB_Width(TDIBView dib) { return Field(dib, &Header::width); }
int32_t DIB_Height(TDIBView dib) { return Field(dib, &Header::height); }
uint32_t DIB_Compression(TDIBView dib) { return Field(dib, &Header::compression); }
int DIB_BitCount(TDIBView dib) { return Field(dib, &Header::bits); }

uint32_t DIB_NumColors(TDIBView dib) {
  const auto h = ReadHeader(dib);
  if (!h) return 0;
  if (h->clrUsed != 0) return h->clrUsed;
  return h->bits <= 8 ? (1u << h->bits) : 0;
}

int64_t DIB_WidthBytesN(TDIBView dib, int bits) {
  const auto h = ReadHeader(dib);
  if (!h || bits < 0) return 0;
  return (int64_t{bits} * Abs(h->width) + 31) / 32 * 4;
}

int64_t DIB_WidthBytes(TDIBView dib) { return DIB_WidthBytesN(dib, DIB_BitCount(dib)); }
int64_t DIB_PaletteSize(TDIBView dib) { return int64_t{4} * DIB_NumColors(dib); }

int64_t DIB_BISize(TDIBView dib) {
  const auto h = ReadHeader(dib);
  return h ? h->size + DIB_PaletteSize(dib) : 0;
}

int64_t DIB_SizeImage(TDIBView dib) {
  const auto h = ReadHeader(dib);
  if (!h) return 0;
  return h->sizeImage != 0 ? int64_t{h->sizeImage}
                           : SaturatedProduct(DIB_WidthBytes(dib), Abs(h->height));
}

int64_t DIB_Size(TDIBView dib) {
  const auto h = ReadHeader(dib);
  if (!h) return 0;
  const int64_t table = h->compression == BI_BITFIELDS ? 12 : DIB_PaletteSize(dib);
  const int64_t image = DIB_SizeImage(dib);
  return image > INT64_MAX - h->size - table ? INT64_MAX : h->size + table + image;
}

int32_t DIB_FlipY(TDIBView dib, int32_t y) { return DIB_Height(dib) - y - 1; }

int64_t DIB_Colors(TDIBView dib) {
  const auto h = ReadHeader(dib);
  return h && h->size <= dib.size() ? int64_t{h->size} : -1;
}

int64_t DIB_Ptr(TDIBView dib) {
  const auto h = ReadHeader(dib);
  if (!h) return -1;
  const int64_t table = h->compression == BI_BITFIELDS ? 12 : DIB_PaletteSize(dib);
  const int64_t ptr = h->size + table;
  return ptr <= static_cast<int64_t>(dib.size()) ? ptr : -1;
}

int64_t DIB_XYN(TDIBView dib, int64_t ptr, int32_t x, int bits, int32_t y) {
  return ptr + int64_t{y} * DIB_WidthBytesN(dib, bits) + int64_t{x} * bits / 8;
}

int64_t DIB_XY(TDIBView dib, int32_t x, int32_t y) {
  return DIB_XYN(dib, DIB_Ptr(dib), x, DIB_BitCount(dib), y);
}

// ---------------------------------------------------------------------------------------------
// Creation and files

TDIB DIB_Create(int bitCount, int direction, int32_t width, int32_t height, bool withBits) {
  // 32 bits stay 32 so a picture's alpha can be kept; other depths above 8 become 24.
  if (bitCount > 8 && bitCount != 32) bitCount = 24;
  width = std::max(width, 1);
  height = std::max(height, 1);
  const int64_t rowBytes = (int64_t{bitCount} * width + 31) / 32 * 4;
  const int64_t image = withBits ? SaturatedProduct(rowBytes, height) : 0;
  if (image > kMaxImageBytes) return {};
  TDIB dib(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) + static_cast<size_t>(image), 0);
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = width;
  h.biHeight = direction < 0 ? -height : height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bitCount);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<uint32_t>(image);
  h.biClrUsed = bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
  std::memcpy(dib.data(), &h, sizeof h);
  for (uint32_t i = 0; i < h.biClrUsed; ++i) {
    const uint8_t* c = kStandard16[i % 16];
    RGBQUAD q{c[2], c[1], c[0], 0};
    std::memcpy(dib.data() + sizeof h + 4 * i, &q, 4);
  }
  return dib;
}

void DIB_Free(TDIB& dib) {
  dib.clear();
  dib.shrink_to_fit();
}

namespace {

bool ReadExact(std::istream& f, void* buffer, size_t n) {
  f.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
  return f.gcount() == static_cast<std::streamsize>(n);
}

}  // namespace

TDIB DIB_ReadBitmapInfo(std::istream& file) {
  const std::streampos start = file.tellg();
  if (start < 0) return {};
  uint8_t fh[sizeof(BITMAPFILEHEADER)];
  uint32_t pixelOffset = 0;
  const bool fileHeader = ReadExact(file, fh, sizeof fh) && Le16(fh) == 0x4D42;
  if (fileHeader) {
    pixelOffset = Le32(fh + 10);
  } else {
    file.clear();
    file.seekg(start);
  }
  // The header, and the masks a header too short to hold them is followed by.
  std::vector<uint8_t> info(4);
  if (!ReadExact(file, info.data(), 4)) return {};
  const uint32_t headerSize = Le32(info.data());
  if (headerSize != sizeof(BITMAPCOREHEADER) &&
      (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > 1024)) {
    return {};
  }
  info.resize(headerSize);
  if (!ReadExact(file, info.data() + 4, headerSize - 4)) return {};
  const uint32_t compression = headerSize >= sizeof(BITMAPINFOHEADER) ? Le32(&info[16]) : BI_RGB;
  const bool bitFields =
      compression == BI_BITFIELDS || compression == vant::bitmap::kAlphaBitFields;
  const uint32_t maskCount = compression == BI_BITFIELDS ? 3 : 4;
  if (bitFields && headerSize < 52) {
    info.resize(headerSize + 4 * maskCount);
    if (!ReadExact(file, info.data() + headerSize, 4 * maskCount)) return {};
  }
  const auto format = vant::bitmap::ReadFormat(info);
  if (!format || format->width == 0 || format->rows == 0) return {};
  // The pixels follow the header.
  if (fileHeader && pixelOffset < sizeof fh + headerSize) return {};

  // Later header versions carry more fields; the library works with the first 40 bytes.
  BITMAPINFOHEADER h{};
  if (!format->Core()) std::memcpy(&h, info.data(), sizeof h);
  h.biSize = sizeof h;
  h.biWidth = format->width;
  h.biHeight = format->topDown ? -format->rows : format->rows;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(format->bits);
  // The colour table, or the masks in its place; an optional table beside masks is left out.
  h.biClrUsed = bitFields ? maskCount : format->Entries();
  if (!format->RunLength() || h.biSizeImage == 0) {
    h.biSizeImage = static_cast<uint32_t>(format->Stride() * format->rows);
  }
  TDIB dib(sizeof h + 4 * size_t{h.biClrUsed}, 0);
  std::memcpy(dib.data(), &h, sizeof h);
  uint8_t* table = dib.data() + sizeof h;
  if (bitFields) {
    for (uint32_t i = 0; i < maskCount; ++i) std::memcpy(table + 4 * i, &format->masks[i], 4);
  } else if (format->Core()) {
    for (uint32_t i = 0; i < h.biClrUsed; ++i) {
      if (!ReadExact(file, table + 4 * i, 3)) return {};  // 3-byte entries widened to 4
    }
  } else if (!ReadExact(file, table, 4 * size_t{h.biClrUsed})) {
    return {};
  }
  if (fileHeader) file.seekg(start + std::streamoff(pixelOffset));
  return dib;
}

TDIB DIB_OpenFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) {
    // A bitmap resource of that name, as a copy the caller owns.
    const auto res = FindResourceBytes("BITMAP", fileName);
    if (res.empty() || DIB_Ptr(res) < 0) return {};
    return TDIB(res.begin(), res.end());
  }
  TDIB dib = DIB_ReadBitmapInfo(file);
  if (dib.empty()) return {};
  const std::streampos here = file.tellg();
  file.seekg(0, std::ios::end);
  const std::streamoff left = file.tellg() - here;
  if (here < 0 || left < 0) return {};
  // Run-length codes go on to the end of the file, whatever size the header gives them; rows
  // are all there or the picture is refused.
  const bool runLength = Info(dib)->biCompression == BI_RLE8 || Info(dib)->biCompression == BI_RLE4;
  const int64_t image = runLength ? int64_t{left} : int64_t{Info(dib)->biSizeImage};
  if (left < image || image > kMaxImageBytes) return {};
  Info(dib)->biSizeImage = static_cast<uint32_t>(image);
  file.seekg(here);
  const size_t at = dib.size();
  dib.resize(at + static_cast<size_t>(image));
  if (!ReadExact(file, dib.data() + at, static_cast<size_t>(image))) return {};
  return dib;
}

// ---------------------------------------------------------------------------------------------
// Colour tables and palettes

namespace {

TLogPalette DefaultPalette() {
  TLogPalette p;
  for (const auto& c : kStaticLow) p.entries.push_back({c[0], c[1], c[2], 0});
  for (const auto& c : kStaticHigh) p.entries.push_back({c[0], c[1], c[2], 0});
  return p;
}

// Header, a colour table of `entries` entries and the pixels the block holds, or nothing.
struct Layout {
  Header h;
  int64_t colors = 0, entries = 0, pixels = 0, pixelBytes = 0;
};

std::optional<Layout> LayoutOf(TDIBView dib) {
  const auto h = ReadHeader(dib);
  if (!h || h->core) return std::nullopt;
  Layout l;
  l.h = *h;
  l.colors = h->size;
  const bool masks =
      h->compression == BI_BITFIELDS || h->compression == vant::bitmap::kAlphaBitFields;
  l.entries = masks ? 0 : DIB_NumColors(dib);
  l.pixels = DIB_Ptr(dib);
  if (l.pixels < 0) return std::nullopt;
  l.pixelBytes = std::min<int64_t>(DIB_SizeImage(dib), int64_t(dib.size()) - l.pixels);
  return l;
}

// Runs of RLE8 data translated in place; every count is checked against the data.
void TranslateRle8(uint8_t* p, int64_t n, const uint8_t (&map)[256]) {
  int64_t i = 0;
  while (i + 1 < n) {
    const uint8_t count = p[i], value = p[i + 1];
    if (count != 0) {
      p[i + 1] = map[value];
      i += 2;
      continue;
    }
    if (value == 0) {  // end of line
      i += 2;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // position change: two bytes
      i += 4;
    } else {  // literal colours, padded to an even count
      const int64_t end = std::min<int64_t>(i + 2 + value, n);
      for (int64_t k = i + 2; k < end; ++k) p[k] = map[p[k]];
      i += 2 + value + (value & 1);
    }
  }
}

}  // namespace

bool DIB_SetUsage(TDIB& dib, const TLogPalette* palette, int usage) {
  if (dib.empty()) return false;
  const auto l = LayoutOf(dib);
  if (!l || l->entries == 0) return true;  // no colour table, or bit-field masks
  const int64_t entries = std::min<int64_t>(l->entries, (l->pixels - l->colors) / 4);
  uint8_t* table = dib.data() + l->colors;
  if (usage == 1) {
    for (int64_t i = 0; i < entries; ++i) {
      table[2 * i] = static_cast<uint8_t>(i);
      table[2 * i + 1] = static_cast<uint8_t>(i >> 8);
    }
    return true;
  }
  const TLogPalette fallback = DefaultPalette();
  const TLogPalette& pal = palette != nullptr ? *palette : fallback;
  const int64_t n = std::min<int64_t>({entries, 256, int64_t(pal.entries.size())});
  for (int64_t i = 0; i < n; ++i) {
    const auto& e = pal.entries[static_cast<size_t>(i)];
    table[4 * i] = e.peBlue;
    table[4 * i + 1] = e.peGreen;
    table[4 * i + 2] = e.peRed;
    table[4 * i + 3] = 0;
  }
  return true;
}

bool DIB_MapToPalette(TDIB& dib, const TLogPalette& palette) {
  const auto l = LayoutOf(dib);
  if (!l || l->entries == 0 || palette.entries.empty()) return false;
  const int bits = l->h.bits;
  if (bits != 4 && bits != 8) return false;
  // A 4-bit pixel can only name the first 16 entries.
  const size_t count = std::min<size_t>(palette.entries.size(), bits == 4 ? 16 : 256);
  const int64_t oldEntries = std::min<int64_t>(l->entries, (l->pixels - l->colors) / 4);
  uint8_t map[256] = {};
  for (int64_t i = 0; i < oldEntries && i < 256; ++i) {
    const uint8_t* q = dib.data() + l->colors + 4 * i;
    map[i] = static_cast<uint8_t>(PaletteNearestIndex(palette, count, q[2], q[1], q[0]));
  }
  TDIB out(dib.begin(), dib.begin() + l->colors);
  for (size_t i = 0; i < count; ++i) {
    const auto& e = palette.entries[i];
    out.insert(out.end(), {e.peBlue, e.peGreen, e.peRed, 0});
  }
  const size_t pixels = out.size();
  out.insert(out.end(), dib.begin() + l->pixels, dib.begin() + l->pixels + l->pixelBytes);
  Info(out)->biClrUsed = static_cast<uint32_t>(count);
  uint8_t* p = out.data() + pixels;
  const int64_t n = l->pixelBytes;
  switch (l->h.compression) {
    case BI_RGB:
      if (bits == 8) {
        for (int64_t i = 0; i < n; ++i) p[i] = map[p[i]];
      } else {
        for (int64_t i = 0; i < n; ++i)
          p[i] = static_cast<uint8_t>(map[p[i] >> 4] << 4 | map[p[i] & 15]);
      }
      break;
    case BI_RLE8:
      TranslateRle8(p, n, map);
      break;
    default:
      break;  // 4-bit run-length data keeps its indices
  }
  dib = std::move(out);
  return true;
}

std::optional<TLogPalette> DIB_MakePalette(TDIBView dib) {
  const auto l = LayoutOf(dib);
  if (!l) return std::nullopt;
  TLogPalette p;
  if (l->entries > 0) {
    const int64_t n = std::min<int64_t>({l->entries, (l->pixels - l->colors) / 4, 256});
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* q = dib.data() + l->colors + 4 * i;
      p.entries.push_back({q[2], q[1], q[0], 0});
    }
    return p;
  }
  if (l->h.bits == 24) {
    for (int i = 0; i < 256; ++i) {
      p.entries.push_back({static_cast<uint8_t>(32 * (i % 8)),
                           static_cast<uint8_t>(32 * ((i / 8) % 8)),
                           static_cast<uint8_t>(64 * (i / 64)), 0});
    }
    return p;
  }
  return std::nullopt;
}

int PaletteNearestIndex(const TLogPalette& palette, size_t count, uint8_t r, uint8_t g, uint8_t b) {
  int best = 0;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (size_t i = 0; i < count; ++i) {
    const auto& e = palette.entries[i];
    const int64_t dr = int{e.peRed} - r, dg = int{e.peGreen} - g, db = int{e.peBlue} - b;
    const int64_t d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
      if (d == 0) break;  // nothing later can be nearer
    }
  }
  return best;
}

void DIB_Info(TDIBView) {}

// A true-colour display has no hardware palette to empty.
void ClearSystemPalette() {}

TLogPalette CreateSystemColorPalette() {
  TLogPalette p;
  p.entries.assign(256, PALETTEENTRY{0, 0, 0, 0});
  for (int i = 0; i < 10; ++i) {
    p.entries[i] = {kStaticLow[i][0], kStaticLow[i][1], kStaticLow[i][2], 0};
    p.entries[246 + i] = {kStaticHigh[i][0], kStaticHigh[i][1], kStaticHigh[i][2], 0};
  }
  return p;
}

// ---------------------------------------------------------------------------------------------
// RIFF palette files

std::optional<TLogPalette> LoadPalette(const std::filesystem::path& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return std::nullopt;
  // A palette file is small: 4 + 4 × 65,535 bytes of data at most.
  std::vector<uint8_t> bytes(300 * 1024);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(file.gcount()));
  if (bytes.size() < 12 || Le32(bytes.data()) != 0x46464952 /* RIFF */ ||
      std::memcmp(bytes.data() + 8, "PAL ", 4) != 0) {
    return std::nullopt;
  }
  const uint64_t end = std::min<uint64_t>(8 + uint64_t{Le32(bytes.data() + 4)}, bytes.size());
  for (uint64_t pos = 12; pos + 8 <= end;) {
    const uint32_t size = Le32(bytes.data() + pos + 4);
    if (std::memcmp(bytes.data() + pos, "data", 4) == 0) {
      // The whole chunk must be there, and hold the count it announces.
      if (size < 4 || pos + 8 + size > bytes.size()) return std::nullopt;
      const uint8_t* d = bytes.data() + pos + 8;
      const uint16_t version = Le16(d), count = Le16(d + 2);
      if (version != 0x300 || count == 0 || 4 + 4 * uint64_t{count} > size) return std::nullopt;
      TLogPalette p;
      p.palVersion = version;
      for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = d + 4 + 4 * i;
        p.entries.push_back({e[0], e[1], e[2], e[3]});
      }
      return p;
    }
    pos += 8 + uint64_t{size} + (size & 1u);
  }
  return std::nullopt;
}

bool SavePalette(const std::filesystem::path& fileName, const TLogPalette& palette) {
  const size_t n = palette.entries.size();
  if (n == 0 || n > 0xFFFF) return false;
  std::vector<uint8_t> out;
  const uint32_t dataBytes = static_cast<uint32_t>(4 + 4 * n);
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  Put32(out, 4 + 8 + dataBytes);
  out.insert(out.end(), {'P', 'A', 'L', ' ', 'd', 'a', 't', 'a'});
  Put32(out, dataBytes);
  Put16(out, palette.palVersion);
  Put16(out, static_cast<uint16_t>(n));
  for (const auto& e : palette.entries)
    out.insert(out.end(), {e.peRed, e.peGreen, e.peBlue, e.peFlags});
  // Replaced whole or not at all: a failed write leaves the file that was there.
  vant::ReplacingFile file(fileName);
  return file.Write(out.data(), out.size()) && file.Commit();
}

// ---------------------------------------------------------------------------------------------
// Pixels

bool DIB_ToPixels(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height) {
  pixels.clear();
  width = height = 0;
  const auto format = IsWinDIB(dib) ? vant::bitmap::ReadFormat(dib) : std::nullopt;
  // A DIB holds at least one pixel, and its pixels follow the colour table.
  if (!format || format->width == 0 || format->rows == 0 ||
      format->TableEnd() > static_cast<int64_t>(dib.size())) {
    return false;
  }
  std::vector<uint32_t> decoded;
  if (!vant::bitmap::DecodePixels(*format, dib, dib.subspan(size_t(format->TableEnd())), false,
                                  decoded)) {
    return false;
  }
  pixels.swap(decoded);
  width = format->width;
  height = format->rows;
  return true;
}
