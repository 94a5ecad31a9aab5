#include "mmbcache.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct Entry {
  std::shared_ptr<vant::TBitmap> bitmap;
  int count;
};

std::mutex g_lock;
// Exists while it holds a bitmap.
std::unique_ptr<std::vector<Entry>> g_cache;

}  // namespace

std::shared_ptr<vant::TBitmap> LoadCacheBitmap(int width, int height) {
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_cache) g_cache = std::make_unique<std::vector<Entry>>();
  for (Entry& e : *g_cache)
    if (e.bitmap->Width() == width && e.bitmap->Height() == height) {
      ++e.count;
      return e.bitmap;
    }
  auto bmp = std::make_shared<vant::TBitmap>(width, height);
  g_cache->push_back({bmp, 1});
  return bmp;
}

void RemoveCacheBitmap(std::shared_ptr<vant::TBitmap>& bitmap) {
  if (!bitmap) return;
  std::shared_ptr<vant::TBitmap> last;  // freed after the lock is left
  std::lock_guard<std::mutex> hold(g_lock);
  if (!g_cache) return;
  auto it = std::find_if(g_cache->begin(), g_cache->end(),
                         [&](const Entry& e) { return e.bitmap == bitmap; });
  if (it == g_cache->end()) return;
  bitmap.reset();
  if (--it->count <= 0) {
    last = std::move(it->bitmap);
    g_cache->erase(it);
  }
  if (g_cache->empty()) g_cache.reset();
}

int CachedBitmapCount() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_cache ? static_cast<int>(g_cache->size()) : 0;
}
