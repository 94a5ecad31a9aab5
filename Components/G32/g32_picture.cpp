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
#include <new>
#include <ostream>
#include <sstream>

#include "bitmapdecode.h"
#include "g32.h"
#include "replacingfile.h"

namespace g32 {
namespace {

[[noreturn]] void BadBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

}  // namespace

TDecodedPicture ReadBMP(std::span<const uint8_t> d) {
  if (d.size() < 14 + 12 || d[0] != 'B' || d[1] != 'M') BadBitmap();
  const uint32_t offBits =
      uint32_t(d[10]) | uint32_t(d[11]) << 8 | uint32_t(d[12]) << 16 | uint32_t(d[13]) << 24;
  const std::span<const uint8_t> info = d.subspan(14);
  const auto format = vant::bitmap::ReadFormat(info);
  if (!format) BadBitmap();
  TDecodedPicture pic;
  pic.Width = format->width, pic.Height = format->rows;
  pic.HasAlpha = format->bits == 32 && format->masks[3] != 0;
  if (pic.Width == 0 || pic.Height == 0) return pic;
  // The pixels follow the header.
  if (offBits < 14 + uint64_t(format->headerSize) || offBits >= d.size()) BadBitmap();
  if (!vant::bitmap::DecodePixels(*format, info, d.subspan(offBits), pic.HasAlpha, pic.Pixels))
    BadBitmap();
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
// Warnings are not shown, but Huffman-coded data that ends before the picture does (at the end of
// the file or at a marker) is an error: the decoder would otherwise make up the rest of the
// picture from nothing. Arithmetic-coded data may end early by design (the coder leaves out the
// zeros the decoder supplies after a marker), so such a picture is decoded whole: its cost is
// bounded by the pixel limit, about a plain fill of what it claims.
void JpegWarning(j_common_ptr cinfo, int level) {
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
    cinfo->err->error_exit(cinfo);
}

// Grows the pixels without letting an exception pass through the decoder.
bool Resize(std::vector<TColor32>& pixels, size_t n) noexcept {
  try {
    pixels.resize(n);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Kept free of objects with destructors so that the error jump skips nothing; the pixels belong
// to the caller.
bool DecodeJpeg(const uint8_t* data, unsigned long size, std::vector<TColor32>& pixels, int* w,
                int* h, char* message) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegWarning;
  uint8_t* volatile cmykRow = nullptr;
  if (setjmp(err.jump)) {
    std::strcpy(message, err.message);
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    return false;
  }
  jpeg_create_decompress(&cinfo);
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
  // Every pixel comes out opaque: the fourth byte of each is filled with 255.
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  const uint64_t pixelsCount = uint64_t(cinfo.output_width) * cinfo.output_height;
  if (pixelsCount > kMaxPicturePixels) {
    std::strcpy(message, "JPEG image is too large");
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  // A Huffman-coded picture grows with the rows actually decoded, so a header that promises far
  // more than the data holds costs no more than the data does (its early end is refused). An
  // arithmetic-coded one is decoded whole whatever its data holds, so it is held whole at once.
  const size_t rowPixels = cinfo.output_width;
  size_t rowsHeld =
      cinfo.arith_code
          ? cinfo.output_height
          : std::min<size_t>(cinfo.output_height, std::max<size_t>(1, (64 << 10) / rowPixels));
  if (cmyk) cmykRow = static_cast<uint8_t*>(std::malloc(size_t(cinfo.output_width) * 4 + 4));
  if (!Resize(pixels, rowsHeld * rowPixels) || (cmyk && !cmykRow)) {
    std::strcpy(message, "Out of memory");
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    if (cinfo.output_scanline >= rowsHeld) {
      rowsHeld = std::min<size_t>(rowsHeld * 2, cinfo.output_height);
      if (!Resize(pixels, rowsHeld * rowPixels)) {
        std::strcpy(message, "Out of memory");
        jpeg_destroy_decompress(&cinfo);
        std::free(cmykRow);
        return false;
      }
    }
    TColor32* row = pixels.data() + size_t(cinfo.output_scanline) * rowPixels;
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
  return true;
}
}  // namespace

TDecodedPicture ReadJPEG(std::span<const uint8_t> Data) {
  TDecodedPicture pic;
  char message[JMSG_LENGTH_MAX] = {};
  if (Data.empty() ||
      !DecodeJpeg(Data.data(), Data.size(), pic.Pixels, &pic.Width, &pic.Height, message)) {
    throw EInvalidGraphic(std::string("JPEG error: ") + (Data.empty() ? "empty data" : message));
  }
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
