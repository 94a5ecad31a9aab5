#include "g32_picture.h"

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <ostream>
#include <sstream>

#include "g32.h"
#include "replacingfile.h"

namespace g32 {
namespace {

uint32_t U16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t U32(const uint8_t* p) { return U16(p) | U16(p + 2) << 16; }
int32_t S32(const uint8_t* p) { return int32_t(U32(p)); }

[[noreturn]] void BadBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

// Extracts a channel through a bit mask, scaled to 0..255.
struct MaskChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit MaskChannel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint32_t Get(uint32_t v) const {
    if (!mask) return 0;
    return uint32_t((uint64_t((v & mask) >> shift) * 255 + max / 2) / max);
  }
};

void DecodeRle(std::span<const uint8_t> data, size_t pos, bool four, int w, int h,
               std::vector<uint8_t>& idx) {
  // Indexes per pixel, bottom row first as stored.
  int x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) idx[size_t(y) * w + x] = v;
    ++x;
  };
  while (pos + 1 < data.size() && y < h) {
    uint8_t n = data[pos], v = data[pos + 1];
    pos += 2;
    if (n) {
      for (int i = 0; i < n; ++i) put(four ? ((i & 1) ? (v & 15) : (v >> 4)) : v);
    } else if (v == 0) {
      x = 0, ++y;
    } else if (v == 1) {
      return;
    } else if (v == 2) {
      if (pos + 1 >= data.size()) BadBitmap();
      x += data[pos], y += data[pos + 1];
      pos += 2;
    } else {
      size_t bytes = four ? (v + 1) / 2 : v;
      if (pos + bytes > data.size()) BadBitmap();
      for (int i = 0; i < v; ++i) {
        uint8_t b = four ? data[pos + i / 2] : data[pos + i];
        put(four ? ((i & 1) ? (b & 15) : (b >> 4)) : b);
      }
      pos += (bytes + 1) & ~size_t(1);
    }
  }
}

}  // namespace

