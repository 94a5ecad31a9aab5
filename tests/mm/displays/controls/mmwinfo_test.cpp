// The INFO and DISP editor on a real wave file: the lines and marks it shows, its answers, the
// picture's Clear and Reset, and a round trip whose written chunks a small reader checks.
#include "mmwinfo.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QString>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "dispatch.h"
#include "mmcstdlg.h"
#include "mmdib.h"
#include "mmpcmsup.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "scratchfolder.h"
#include "ui_application.h"
#include "ui_dialogs.h"
#include "ui_testing.h"

namespace vant {
namespace {

// The top-level chunks of a RIFF file and the sub-chunks of its LIST INFO, read independently
// of the code under test.
struct RiffChunks {
  std::multimap<std::string, std::vector<uint8_t>> chunks;
  std::map<std::string, std::string> info;
};

RiffChunks ReadRiff(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
  RiffChunks r;
  auto u32 = [&](size_t at) {
    return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
  };
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string id(b.begin() + at, b.begin() + at + 4);
    const uint32_t size = u32(at + 4);
    if (at + 8 + size > b.size()) break;
    std::vector<uint8_t> body(b.begin() + at + 8, b.begin() + at + 8 + size);
    if (id == "LIST" && size >= 4 && std::memcmp(body.data(), "INFO", 4) == 0)
      for (size_t s = 4; s + 8 <= body.size();) {
        const uint32_t n = body[s + 4] | body[s + 5] << 8 | body[s + 6] << 16 | body[s + 7] << 24;
        const std::string text(body.begin() + s + 8, body.begin() + s + 8 + n);
        r.info[std::string(body.begin() + s, body.begin() + s + 4)] =
            text.substr(0, text.find('\0'));
        s += 8 + n + (n & 1);
      }
    r.chunks.emplace(id, std::move(body));
    at += 8 + size + (size & 1);
  }
  return r;
}

class InfoEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    WAVEFORMATEX f{};
    pcmBuildWaveHeader(f, 16, 1, 8000);
    samples.resize(3200);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 13 % 251);
    source = (dir.path() / "plain.wav").string();
    ASSERT_EQ(wioWaveSaveFile(source, &f, samples.data(), int64_t(samples.size())), kWioOk);
  }
  // Runs the editor on `path`, with `act` posted to run inside the modal form.
  bool Edit(TMMWaveFile& file, const std::string& path,
            const std::function<void(TMMRiffInfoEditorDlg&)>& act) {
    file.SetFileName(path);
    TMMWaveInfoEditor editor(nullptr);
    editor.SetSource(&file);
    GetDispatcher().Post([&] { act(*editor.Dialog()); });
    return editor.Execute();
  }
  static int Line(const std::string& id) {
    return RiffFindaINFO(mmioFourCC(id[0], id[1], id[2], id[3]));
  }

  testing::ScratchFolder dir;
  std::vector<uint8_t> samples;
  std::string source;
  ScopedAnswerer scoped;
};

TEST_F(InfoEditor, ShowsTwentyThreeUnmarkedLinesAndAnswersOnlyForChanges) {
  TMMWaveFile file(nullptr);
  EXPECT_FALSE(Edit(file, source, [&](TMMRiffInfoEditorDlg& d) {
    ASSERT_EQ(d.INFOComboBox->Items().Count(), 23);
    EXPECT_EQ(d.INFOComboBox->GetItemIndex(), 0);
    EXPECT_EQ(d.INFOComboBox->Items()[0].substr(0, 6), "IARL  ");
    for (int i = 0; i < 23; ++i) EXPECT_EQ(d.INFOComboBox->Items()[i][4], ' ');
    EXPECT_FALSE(d.ClrBtn->GetEnabled());
    uitest::Click(*d.OKBtn, 5, 5);
  })) << "nothing changed";

  EXPECT_TRUE(Edit(file, source, [&](TMMRiffInfoEditorDlg& d) {
    d.INFOComboBox->SetItemIndex(Line("INAM"));
    d.InfoTextMemo->SetText("Spot A");
    d.InfoTextMemoExit();
    EXPECT_EQ(d.INFOComboBox->Items()[Line("INAM")][4], '*');
    EXPECT_TRUE(d.InfoChanged());
    // Enter in the description stores it and leaves the form open.
    d.DescriptionEdit->SetFocus();
    uitest::Type(*d.DescriptionEdit, "Note\r");
    EXPECT_EQ(d.GetModalResult(), mrNone);
    EXPECT_EQ(d.DescriptionEdit->GetText(), "Note");
    uitest::Click(*d.OKBtn, 5, 5);
  }));
  const TDispList* disp = file.GetWave()->GetPWaveIOCB()->lpDisp.get();
  ASSERT_EQ(disp->entries.size(), 1u);
  EXPECT_EQ(disp->entries[0]->format, kDispText);
  EXPECT_STREQ(reinterpret_cast<const char*>(disp->entries[0]->changed->data()), "Note");
}

