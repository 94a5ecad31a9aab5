#include "mmriff.h"

#include <gtest/gtest.h>

#include "wavebuilder.h"

namespace {

using namespace wavetest;

const uint32_t kINAM = mmioFourCC('I', 'N', 'A', 'M');
const uint32_t kICMT = mmioFourCC('I', 'C', 'M', 'T');
const uint32_t kIART = mmioFourCC('I', 'A', 'R', 'T');

std::unique_ptr<TInfoChunk> Parse(const Bytes& body) {
  std::unique_ptr<TInfoChunk> info;
  RiffInitINFO(info);
  EXPECT_EQ(RiffReadINFOBody(body, info.get()), kRiffOk);
  return info;
}

std::string Text(TInfoChunk& info, uint32_t id) {
  return RiffInfoText(info, *RiffFindPIINFO(&info, id));
}

TEST(RiffInfo, BodyParseStaysInsideTheList) {
  const struct {
    const char* what;
    Bytes body;
    std::string name, comment;
  } rows[] = {
      {"odd text and its pad byte",
       Concat({Chunk("INAM", wavetest::Text("Odd")), Chunk("ICMT", wavetest::Text("Next"))}), "Odd",
       "Next"},
      {"unknown ids are skipped",
       Concat({Chunk("ZZZZ", {1, 2, 3}), Chunk("ICMT", wavetest::Text("C"))}), "", "C"},
      {"text stops at its first zero", Chunk("INAM", {'A', 0, 'B', 0}), "A", ""},
      {"text cut at the end of the body", Chunk("INAM", {'L', 'o', 'n', 'g'}, 4000, false), "Long",
       ""},
      {"a header that does not fit ends the list",
       Concat({Chunk("INAM", wavetest::Text("N")), Bytes{'I', 'C', 'M', 'T', 9}}), "N", ""},
      {"a size past the end ends the list",
       Concat({Chunk("ICMT", wavetest::Text("C"), 0xFFFFFFF0, false),
               Chunk("INAM", wavetest::Text("X"))}),
       "", "C"},
  };
  for (const auto& row : rows) {
    auto info = Parse(row.body);
    EXPECT_EQ(info->entries.size(), 23u) << row.what;
    EXPECT_EQ(Text(*info, kINAM), row.name) << row.what;
    EXPECT_EQ(Text(*info, kICMT), row.comment) << row.what;
  }
}

TEST(RiffInfo, EditsKeepTheReadValueApart) {
  auto info = Parse(Chunk("INAM", wavetest::Text("Name")));
  TInfoData* inam = RiffFindPIINFO(info.get(), kINAM);

  RiffModifyINFO(info.get(), inam, kRiffChanged, 0, std::string("Name"));  // same as read
  EXPECT_EQ(inam->flags, kRiffRead);
  EXPECT_FALSE(inam->changed);

  RiffModifyINFO(info.get(), inam, kRiffChanged, 0, std::string("New"));
  EXPECT_EQ(Text(*info, kINAM), "New");
  EXPECT_EQ(inam->flags, kRiffChanged);
  RiffModifyINFO(info.get(), inam, kRiffChanged, 0, std::string(""));  // drops the change
  EXPECT_EQ(inam->flags, kRiffDropped);
  EXPECT_EQ(Text(*info, kINAM), "Name");

  RiffModifyINFO(info.get(), inam, kRiffChanged, 0, std::string(""));  // removes the read name
  EXPECT_EQ(Text(*info, kINAM), "");
  EXPECT_TRUE(RiffBuildINFO(*info).empty());

  // Without a read text an empty text is discarded and a new one kept.
  TInfoData* iart = RiffFindPIINFO(info.get(), kIART);
  RiffModifyINFO(info.get(), iart, kRiffChanged, 0, std::string(""));
  EXPECT_FALSE(iart->changed);
  RiffModifyINFO(info.get(), iart, kRiffChanged, 0, std::string("Artist"));
  RiffModifyINFO(info.get(), iart, kRiffChanged, 0, std::nullopt);  // no text, no bit 1: nothing
  EXPECT_EQ(Text(*info, kIART), "Artist");
  RiffModifyINFO(info.get(), iart, kRiffDropped, 0, std::nullopt);
  EXPECT_EQ(Text(*info, kIART), "");
  RiffModifyINFO(info.get(), nullptr, kRiffChanged, 0, std::string("x"));  // nil entry

  EXPECT_EQ(RiffFindaINFO(kIART), 1);
  EXPECT_EQ(RiffFindaINFO(mmioFourCC('X', 'X', 'X', 'X')), -1);
  EXPECT_EQ(RiffFindPIINFO(info.get(), mmioFourCC('X', 'X', 'X', 'X')), nullptr);
}

TEST(RiffInfo, WritesNonEmptyTextsInTableOrder) {
  std::unique_ptr<TInfoChunk> info;
  RiffInitINFO(info);
  EXPECT_TRUE(RiffBuildINFO(*info).empty());  // no LIST at all without a text
  RiffModifyINFO(info.get(), RiffFindPIINFO(info.get(), kINAM), kRiffChanged, 0, std::string("Ab"));
  RiffModifyINFO(info.get(), RiffFindPIINFO(info.get(), kIART), kRiffChanged, 0,
                 std::string("Cde"));
  const Bytes expected = Chunk("LIST", Concat({{'I', 'N', 'F', 'O'},
                                               Chunk("IART", wavetest::Text("Cde")),
                                               Chunk("INAM", wavetest::Text("Ab"))}));
  EXPECT_EQ(RiffBuildINFO(*info), expected);

  std::unique_ptr<TInfoChunk> copy;
  RiffInitINFO(copy);
  EXPECT_EQ(RiffCopyInfo(copy.get(), info.get()), kRiffOk);
  EXPECT_EQ(Text(*copy, kIART), "Cde");
  EXPECT_EQ(RiffFindPIINFO(copy.get(), kIART)->flags, kRiffChanged);
  EXPECT_EQ(RiffCopyInfo(nullptr, info.get()), kRiffNilArgument);
  EXPECT_EQ(RiffFreeINFO(copy), kRiffOk);
  EXPECT_EQ(RiffFreeINFO(copy), kRiffNilArgument);
}

TEST(RiffDisp, ReadModifyCopyAndWrite) {
  std::unique_ptr<TDispList> list;
  RiffInitDISP(list);
  EXPECT_EQ(RiffReadDISPBody(Bytes{1, 0, 0, 0}, list.get()), kRiffOk);  // too short: nothing
  EXPECT_TRUE(list->entries.empty());
  ASSERT_EQ(RiffReadDISPBody(Concat({{1, 0, 0, 0}, wavetest::Text("Hi")}), list.get()), kRiffOk);
  ASSERT_EQ(RiffReadDISPBody(Concat({{2, 0, 0, 0}, wavetest::Text("Bitmap?")}), list.get()),
            kRiffOk);
  ASSERT_EQ(list->entries.size(), 2u);
  TDisp* text = list->entries[0].get();

  // Format 2 is kept and copied but never written.
  const Bytes onlyText = Chunk("DISP", Concat({{1, 0, 0, 0}, wavetest::Text("Hi")}));
  EXPECT_EQ(RiffBuildDISP(*list), onlyText);
  std::unique_ptr<TDispList> copy;
  RiffInitDISP(copy);
  RiffInsertDISP(copy.get(), RiffCreateDISP(0, 1, wavetest::Text("old"), std::nullopt));
  EXPECT_EQ(RiffCopyDISP(copy.get(), list.get()), kRiffOk);
  ASSERT_EQ(copy->entries.size(), 2u);
  EXPECT_EQ(copy->entries[1]->format, 2u);
  EXPECT_EQ(*copy->entries[1]->changed, wavetest::Text("Bitmap?"));

  RiffModifyDISP(list.get(), text, kRiffChanged, wavetest::Text("Hi"));  // same as read
  EXPECT_FALSE(text->changed);
  RiffModifyDISP(list.get(), text, kRiffChanged, wavetest::Text("Changed"));
  EXPECT_EQ(*RiffDispData(*text), wavetest::Text("Changed"));
  RiffModifyDISP(list.get(), text, kRiffChanged, Bytes{0});  // empty: the read text again
  EXPECT_EQ(text->flags, kRiffDropped);
  EXPECT_EQ(*RiffDispData(*text), wavetest::Text("Hi"));
  // Changed to nothing with flags 1: no data, nothing written.
  RiffModifyDISP(list.get(), text, kRiffChanged, std::nullopt);
  EXPECT_EQ(RiffDispData(*text), nullptr);
  EXPECT_TRUE(RiffBuildDISP(*list).empty());

  RiffFreeDISP(list, false);
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->entries.empty());
  RiffFreeDISP(list, true);
  EXPECT_FALSE(list);
}

}  // namespace

