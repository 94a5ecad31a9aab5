// Speed of the kernels and transfers, each beside its reference measured in the same run:
// pixman's OVER composite for the line kernels and the blended page, memcpy for the opaque blit,
// pixman's bilinear and separable-convolution filters for the stretches, pixman's transformed
// bilinear composite for the affine rotation.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <random>
#include <vector>

#include "g32_transforms.h"

namespace {

using namespace g32;

// Skin-like pixels: mostly opaque or fully transparent, with antialiased edges between.
std::vector<uint32_t> SkinPixels(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> v(n);
  for (auto& p : v) {
    unsigned r = rng() % 10;
    uint32_t a = r < 5 ? 255 : r < 8 ? 0 : rng() & 0xFF;
    p = a << 24 | (rng() & 0xFFFFFF);
  }
  return v;
}

// The same pixels premultiplied, as pixman expects them.
std::vector<uint32_t> Premultiplied(std::vector<uint32_t> v) {
  for (auto& p : v) {
    uint32_t a = p >> 24;
    uint32_t r = ((p >> 16) & 255) * a / 255, g = ((p >> 8) & 255) * a / 255,
             b = (p & 255) * a / 255;
    p = a << 24 | r << 16 | g << 8 | b;
  }
  return v;
}

pixman_image_t* Wrap(std::vector<uint32_t>& v, int w, int h) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, v.data(), w * 4);
}

void BM_BlendLine(benchmark::State& state) {
  const int n = int(state.range(0));
  auto src = SkinPixels(n, 1), dst = SkinPixels(n, 2);
  for (auto& p : dst) p |= 0xFF000000;
  for (auto _ : state) {
    BlendLine(src.data(), dst.data(), n);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_BlendLineEx(benchmark::State& state) {
  const int n = int(state.range(0));
  auto src = SkinPixels(n, 1), dst = SkinPixels(n, 2);
  for (auto& p : dst) p |= 0xFF000000;
  for (auto _ : state) {
    BlendLineEx(src.data(), dst.data(), n, 200);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_PixmanOver(benchmark::State& state) {
  const int n = int(state.range(0));
  auto src = Premultiplied(SkinPixels(n, 1)), dst = SkinPixels(n, 2);
  for (auto& p : dst) p |= 0xFF000000;
  pixman_image_t *s = Wrap(src, n, 1), *d = Wrap(dst, n, 1);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, n, 1);
    benchmark::DoNotOptimize(dst.data());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * n);
}

// OVER with a constant mask of 200/255: the reference for the master-alpha kernel.
void BM_PixmanOverMasked(benchmark::State& state) {
  const int n = int(state.range(0));
  auto src = Premultiplied(SkinPixels(n, 1)), dst = SkinPixels(n, 2);
  for (auto& p : dst) p |= 0xFF000000;
  pixman_image_t *s = Wrap(src, n, 1), *d = Wrap(dst, n, 1);
  pixman_color_t c{0, 0, 0, 200 * 257};
  pixman_image_t* m = pixman_image_create_solid_fill(&c);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, 0, 0, 0, 0, 0, 0, n, 1);
    benchmark::DoNotOptimize(dst.data());
  }
  pixman_image_unref(m);
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_BlendLine)->Arg(31)->Arg(1016)->Arg(4096);
BENCHMARK(BM_PixmanOver)->Arg(31)->Arg(1016)->Arg(4096);
BENCHMARK(BM_BlendLineEx)->Arg(31)->Arg(1016)->Arg(4096);
BENCHMARK(BM_PixmanOverMasked)->Arg(31)->Arg(1016)->Arg(4096);

constexpr int kPageW = 1016, kPageH = 684;

