#include "mmdib.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>

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
  if (ReadExact(file, fh, sizeof fh) && Le16(fh) == 0x4D42) {
    pixelOffset = Le32(fh + 10);
  } else {
    file.clear();
    file.seekg(start);
  }
  uint8_t sizeField[4];
  if (!ReadExact(file, sizeField, 4)) return {};
  const uint32_t headerSize = Le32(sizeField);
  BITMAPINFOHEADER h{};
  bool core = false;
  if (headerSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER c{};
    c.bcSize = headerSize;
    if (!ReadExact(file, reinterpret_cast<uint8_t*>(&c) + 4, sizeof c - 4)) return {};
    h.biWidth = c.bcWidth;
    h.biHeight = c.bcHeight;
    h.biPlanes = c.bcPlanes;
    h.biBitCount = c.bcBitCount;
    core = true;
  } else if (headerSize >= sizeof(BITMAPINFOHEADER) && headerSize <= 1024) {
    if (!ReadExact(file, reinterpret_cast<uint8_t*>(&h) + 4, sizeof h - 4)) return {};
    // Later header versions carry more fields; the library works with the first 40 bytes.
    file.seekg(headerSize - sizeof h, std::ios::cur);
  } else {
    return {};
  }
  h.biSize = sizeof h;
  const int bits = h.biBitCount;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<int32_t>::min()) {
    return {};
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return {};
  if (h.biClrUsed == 0) {
    if (bits <= 8) h.biClrUsed = 1u << bits;
    if (h.biCompression == BI_BITFIELDS) h.biClrUsed = 3;
  }
  if (h.biClrUsed > 256) return {};
  if (h.biSizeImage == 0) {
    const int64_t image =
        SaturatedProduct((int64_t{bits} * h.biWidth + 31) / 32 * 4, Abs(h.biHeight));
    if (image > kMaxImageBytes) return {};
    h.biSizeImage = static_cast<uint32_t>(image);
  }
  TDIB dib(sizeof h + 4 * size_t{h.biClrUsed}, 0);
  std::memcpy(dib.data(), &h, sizeof h);
  uint8_t* table = dib.data() + sizeof h;
  if (core) {
    for (uint32_t i = 0; i < h.biClrUsed; ++i) {
      if (!ReadExact(file, table + 4 * i, 3)) return {};  // 3-byte entries widened to 4
    }
  } else if (!ReadExact(file, table, 4 * size_t{h.biClrUsed})) {
    return {};
  }
  if (pixelOffset != 0) file.seekg(start + std::streamoff(pixelOffset));
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
  const int64_t image = Info(dib)->biSizeImage;
  const std::streampos here = file.tellg();
  file.seekg(0, std::ios::end);
  const std::streamoff left = file.tellg() - here;
  if (here < 0 || left < image) return {};  // the file holds fewer pixels than announced
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
  l.entries = h->compression == BI_BITFIELDS ? 0 : DIB_NumColors(dib);
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

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

uint32_t Argb(uint8_t r, uint8_t g, uint8_t b) { return kOpaque | r << 16 | g << 8 | b; }

// A channel of a bit-field pixel scaled to 8 bits.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return static_cast<uint8_t>(((pixel & mask) >> shift) * 255u / max);
}

// Run-length codes straight into the pixels (memory row r is display row rows - 1 - r when
// `bottomUp`). Runs and copies are cut at the right edge, so a code costs a step and the pixels
// it shows, and the picture's position only moves forward, so no pixel is written twice. Every
// code of a valid picture writes a pixel or moves on, so it needs fewer codes than pixels plus
// rows; a hostile one is cut off there and costs about a fill of the picture it claims.
void DecodeRle(const uint8_t* p, int64_t n, bool four, int32_t w, int32_t rows, bool bottomUp,
               const uint32_t* colors, uint32_t* pixels) {
  int64_t x = 0, y = 0, i = 0;
  int64_t codes = 2 * (int64_t{w} * rows + rows) + 16;
  auto line = [&] { return pixels + size_t(bottomUp ? rows - 1 - y : y) * size_t(w); };
  while (i + 1 < n && y < rows && codes-- > 0) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count != 0) {
      uint32_t* d = line();
      for (int64_t k = 0, end = std::min<int64_t>(count, w - x); k < end; ++k) {
        d[x + k] = colors[four ? ((k & 1) ? value & 15 : value >> 4) : value];
      }
      x += count;
      continue;
    }
    if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (i + 1 >= n) return;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {
      const int64_t bytes = four ? (value + 1) / 2 : value;
      // A copy the data ends inside shows what it holds.
      const int64_t held = std::min<int64_t>(value, four ? 2 * (n - i) : n - i);
      uint32_t* d = line();
      for (int64_t k = 0, end = std::min<int64_t>(held, w - x); k < end; ++k) {
        const uint8_t b = p[i + (four ? k / 2 : k)];
        d[x + k] = colors[four ? ((k & 1) ? b & 15 : b >> 4) : b];
      }
      if (held < value) return;
      x += value;
      i += bytes + (bytes & 1);
    }
  }
}

}  // namespace