namespace {

TEST(RiffChunks, FileReadersWritersAndCopies) {
  using vant::riff::ChunkInfo;
  using vant::riff::RiffFile;
  const Bytes list =
      Chunk("LIST", Concat({{'I', 'N', 'F', 'O'}, Chunk("ICMT", wavetest::Text("C"))}));
  const Bytes disp = Chunk("DISP", Concat({{1, 0, 0, 0}, wavetest::Text("D")}));
  const Bytes image = Concat({list, disp});
  auto file = RiffFile::OpenMemory(std::span<const uint8_t>(image));
  ASSERT_TRUE(file);

  std::unique_ptr<TInfoChunk> info;
  RiffInitINFO(info);
  const ChunkInfo listCk{mmioFourCC('L', 'I', 'S', 'T'), uint32_t(list.size() - 8),
                         mmioFourCC('I', 'N', 'F', 'O'), 8, 0};
  ASSERT_EQ(RiffReadINFO(*file, listCk, info.get()), kRiffOk);
  EXPECT_EQ(Text(*info, kICMT), "C");
  ChunkInfo past = listCk;
  past.size = 5000;  // more than the image holds
  EXPECT_EQ(RiffReadINFO(*file, past, info.get()), kRiffIOError);

  std::unique_ptr<TDispList> list2;
  RiffInitDISP(list2);
  const ChunkInfo dispCk{mmioFourCC('D', 'I', 'S', 'P'), uint32_t(disp.size() - 8), 0,
                         list.size() + 8, 0};
  ASSERT_EQ(RiffReadDISP(*file, dispCk, list2.get()), kRiffOk);
  ASSERT_EQ(list2->entries.size(), 1u);

  // Written back, and copied chunk by chunk, the bytes come out as they went in.
  auto out = RiffFile::CreateMemory();
  ASSERT_EQ(RiffWriteINFO(*out, info.get()), kRiffOk);
  ASSERT_EQ(RiffWriteDISP(*out, list2.get()), kRiffOk);
  EXPECT_EQ(Bytes(out->Image().begin(), out->Image().end()), image);
  auto copy = RiffFile::CreateMemory();
  file->Seek(12);
  ASSERT_TRUE(RiffCopyList(*file, *copy, listCk));
  file->Seek(int64_t(dispCk.dataOffset));
  ASSERT_TRUE(RiffCopyChunk(*file, *copy, dispCk));
  EXPECT_EQ(Bytes(copy->Image().begin(), copy->Image().end()), image);
}

}  // namespace