void BM_OpaquePageBlockTransfer(benchmark::State& state) {
  TBitmap32 src, dst;
  src.SetSize(kPageW, kPageH);
  dst.SetSize(kPageW, kPageH);
  std::memcpy(src.Bits(), SkinPixels(size_t(kPageW) * kPageH, 3).data(),
              size_t(kPageW) * kPageH * 4);
  for (auto _ : state) {
    BlockTransfer(&dst, 0, 0, &src, src.BoundsRect(), dmOpaque);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPageW) * kPageH * 4);
}

void BM_OpaquePageMemcpy(benchmark::State& state) {
  std::vector<uint32_t> src = SkinPixels(size_t(kPageW) * kPageH, 3), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size() * 4);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kPageW) * kPageH * 4);
}

BENCHMARK(BM_OpaquePageBlockTransfer);
BENCHMARK(BM_OpaquePageMemcpy);

// A page background blended at master alpha 255, then 15 skin buttons of 31 x 31.
void BM_BlendedPageAndButtons(benchmark::State& state) {
  TBitmap32 page, buffer, button;
  page.SetSize(kPageW, kPageH);
  buffer.SetSize(kPageW, kPageH);
  button.SetSize(31, 31);
  std::memcpy(page.Bits(), SkinPixels(size_t(kPageW) * kPageH, 4).data(),
              size_t(kPageW) * kPageH * 4);
  std::memcpy(button.Bits(), SkinPixels(31 * 31, 5).data(), 31 * 31 * 4);
  page.SetDrawMode(dmBlend);
  button.SetDrawMode(dmBlend);
  for (auto _ : state) {
    page.DrawTo(&buffer, 0, 0);
    for (int i = 0; i < 15; ++i) button.DrawTo(&buffer, 20 + i * 60, 600);
    benchmark::DoNotOptimize(buffer.Bits());
  }
  state.SetItemsProcessed(state.iterations() * (int64_t(kPageW) * kPageH + 15 * 31 * 31));
}

void BM_PixmanPageAndButtons(benchmark::State& state) {
  auto page = Premultiplied(SkinPixels(size_t(kPageW) * kPageH, 4));
  auto button = Premultiplied(SkinPixels(31 * 31, 5));
  std::vector<uint32_t> buffer(size_t(kPageW) * kPageH, 0xFF000000);
  pixman_image_t *p = Wrap(page, kPageW, kPageH), *b = Wrap(button, 31, 31),
                 *d = Wrap(buffer, kPageW, kPageH);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, p, nullptr, d, 0, 0, 0, 0, 0, 0, kPageW, kPageH);
    for (int i = 0; i < 15; ++i)
      pixman_image_composite32(PIXMAN_OP_OVER, b, nullptr, d, 0, 0, 0, 0, 20 + i * 60, 600, 31, 31);
    benchmark::DoNotOptimize(buffer.data());
  }
  pixman_image_unref(p);
  pixman_image_unref(b);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * (int64_t(kPageW) * kPageH + 15 * 31 * 31));
}

BENCHMARK(BM_BlendedPageAndButtons);
BENCHMARK(BM_PixmanPageAndButtons);

// Stretches of a 508 x 342 picture to the page size (enlarging) and of the page to 254 x 171.
struct StretchCase {
  int sw, sh, dw, dh;
};
const StretchCase kStretch[] = {{508, 342, kPageW, kPageH}, {kPageW, kPageH, 254, 171}};

void BM_Stretch(benchmark::State& state, TStretchFilter filter) {
  const StretchCase c = kStretch[state.range(0)];
  TBitmap32 src, dst;
  src.SetSize(c.sw, c.sh);
  dst.SetSize(c.dw, c.dh);
  std::memcpy(src.Bits(), SkinPixels(size_t(c.sw) * c.sh, 6).data(), size_t(c.sw) * c.sh * 4);
  for (auto _ : state) {
    StretchTransfer(&dst, dst.BoundsRect(), &src, src.BoundsRect(), filter, dmOpaque);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(c.dw) * c.dh);
}

