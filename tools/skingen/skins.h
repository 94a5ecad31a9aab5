#pragma once
// The pictures of each skin pack, in index order; a null image is an empty item.
#include <QImage>
#include <vector>

namespace skin {
std::vector<QImage> SplashPictures();  // 4 title pictures 480 x 250
std::vector<QImage> ComData();         // 28, shared by both programs
std::vector<QImage> AabcData();        // 30, the converter's own
std::vector<QImage> MoData();          // 12, the viewer's own
std::vector<QImage> LibraryPictures(); // the media library's own, named in libpictures.h
}  // namespace skin