TDecodedPicture ReadBMP(std::span<const uint8_t> d) {
  if (d.size() < 14 + 12 || d[0] != 'B' || d[1] != 'M') BadBitmap();
  const uint32_t offBits = U32(&d[10]);
  const uint32_t hsize = U32(&d[14]);
  if (hsize < 12 || 14 + uint64_t(hsize) > d.size()) BadBitmap();
  const uint8_t* h = &d[14];
  int64_t width, height;
  uint32_t bpp, compression = 0, colorsUsed = 0;
  bool core = hsize == 12;
  if (core) {
    width = U16(h + 4), height = int16_t(U16(h + 6)), bpp = U16(h + 10);
  } else {
    if (hsize < 40) BadBitmap();
    width = S32(h + 4), height = S32(h + 8), bpp = U16(h + 14), compression = U32(h + 16);
    colorsUsed = U32(h + 32);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width < 0 || height < 0 || uint64_t(width) * uint64_t(height) > kMaxPicturePixels) {
    BadBitmap();
  }
  uint32_t masks[4] = {0, 0, 0, 0};
  size_t tableAt = 14 + hsize;
  if (compression == 3 || compression == 6) {
    if (hsize >= 52) {
      for (int i = 0; i < (hsize >= 56 ? 4 : 3); ++i) masks[i] = U32(h + 40 + 4 * i);
    } else {
      int n = compression == 6 ? 4 : 3;
      if (tableAt + 4 * n > d.size()) BadBitmap();
      for (int i = 0; i < n; ++i) masks[i] = U32(&d[tableAt + 4 * i]);
      tableAt += 4 * n;
    }
  } else if (bpp == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bpp == 32 || bpp == 24) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF, masks[3] = bpp == 32 ? 0xFF000000 : 0;
  }

  const bool rle = compression == 1 || compression == 2;
  const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
  // Checked before anything is allocated: the rows must be present, and a run-length picture
  // cannot expand beyond what its codes can describe.
  if (!rle && offBits + stride * uint64_t(height) > d.size()) BadBitmap();
  if (rle && uint64_t(width) * uint64_t(height) > uint64_t(d.size()) * 256) BadBitmap();

  TDecodedPicture pic;
  pic.Width = int(width), pic.Height = int(height);
  pic.HasAlpha = bpp == 32;
  if (width == 0 || height == 0) return pic;
  // Everything that can refuse the picture is decided before its pixels are allocated.
  if (bpp <= 8 ? bpp != 1 && bpp != 4 && bpp != 8 : bpp != 16 && bpp != 24 && bpp != 32) {
    BadBitmap();
  }
  if (rle ? (compression == 1 && bpp != 8) || (compression == 2 && bpp != 4) || topDown
          : compression != 0 && compression != 3 && compression != 6) {
    BadBitmap();
  }
  if (offBits >= d.size()) BadBitmap();

  std::vector<TColor32> palette;
  if (bpp <= 8) {
    uint32_t n = colorsUsed && colorsUsed <= 256 ? colorsUsed : (1u << bpp);
    const size_t entry = core ? 3 : 4;
    palette.assign(256, 0xFF000000u);
    for (uint32_t i = 0; i < n && tableAt + entry * (i + 1) <= d.size(); ++i) {
      const uint8_t* e = &d[tableAt + entry * i];
      palette[i] = 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
  }
  pic.Pixels.assign(size_t(width) * size_t(height), 0);

  auto rowOf = [&](int64_t storedRow) { return topDown ? storedRow : height - 1 - storedRow; };
  if (rle) {
    std::vector<uint8_t> idx(pic.Pixels.size(), 0);
    DecodeRle(d, offBits, compression == 2, int(width), int(height), idx);
    for (int64_t r = 0; r < height; ++r) {
      TColor32* out = &pic.Pixels[size_t(rowOf(r)) * width];
      for (int64_t x = 0; x < width; ++x) out[x] = palette[idx[size_t(r) * width + x]];
    }
    return pic;
  }

  const MaskChannel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
  if (bpp == 32 && !masks[3]) pic.HasAlpha = false;
  for (int64_t r = 0; r < height; ++r) {
    const uint8_t* row = &d[offBits + stride * uint64_t(r)];
    TColor32* out = &pic.Pixels[size_t(rowOf(r)) * width];
    for (int64_t x = 0; x < width; ++x) {
      switch (bpp) {
        case 1:
          out[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
          break;
        case 4:
          out[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
          break;
        case 8:
          out[x] = palette[row[x]];
          break;
        default: {
          uint32_t v = bpp == 16   ? U16(row + 2 * x)
                       : bpp == 24 ? (U16(row + 3 * x) | uint32_t(row[3 * x + 2]) << 16)
                                   : U32(row + 4 * x);
          uint32_t a = masks[3] ? alpha.Get(v) : 255;
          out[x] = a << 24 | red.Get(v) << 16 | green.Get(v) << 8 | blue.Get(v);
        }
      }
    }
  }
  return pic;
}

TDecodedPicture ReadBMP(std::istream& Stream) {
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(Stream)),
                            std::istreambuf_iterator<char>());
  return ReadBMP(data);
}