TEST_F(InfoEditor, RoundTripWritesInfoAndDispAndKeepsTheSamples) {
  const std::string bmp = (dir.path() / "logo.bmp").string();
  {
    TBitmap logo;
    logo.SetSize(64, 20);
    logo.Canvas().Brush().Color = clBlue;
    logo.Canvas().FillRect({0, 0, 64, 20});
    ASSERT_TRUE(logo.SaveToFile(bmp));
  }
  const std::string saved = (dir.path() / "saved.wav").string();
  {
    TMMWaveFile file(nullptr);
    scoped.answerer.AnswerFile(bmp);
    EXPECT_TRUE(Edit(file, source, [&](TMMRiffInfoEditorDlg& d) {
      d.INFOComboBox->SetItemIndex(Line("INAM"));
      d.InfoTextMemo->SetText("Spot B");
      d.InfoTextMemoExit();
      d.DescriptionEdit->SetText("Morning cut");
      d.DescriptionEditExit();
      uitest::Click(*d.PictureBtn, 5, 5);
      EXPECT_TRUE(d.ClrBtn->GetEnabled());
      EXPECT_TRUE(d.DIBImage->GetStretch()) << "64 wide is more than the image";
      uitest::SaveScreenshot(d, "riff_info_editor");
      uitest::Click(*d.OKBtn, 5, 5);
    }));
    file.SaveToFile(saved);
  }
  const RiffChunks r = ReadRiff(saved);
  EXPECT_EQ(r.info.at("INAM"), "Spot B");
  std::vector<std::vector<uint8_t>> disps;
  for (auto [it, end] = r.chunks.equal_range("DISP"); it != end; ++it) disps.push_back(it->second);
  ASSERT_EQ(disps.size(), 2u);
  bool text = false, picture = false;
  for (const auto& d : disps) {
    const uint32_t type = d[0] | d[1] << 8 | d[2] << 16 | d[3] << 24;
    const std::vector<uint8_t> body(d.begin() + 4, d.end());
    if (type == 1)
      text = std::string(body.begin(), body.end()).c_str() == std::string("Morning cut");
    if (type == 8) {
      picture = DIB_Width(body) == 64 && DIB_Height(body) == 20 && DIB_BitCount(body) == 24;
      // The header and 20 rows of 192 bytes; no colour table at 24 bits.
      EXPECT_EQ(body.size(), 40u + 192 * 20);
      EXPECT_EQ((std::vector<uint8_t>(body.begin() + 40, body.begin() + 43)),
                (std::vector<uint8_t>{255, 0, 0}));
    }
  }
  EXPECT_TRUE(text);
  EXPECT_TRUE(picture);
  ASSERT_EQ(r.chunks.count("data"), 1u);
  EXPECT_EQ(r.chunks.find("data")->second, samples);

  // Clear hides the picture read from the file; Reset brings it back.
  TMMWaveFile file(nullptr);
  EXPECT_FALSE(Edit(file, saved, [&](TMMRiffInfoEditorDlg& d) {
    EXPECT_TRUE(d.ClrBtn->GetEnabled());
    EXPECT_EQ(d.DescriptionEdit->GetText(), "Morning cut");
    uitest::Click(*d.ClrBtn, 5, 5);
    EXPECT_FALSE(d.ClrBtn->GetEnabled());
    EXPECT_EQ(d.DIBImage->Picture().Width(), 32) << "the wave symbol";
    uitest::Click(*d.RevertBtn, 5, 5);
    EXPECT_TRUE(d.ClrBtn->GetEnabled());
    EXPECT_EQ(d.DIBImage->Picture().Width(), 64);
    uitest::Click(*d.OKBtn, 5, 5);
  }));
}

// A picture that is see-through anywhere is stored with its alpha at 32 bits; an opaque one at
// 24 bits. Either way the chunk holds the header and the rows only (5 x 2 pixels: rows of 16 or
// 20 bytes, bottom row first).
TEST_F(InfoEditor, APictureKeepsItsAlphaAt32BitsAndAnOpaqueOneTakes24) {
  struct {
    const char* name;
    QImage::Format format;
    uint32_t topLeft;
    int bits;
    size_t size;
    std::vector<uint8_t> topLeftBytes;
  } cases[] = {
      {"translucent corner",
       QImage::Format_ARGB32,
       0x40112233,
       32,
       40 + 20 * 2,
       {0x33, 0x22, 0x11, 0x40}},
      {"clear corner",
       QImage::Format_ARGB32,
       0x00112233,
       32,
       40 + 20 * 2,
       {0x33, 0x22, 0x11, 0x00}},
      {"alpha channel, all opaque",
       QImage::Format_ARGB32,
       0xFF112233,
       24,
       40 + 16 * 2,
       {0x33, 0x22, 0x11}},
      {"no alpha channel", QImage::Format_RGB32, 0xFF112233, 24, 40 + 16 * 2, {0x33, 0x22, 0x11}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string png = (dir.path() / "pic.png").string();
    QImage img(5, 2, c.format);
    img.fill(QColor::fromRgba(0xFF8090A0));
    img.setPixel(0, 0, c.topLeft);
    ASSERT_TRUE(img.save(QString::fromStdString(png)));
    const std::string saved = (dir.path() / "alpha.wav").string();
    {
      TMMWaveFile file(nullptr);
      scoped.answerer.AnswerFile(png);
      EXPECT_TRUE(Edit(file, source, [&](TMMRiffInfoEditorDlg& d) {
        uitest::Click(*d.PictureBtn, 5, 5);
        uitest::Click(*d.OKBtn, 5, 5);
      }));
      file.SaveToFile(saved);
    }
    const RiffChunks r = ReadRiff(saved);
    ASSERT_EQ(r.chunks.count("DISP"), 1u);
    const std::vector<uint8_t>& d = r.chunks.find("DISP")->second;
    ASSERT_EQ(d[0], 8);  // a bitmap
    const std::vector<uint8_t> body(d.begin() + 4, d.end());
    EXPECT_EQ(DIB_BitCount(body), c.bits);
    EXPECT_EQ(DIB_Width(body), 5);
    EXPECT_EQ(DIB_Height(body), 2);
    EXPECT_EQ(body.size(), c.size);
    // The top row is the second in the file.
    const size_t at = 40 + (c.size - 40) / 2;
    ASSERT_GE(body.size(), at + c.topLeftBytes.size());
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + long(at),
                                   body.begin() + long(at + c.topLeftBytes.size())),
              c.topLeftBytes);
  }
}

}  // namespace
}  // namespace vant
