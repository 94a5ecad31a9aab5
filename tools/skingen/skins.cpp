// The skin modules' pictures in index order. Sizes and roles are fixed by the windows that show
// them; the look is ours.
#include "skins.h"

#include "skinpainter.h"

namespace skin {
namespace {

// Where the pictures sit.
const QColor kOnPlayer(0xDA, 0xE0, 0xE8);   // the player group of the converter's header
const QColor kOnHeader(0xDD, 0xE3, 0xEA);   // the header band
const QColor kOnColumn(0x22, 0x30, 0x43);   // the dark button column and strips
const QColor kOnTrack(0x40, 0x4D, 0x60);    // inside a bar's groove

void Pair(std::vector<QImage>& v, int w, int h, const QString& text) {
  v.push_back(TextButton(w, h, text, false));
  v.push_back(TextButton(w, h, text, true));
}

}  // namespace

std::vector<QImage> SplashPictures() {
  QColor blue(0x3B, 0x6E, 0xA8), teal(0x2E, 0x8B, 0x87);
  return {
      Splash(480, 250, "ミルダ", "ディスクビューア　広告会社仕様", teal),
      Splash(480, 250, "", "", blue),
      Splash(480, 250, "オルネ", "VANT コンバータ　広告会社仕様", blue),
      Splash(480, 250, "", "", teal),
  };
}

std::vector<QImage> ComData() {
  std::vector<QImage> v(2);  // 0 and 1 are empty
  SetBackdrop(kOnPlayer);
  for (Glyph g : {Glyph::Stop, Glyph::Play, Glyph::Pause}) {
    v.push_back(GlyphButton(31, g, false));
    v.push_back(GlyphButton(31, g, true));
  }
  v.push_back(BarTrack(101, 31, true));   // 8 volume bar
  SetBackdrop(kOnTrack);
  v.push_back(BarHandle(8, 23));          // 9 volume handle
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "終了");                // 10, 11
  SetBackdrop(kOnHeader);
  struct { const char* text; QColor color; } lamps[] = {
      {"CMデータ", QColor(0x5C, 0xD6, 0x6B)},
      {"BWF", QColor(0xF2, 0xB8, 0x3C)},
      {"WAV", QColor(0x5C, 0xB8, 0xF2)},
  };
  for (auto& l : lamps) {                 // 12-17, lit then dark
    v.push_back(Lamp(66, 27, l.text, l.color, true));
    v.push_back(Lamp(66, 27, l.text, l.color, false));
  }
  SetBackdrop(Palette::Page());
  for (QColor c : {QColor(0xF5, 0xD0, 0x2A), QColor(0xF2, 0x7F, 0xB5), QColor(0x38, 0xD0, 0xE0),
                   QColor(0x4C, 0xC2, 0x5A)}) {  // 18-25
    v.push_back(RoundButton(21, c, false));
    v.push_back(RoundButton(21, c, true));
  }
  SetBackdrop(kOnPlayer);
  v.push_back(BarTrack(233, 21, false));  // 26 position bar
  SetBackdrop(kOnTrack);
  v.push_back(BarHandle(23, 8));          // 27 position handle
  return v;
}

std::vector<QImage> AabcData() {
  std::vector<QImage> v;
  SetBackdrop(Palette::Page());
  Pair(v, 50, 23, "添付");   // 0, 1
  Pair(v, 69, 23, "選択");   // 2, 3
  Pair(v, 50, 23, "保存");   // 4, 5
  Pair(v, 50, 23, "削除");   // 6, 7
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "開く");   // 8, 9
  SetBackdrop(Palette::Page());
  Pair(v, 50, 23, "表示");   // 10, 11
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "保存");   // 12, 13
  Pair(v, 95, 24, "書出");   // 14, 15
  SetBackdrop(Palette::Page());
  Pair(v, 50, 23, "表示");   // 16, 17
  SetBackdrop(kOnHeader);
  v.push_back(LengthLamp(37, false));  // 18
  v.push_back(LengthLamp(37, true));   // 19
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "読込");   // 20, 21
  SetBackdrop(Palette::Page());
  Pair(v, 69, 23, "選択");   // 22, 23
  Pair(v, 69, 23, "選択");   // 24, 25
  Pair(v, 50, 23, "保存");   // 26, 27
  v.push_back(ConverterBackground(true));   // 28
  v.push_back(ConverterBackground(false));  // 29
  return v;
}

std::vector<QImage> MoData() {
  std::vector<QImage> v;
  v.push_back(ViewerBackground());       // 0
  v.push_back(RowStrip(930, 42));        // 1
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "フォルダ");           // 2, 3
  Pair(v, 95, 24, "リスト");             // 4, 5
  SetBackdrop(Palette::Page());
  v.push_back(RowSelect(21, 38, false));  // 6
  v.push_back(RowSelect(21, 38, true));   // 7
  SetBackdrop(kOnColumn);
  Pair(v, 95, 24, "終了");               // 8, 9
  Pair(v, 95, 24, "取出し");             // 10, 11
  return v;
}

}  // namespace skin