void WriteBMP(std::ostream& Stream, const TBitmap32& Bitmap) {
  const uint32_t w = uint32_t(Bitmap.Width()), h = uint32_t(Bitmap.Empty() ? 0 : Bitmap.Height());
  const uint32_t wEff = Bitmap.Empty() ? 0 : w;
  const uint64_t image = uint64_t(wEff) * h * 4;
  uint8_t head[54] = {};
  auto put16 = [&](int at, uint32_t v) { head[at] = uint8_t(v), head[at + 1] = uint8_t(v >> 8); };
  auto put32 = [&](int at, uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  head[0] = 'B', head[1] = 'M';
  put32(2, uint32_t(54 + image));
  put32(10, 54);
  put32(14, 40);
  put32(18, wEff);
  put32(22, h);
  put16(26, 1);
  put16(28, 32);
  put32(34, uint32_t(image));
  Stream.write(reinterpret_cast<const char*>(head), sizeof head);
  for (uint32_t r = h; r-- > 0;) {
    Stream.write(reinterpret_cast<const char*>(Bitmap.GetScanLine(int(r))),
                 std::streamsize(wEff) * 4);
  }
}

void SaveBMPFile(const std::string& FileName, const TBitmap32& Bitmap) {
  // The picture is replaced whole or not at all: a failed write leaves the file that was there.
  vant::ReplacingFile f(FileName);
  if (!f.IsOpen()) throw EFCreateError("Cannot create file \"" + FileName + "\"");
  std::ostringstream bytes;
  WriteBMP(bytes, Bitmap);
  const std::string image = std::move(bytes).str();
  if (!f.Write(image.data(), image.size()) || !f.Commit())
    throw EFCreateError("Cannot write file \"" + FileName + "\"");
}

// ---- JPEG ----------------------------------------------------------------------------------
namespace {
// The decoder's own memory at the most; a progressive picture needing more is refused with the
// decoder's message rather than taking the machine's memory.
constexpr long kMaxJpegWorkingBytes = 512L << 20;

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  // Out of working memory: the picture, not the machine, is at fault.
  if (e->mgr.msg_code == JERR_NO_BACKING_STORE)
    std::strcpy(e->message, "JPEG image is too large");
  else
    e->mgr.format_message(cinfo, e->message);
  std::longjmp(e->jump, 1);
}
// Warnings are not shown, but data that ends before the picture does (at the end of the file or
// at a marker) is an error: the decoder would otherwise make up the rest of the picture from
// nothing, however large it claims to be.
void JpegWarning(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
    cinfo->err->error_exit(cinfo);
}

// In arithmetic coding reaching a marker inside a scan is legal: the decoder goes on as if zeros
// followed, and says nothing. A scan whose data ends at an end or another scan before its last
// row of blocks is taken as ending early, like a Huffman-coded one: otherwise a few hundred bytes
// would be decoded into the whole picture they claim. (A restart marker ends only its interval.)
void JpegProgress(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  const int marker = cinfo->unread_marker;
  if (cinfo->arith_code && marker != 0 && (marker < 0xD0 || marker > 0xD7) &&
      cinfo->input_iMCU_row + 1 < cinfo->total_iMCU_rows) {
    common->err->msg_code = JWRN_JPEG_EOF;
    common->err->error_exit(common);
  }
}

// Kept free of objects with destructors so that the error jump skips nothing.
bool DecodeJpeg(const uint8_t* data, unsigned long size, TColor32** out, int* w, int* h,
                char* message) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegWarning;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = JpegProgress;
  TColor32* volatile pixels = nullptr;
  uint8_t* volatile cmykRow = nullptr;
  if (setjmp(err.jump)) {
    std::strcpy(message, err.message);
    jpeg_destroy_decompress(&cinfo);
    std::free(pixels);
    std::free(cmykRow);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, data, size);
  jpeg_read_header(&cinfo, TRUE);
  // Refused before any working memory is taken: a multi-scan picture keeps all its coefficients
  // while it decodes, sized by what the header claims, not by the data.
  if (uint64_t(cinfo.image_width) * cinfo.image_height > kMaxPicturePixels) {
    std::strcpy(message, "JPEG image is too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  cinfo.mem->max_memory_to_use = kMaxJpegWorkingBytes;
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  const uint64_t pixelsCount = uint64_t(cinfo.output_width) * cinfo.output_height;
  if (pixelsCount > kMaxPicturePixels) {
    std::strcpy(message, "JPEG image is too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  // The picture grows with the rows actually decoded, so a header that promises far more than
  // the data holds costs no more than the data does.
  const size_t rowPixels = cinfo.output_width ? cinfo.output_width : 1;
  size_t rowsHeld = std::min<size_t>(cinfo.output_height ? cinfo.output_height : 1, 64);
  pixels = static_cast<TColor32*>(std::malloc(rowsHeld * rowPixels * 4));
  if (cmyk) cmykRow = static_cast<uint8_t*>(std::malloc(size_t(cinfo.output_width) * 4 + 4));
  if (!pixels || (cmyk && !cmykRow)) {
    std::strcpy(message, "Out of memory");
    jpeg_destroy_decompress(&cinfo);
    std::free(pixels);
    std::free(cmykRow);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    if (cinfo.output_scanline >= rowsHeld) {
      const size_t more = std::min<size_t>(rowsHeld * 2, cinfo.output_height);
      auto* grown = static_cast<TColor32*>(std::realloc(pixels, more * rowPixels * 4));
      if (!grown) {
        std::strcpy(message, "Out of memory");
        jpeg_destroy_decompress(&cinfo);
        std::free(pixels);
        std::free(cmykRow);
        return false;
      }
      pixels = grown;
      rowsHeld = more;
    }
    TColor32* row = pixels + size_t(cinfo.output_scanline) * cinfo.output_width;
    JSAMPROW target = cmyk ? cmykRow : reinterpret_cast<JSAMPROW>(row);
    jpeg_read_scanlines(&cinfo, &target, 1);
    if (cmyk) {
      // Inverted CMYK as the common writers store it.
      for (JDIMENSION x = 0; x < cinfo.output_width; ++x) {
        const uint8_t* c = cmykRow + 4 * x;
        uint32_t k = c[3];
        row[x] = 0xFF000000u | (c[0] * k / 255) << 16 | (c[1] * k / 255) << 8 | (c[2] * k / 255);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  *w = int(cinfo.output_width);
  *h = int(cinfo.output_height);
  jpeg_destroy_decompress(&cinfo);
  std::free(cmykRow);
  *out = pixels;
  return true;
}
}  // namespace

TDecodedPicture ReadJPEG(std::span<const uint8_t> Data) {
  TColor32* pixels = nullptr;
  int w = 0, h = 0;
  char message[JMSG_LENGTH_MAX] = {};
  if (Data.empty() || !DecodeJpeg(Data.data(), Data.size(), &pixels, &w, &h, message)) {
    throw EInvalidGraphic(std::string("JPEG error: ") + (Data.empty() ? "empty data" : message));
  }
  TDecodedPicture pic;
  pic.Width = w, pic.Height = h;
  pic.Pixels.assign(pixels, pixels + size_t(w) * h);
  std::free(pixels);
  for (TColor32& p : pic.Pixels) p |= 0xFF000000u;
  return pic;
}

// ---- Registry ------------------------------------------------------------------------------
namespace {
std::mutex g_readers_lock;
std::map<std::string, TPictureReader>& Readers() {
  static std::map<std::string, TPictureReader> readers;
  return readers;
}
}  // namespace

void RegisterPictureReader(const std::string& Extension, TPictureReader Reader) {
  std::lock_guard<std::mutex> g(g_readers_lock);
  Readers()[Extension] = std::move(Reader);
}

TDecodedPicture LoadPictureFile(const std::string& FileName) {
  std::string ext;
  auto dot = FileName.find_last_of('.');
  auto slash = FileName.find_last_of('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    ext = FileName.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
  }
  if (ext == "wmf" || ext == "emf") throw EInvalidGraphic("Metafiles are not supported");
  TPictureReader reader;
  if (ext != "bmp" && ext != "dib" && ext != "jpg" && ext != "jpeg") {
    std::lock_guard<std::mutex> g(g_readers_lock);
    auto it = Readers().find(ext);
    if (it == Readers().end())
      throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
    reader = it->second;
  }
  std::ifstream f(FileName, std::ios::binary);
  if (!f) throw EFOpenError("Cannot open file \"" + FileName + "\"");
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (ext == "bmp" || ext == "dib") return ReadBMP(data);
  if (ext == "jpg" || ext == "jpeg") return ReadJPEG(data);
  return reader(data);
}

}  // namespace g32