void BM_PixmanStretch(benchmark::State& state, bool convolution) {
  const StretchCase c = kStretch[state.range(0)];
  auto src = SkinPixels(size_t(c.sw) * c.sh, 6);
  std::vector<uint32_t> dst(size_t(c.dw) * c.dh);
  pixman_image_t *s = Wrap(src, c.sw, c.sh), *d = Wrap(dst, c.dw, c.dh);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(c.sw) / c.dw),
                              pixman_double_to_fixed(double(c.sh) / c.dh));
  pixman_image_set_transform(s, &t);
  std::vector<pixman_fixed_t> params;
  if (convolution) {
    int n = 0;
    pixman_fixed_t* p = pixman_filter_create_separable_convolution(
        &n, pixman_double_to_fixed(double(c.sw) / c.dw),
        pixman_double_to_fixed(double(c.sh) / c.dh), PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_LINEAR,
        PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 1, 1);
    pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, p, n);
    free(p);
  } else {
    pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  }
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, c.dw, c.dh);
    benchmark::DoNotOptimize(dst.data());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * int64_t(c.dw) * c.dh);
}

BENCHMARK_CAPTURE(BM_Stretch, linear, sfLinear)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_PixmanStretch, bilinear, false)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Stretch, linear2, sfLinear2)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Stretch, spline, sfSpline)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_PixmanStretch, separable, true)->Arg(0)->Arg(1);

// Rotation of a 1,024 x 768 picture by 30 degrees about its centre, bilinear, into a bitmap of
// the same size: ours against pixman's transformed composite with the same inverse mapping.
constexpr int kRotW = 1024, kRotH = 768;

TAffineTransformation RotationAboutCentre() {
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, kRotW, kRotH));
  t.Rotate(kRotW / 2.0f, kRotH / 2.0f, 30);
  return t;
}

void BM_AffineRotation(benchmark::State& state) {
  TBitmap32 src, dst;
  src.SetSize(kRotW, kRotH);
  dst.SetSize(kRotW, kRotH);
  auto px = SkinPixels(size_t(kRotW) * kRotH, 5);
  std::memcpy(src.Bits(), px.data(), px.size() * 4);
  src.SetStretchFilter(sfLinear);
  TAffineTransformation t = RotationAboutCentre();
  for (auto _ : state) {
    Transform(&dst, &src, &t);
    benchmark::DoNotOptimize(dst.Bits());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(kRotW) * kRotH);
}

void BM_PixmanAffineRotation(benchmark::State& state) {
  auto src = Premultiplied(SkinPixels(size_t(kRotW) * kRotH, 5));
  std::vector<uint32_t> dst(src.size());
  pixman_image_t *s = Wrap(src, kRotW, kRotH), *d = Wrap(dst, kRotW, kRotH);
  // pixman samples at pixel centres: centre = inverse(centre - 0.5) + 0.5.
  TAffineTransformation t = RotationAboutCentre();
  const auto& i = t.Inverse();
  const double a = i.A / 4096.0, b = i.B / 4096.0, c = i.C / 4096.0;
  const double e = i.D / 4096.0, f = i.E / 4096.0, g = i.F / 4096.0;
  pixman_transform_t m;
  pixman_transform_init_identity(&m);
  m.matrix[0][0] = pixman_double_to_fixed(a), m.matrix[0][1] = pixman_double_to_fixed(b);
  m.matrix[0][2] = pixman_double_to_fixed(c + 0.5 - 0.5 * (a + b));
  m.matrix[1][0] = pixman_double_to_fixed(e), m.matrix[1][1] = pixman_double_to_fixed(f);
  m.matrix[1][2] = pixman_double_to_fixed(g + 0.5 - 0.5 * (e + f));
  pixman_image_set_transform(s, &m);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kRotW, kRotH);
    benchmark::DoNotOptimize(dst.data());
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.SetItemsProcessed(state.iterations() * int64_t(kRotW) * kRotH);
}

BENCHMARK(BM_AffineRotation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PixmanAffineRotation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
