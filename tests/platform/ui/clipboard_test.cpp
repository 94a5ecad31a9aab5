#include "ui_clipboard.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vant
