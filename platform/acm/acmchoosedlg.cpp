#include "acmchoosedlg.h"

#include <cstring>
#include <vector>

#include "ui_form.h"
#include "ui_stdctrls.h"

namespace vant::acm {

namespace {

using Record = std::vector<uint8_t>;

struct Choice {
  std::string tagName;
  std::vector<std::pair<std::string, Record>> items;  // text and record
};

// A form with a tag list, an item list, and OK and Cancel; the index chosen, -1 when cancelled.
bool RunChooser(const std::string& title, std::vector<Choice>& choices, int& tag, int& item) {
  TForm form(nullptr);
  form.SetCaption(title.empty() ? "Select..." : title);
  form.SetBounds(0, 0, 360, 280);
  form.SetPosition(poScreenCenter);
  TLabel tagLabel(&form);
  tagLabel.SetParent(&form);
  tagLabel.SetBounds(10, 12, 60, 20);
  tagLabel.SetCaption("Name:");
  TComboBox tags(&form);
  tags.SetParent(&form);
  tags.SetStyle(csDropDownList);
  tags.SetBounds(80, 10, 270, 24);
  TListBox items(&form);
  items.SetParent(&form);
  items.SetBounds(10, 44, 340, 180);
  TButton ok(&form), cancel(&form);
  ok.SetParent(&form);
  ok.SetCaption("OK");
  ok.SetModalResult(mrOk);
  ok.SetDefault(true);
  ok.SetBounds(190, 236, 75, 25);
  cancel.SetParent(&form);
  cancel.SetCaption("Cancel");
  cancel.SetModalResult(mrCancel);
  cancel.SetCancel(true);
  cancel.SetBounds(275, 236, 75, 25);
  for (const Choice& c : choices) tags.Items().Add(c.tagName);
  auto fill = [&](int t) {
    items.Clear();
    if (t < 0 || t >= static_cast<int>(choices.size())) return;
    for (const auto& [text, record] : choices[t].items) items.Items().Add(text);
  };
  tags.OnChange = [&](TObject*) {
    fill(tags.GetItemIndex());
    items.SetItemIndex(0);
  };
  tags.SetItemIndex(tag);
  fill(tag);
  items.SetItemIndex(item);
  if (form.ShowModal() != mrOk) return false;
  tag = tags.GetItemIndex();
  item = items.GetItemIndex();
  return tag >= 0 && item >= 0;
}

bool SameFormat(const Record& r, const ACMWAVEFORMAT* f) {
  return f && r.size() >= sizeof(ACMWAVEFORMAT) && r.size() <= acmFormatBytes(f) &&
         std::memcmp(r.data(), f, r.size()) == 0;
}

}  // namespace

MMRESULT DialogChooser::ChooseFormat(ACMFORMATCHOOSE& c) {
  std::vector<Choice> choices;
  std::vector<uint32_t> tagIds;
  acmFormatTagEnum([&](HACMDRIVERID, const ACMFORMATTAGDETAILS& d) {
    choices.push_back({d.szFormatTag, {}});
    tagIds.push_back(d.dwFormatTag);
    return true;
  });
  Record buffer(1024, 0);
  if (c.pwfxEnum)
    std::memcpy(buffer.data(), c.pwfxEnum, std::min<size_t>(1024, acmFormatBytes(c.pwfxEnum)));
  ACMFORMATDETAILS d;
  d.pwfx = reinterpret_cast<ACMWAVEFORMAT*>(buffer.data());
  d.cbwfx = static_cast<uint32_t>(buffer.size());
  int tag = -1, item = -1;
  const ACMWAVEFORMAT* first = (c.fdwStyle & ACM_FORMATCHOOSEF_INITTOWFXSTRUCT) ? c.pwfx : nullptr;
  acmFormatEnum(
      d,
      [&](HACMDRIVERID, const ACMFORMATDETAILS& fd) {
        for (size_t t = 0; t < tagIds.size(); ++t) {
          if (tagIds[t] != fd.dwFormatTag) continue;
          const auto* p = reinterpret_cast<const uint8_t*>(fd.pwfx);
          Record r(p, p + acmFormatBytes(fd.pwfx));
          if (SameFormat(r, first)) {
            tag = static_cast<int>(t);
            item = static_cast<int>(choices[t].items.size());
          }
          choices[t].items.emplace_back(fd.szFormat, std::move(r));
        }
        return true;
      },
      c.fdwEnum);
  // Tags without a format to offer are not shown.
  for (size_t t = choices.size(); t-- > 0;) {
    if (!choices[t].items.empty()) continue;
    choices.erase(choices.begin() + static_cast<long>(t));
    tagIds.erase(tagIds.begin() + static_cast<long>(t));
    if (tag > static_cast<int>(t)) --tag;
  }
  if (choices.empty()) return ACMERR_NOTPOSSIBLE;
  if (tag < 0) tag = item = 0;
  if (!RunChooser(c.pszTitle, choices, tag, item)) return ACMERR_CANCELED;
  const Record& r = choices[tag].items[item].second;
  if (r.size() > c.cbwfx) return MMSYSERR_INVALPARAM;
  std::memcpy(c.pwfx, r.data(), r.size());
  c.szFormatTag = choices[tag].tagName;
  c.szFormat = choices[tag].items[item].first;
  return MMSYSERR_NOERROR;
}

MMRESULT DialogChooser::ChooseFilter(ACMFILTERCHOOSE& c) {
  // The standard settings of each filter.
  std::vector<Choice> choices;
  acmFilterTagEnum([&](HACMDRIVERID, const ACMFILTERTAGDETAILS& d) {
    Choice ch{d.szFilterTag, {}};
    for (uint32_t percent : {25u, 50u, 75u, 150u, 200u}) {
      Record r(d.cbFilterSize, 0);
      auto* w = reinterpret_cast<WAVEFILTER*>(r.data());
      w->cbStruct = d.cbFilterSize;
      w->dwFilterTag = d.dwFilterTag;
      const uint32_t level = percent * 0x10000 / 100;
      if (d.dwFilterTag == kAcmFilterVolume) {
        reinterpret_cast<VOLUMEWAVEFILTER*>(r.data())->dwVolume = level;
      } else if (d.dwFilterTag == kAcmFilterEcho) {
        if (percent > 100) continue;
        auto* e = reinterpret_cast<ECHOWAVEFILTER*>(r.data());
        e->dwVolume = level;
        e->dwDelay = 250;
      }
      ACMFILTERDETAILS fd;
      fd.pwfltr = w;
      fd.cbwfltr = d.cbFilterSize;
      acmFilterDetails(fd, ACM_FILTERDETAILSF_FILTER);
      ch.items.emplace_back(fd.szFilter, std::move(r));
    }
    choices.push_back(std::move(ch));
    return true;
  });
  if (choices.empty()) return ACMERR_NOTPOSSIBLE;
  int tag = 0, item = 0;
  if ((c.fdwStyle & ACM_FORMATCHOOSEF_INITTOWFXSTRUCT)) {
    for (size_t t = 0; t < choices.size(); ++t)
      for (size_t i = 0; i < choices[t].items.size(); ++i) {
        const Record& r = choices[t].items[i].second;
        if (r.size() <= c.cbwfltr && std::memcmp(r.data(), c.pwfltr, r.size()) == 0) {
          tag = static_cast<int>(t);
          item = static_cast<int>(i);
        }
      }
  }
  if (!RunChooser(c.pszTitle, choices, tag, item)) return ACMERR_CANCELED;
  const Record& r = choices[tag].items[item].second;
  if (r.size() > c.cbwfltr) return MMSYSERR_INVALPARAM;
  std::memcpy(c.pwfltr, r.data(), r.size());
  c.szFilterTag = choices[tag].tagName;
  c.szFilter = choices[tag].items[item].first;
  return MMSYSERR_NOERROR;
}

}  // namespace vant::acm