namespace {

bool Decode(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height) {
  width = height = 0;
  if (!IsWinDIB(dib)) return false;
  const int32_t w = DIB_Width(dib), h = DIB_Height(dib);
  const int bits = DIB_BitCount(dib);
  const uint32_t compression = DIB_Compression(dib);
  const int64_t ptr = DIB_Ptr(dib), colors = DIB_Colors(dib);
  if (w <= 0 || h == 0 || h == INT32_MIN || ptr < 0) return false;
  const int32_t rows = h < 0 ? -h : h;
  // 16 million pixels bound what a run-length header may ask for.
  if (int64_t{w} * rows > (int64_t{1} << 24)) return false;
  const uint8_t* px = dib.data() + ptr;
  const int64_t have = int64_t(dib.size()) - ptr;
  const int64_t stride = DIB_WidthBytes(dib);

  std::vector<uint32_t> table;
  if (bits <= 8) {
    const int64_t entries = std::min<int64_t>(DIB_NumColors(dib), (ptr - colors) / 4);
    for (int64_t i = 0; i < entries; ++i) {
      const uint8_t* q = dib.data() + colors + 4 * i;
      table.push_back(Argb(q[2], q[1], q[0]));
    }
  }
  auto lookup = [&](uint32_t i) { return i < table.size() ? table[i] : kOpaque; };

  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (compression == BI_BITFIELDS) {
    if (ptr - colors < 12) return false;
    for (int k = 0; k < 3; ++k) masks[k] = Le32(dib.data() + colors + 4 * k);
  }

  // Everything a header can be refused for is checked before anything is allocated.
  const bool runLength = compression == BI_RLE8 || compression == BI_RLE4;
  const bool decodable = runLength ? bits == (compression == BI_RLE8 ? 8 : 4)
                                   : (compression == BI_RGB || compression == BI_BITFIELDS) &&
                                         (bits == 1 || bits == 4 || bits == 8 || bits == 16 ||
                                          bits == 24 || bits == 32);
  if (!decodable) return false;
  if (!runLength && stride > have / rows) return false;
  const int64_t codeBytes = std::max<int64_t>(0, std::min<int64_t>(have, DIB_SizeImage(dib)));
  if (runLength && codeBytes < 2) return false;
  // Memory row r is display row r for top-down DIBs, rows - 1 - r for bottom-up ones.
  auto out = [&](int32_t r) {
    return pixels.data() + size_t(h < 0 ? r : rows - 1 - r) * size_t(w);
  };

  if (runLength) {
    // What no code reaches keeps index 0.
    uint32_t colors[256];
    for (uint32_t i = 0; i < 256; ++i) colors[i] = lookup(i);
    pixels.assign(size_t(w) * size_t(rows), colors[0]);
    DecodeRle(px, codeBytes, compression == BI_RLE4, w, rows, h > 0, colors, pixels.data());
  } else {
    pixels.assign(size_t(w) * size_t(rows), kOpaque);
    for (int32_t r = 0; r < rows; ++r) {
      const uint8_t* s = px + stride * r;
      uint32_t* d = out(r);
      for (int32_t x = 0; x < w; ++x) {
        switch (bits) {
          case 1:
            d[x] = lookup((s[x / 8] >> (7 - x % 8)) & 1);
            break;
          case 4:
            d[x] = lookup((x & 1) ? s[x / 2] & 15 : s[x / 2] >> 4);
            break;
          case 8:
            d[x] = lookup(s[x]);
            break;
          case 16: {
            const uint32_t v = s[2 * x] | s[2 * x + 1] << 8;
            d[x] = Argb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
            break;
          }
          case 24:
            d[x] = Argb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
            break;
          case 32: {
            const uint32_t v = Le32(s + 4 * x);
            d[x] = Argb(Channel(v, masks[0]), Channel(v, masks[1]), Channel(v, masks[2]));
            break;
          }
          default:
            return false;
        }
      }
    }
  }
  width = w;
  height = rows;
  return true;
}

}  // namespace

bool DIB_ToPixels(TDIBView dib, std::vector<uint32_t>& pixels, int32_t& width, int32_t& height) {
  pixels.clear();
  width = height = 0;
  std::vector<uint32_t> decoded;
  if (!Decode(dib, decoded, width, height)) {
    width = height = 0;
    return false;
  }
  pixels.swap(decoded);
  return true;
}
