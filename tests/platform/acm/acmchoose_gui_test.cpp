// Our format and filter choosers: the user picks a tag and one of its formats, or cancels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "acm.h"
#include "dispatch.h"
#include "ui_fixture.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

namespace vant {
namespace {

using ChooserTest = UiTest;

template <class T>
T* Find(TForm& form, int nth = 0) {
  for (int i = 0; i < form.ComponentCount(); ++i)
    if (auto* c = dynamic_cast<T*>(form.Component(i)); c && nth-- == 0) return c;
  return nullptr;
}

// The form being shown modally.
TForm* Chooser() {
  for (TForm* f : Screen->Forms())
    if (f->Modal()) return f;
  return nullptr;
}

TEST_F(ChooserTest, PicksAFormatOfTheChosenTagOrCancels) {
  std::vector<uint8_t> buffer(1024, 0);
  ACMFORMATCHOOSE c;
  c.pszTitle = "Pick one";
  c.pwfx = reinterpret_cast<ACMWAVEFORMAT*>(buffer.data());
  c.cbwfx = uint32_t(buffer.size());
  std::string tagName;
  GetDispatcher().Post([&] {
    TForm* form = Chooser();
    ASSERT_NE(form, nullptr) << "no chooser shown";
    EXPECT_EQ(form->GetCaption(), "Pick one");
    auto* tags = Find<TComboBox>(*form);
    auto* items = Find<TListBox>(*form);
    ASSERT_TRUE(tags && items);
    for (int i = 0; i < tags->Items().Count(); ++i)
      if (tags->Items()[i] == "CCITT u-Law") tags->SetItemIndex(i);
    tags->HandleSelection();
    items->SetItemIndex(3);
    tagName = tags->GetText();
    Find<TButton>(*form, 0)->Click();
  });
  ASSERT_EQ(acmFormatChoose(c), MMSYSERR_NOERROR);
  EXPECT_EQ(c.szFormatTag, "CCITT u-Law");
  EXPECT_EQ(c.pwfx->wFormatTag, kAcmTagMuLaw);
  EXPECT_EQ(c.szFormat.empty(), false);

  GetDispatcher().Post([&] { Find<TButton>(*Chooser(), 1)->Click(); });
  EXPECT_EQ(acmFormatChoose(c), ACMERR_CANCELED);

  std::vector<uint8_t> filter(64, 0);
  ACMFILTERCHOOSE f;
  f.pwfltr = reinterpret_cast<WAVEFILTER*>(filter.data());
  f.cbwfltr = uint32_t(filter.size());
  GetDispatcher().Post([&] { Find<TButton>(*Chooser(), 0)->Click(); });
  ASSERT_EQ(acmFilterChoose(f), MMSYSERR_NOERROR);
  EXPECT_EQ(f.szFilterTag, "Volume");
  EXPECT_EQ(f.pwfltr->dwFilterTag, kAcmFilterVolume);
  EXPECT_EQ(f.szFilter, "25% Volume");
}

}  // namespace
}  // namespace vant
