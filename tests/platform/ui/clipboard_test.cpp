#include "ui_clipboard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>

#include "ui_fixture.h"

namespace vant {
namespace {

using ClipboardTest = UiTest;

TEST_F(ClipboardTest, RegisteredFormatsTravelTogetherAndReplaceTheOldContents) {
  uint32_t env = RegisterClipboardFormat("MMEnvelope");
  uint32_t obj = RegisterClipboardFormat("MMObjectList");
  EXPECT_GE(env, 0xC000u);
  EXPECT_NE(env, obj);
  EXPECT_EQ(RegisterClipboardFormat("MMEnvelope"), env);

  std::string binary("ENV\0\x01\xff", 6);
  Clipboard().Open();
  Clipboard().SetData(env, binary);
  Clipboard().SetAsText("envelope");
  EXPECT_FALSE(Clipboard().HasFormat(env));  // nothing is there before Close
  Clipboard().Close();
  EXPECT_TRUE(Clipboard().HasFormat(env));
  EXPECT_EQ(Clipboard().GetData(env), binary);
  EXPECT_EQ(Clipboard().GetAsText(), "envelope");
  EXPECT_FALSE(Clipboard().HasFormat(obj));
  EXPECT_EQ(Clipboard().GetData(obj), std::nullopt);

  Clipboard().SetData(obj, "list");  // alone: replaces everything
  EXPECT_FALSE(Clipboard().HasFormat(env));
  EXPECT_EQ(Clipboard().GetData(obj), "list");
  Clipboard().Clear();
  EXPECT_FALSE(Clipboard().HasFormat(obj));
}

TEST_F(ClipboardTest, PicturesAsBmpBytesAndFromOtherPrograms) {
  // A 2 x 1 BMP written by the toolkit stands for ours.
  QImage two(2, 1, QImage::Format_ARGB32);
  two.setPixel(0, 0, 0x80FF0000);
  two.setPixel(1, 0, 0xFF00FF00);
  QByteArray bmp;
  QBuffer out(&bmp);
  out.open(QIODevice::WriteOnly);
  ASSERT_TRUE(two.save(&out, "BMP"));
  const std::string bytes(bmp.constData(), size_t(bmp.size()));

  Clipboard().SetData(CF_BITMAP, bytes);
  EXPECT_TRUE(Clipboard().HasFormat(CF_BITMAP));
  EXPECT_EQ(Clipboard().GetData(CF_BITMAP), bytes);  // exactly what was put there
  // Other programs see an image.
  EXPECT_TRUE(QApplication::clipboard()->mimeData()->hasImage());

  // An image another program put there comes back as a BMP of the same pixels.
  QApplication::clipboard()->setImage(two);
  auto back = Clipboard().GetData(CF_BITMAP);
  ASSERT_TRUE(back.has_value());
  QImage read;
  ASSERT_TRUE(read.loadFromData(QByteArray(back->data(), qsizetype(back->size())), "BMP"));
  EXPECT_EQ(read.size(), two.size());
  EXPECT_EQ(read.pixel(1, 0), 0xFF00FF00u);

  Clipboard().Clear();
  EXPECT_FALSE(Clipboard().HasFormat(CF_BITMAP));
  EXPECT_EQ(Clipboard().GetData(CF_BITMAP), std::nullopt);
}

}  // namespace
}  // namespace vant
