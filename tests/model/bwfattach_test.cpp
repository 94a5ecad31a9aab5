#include "bwfattach.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "notifyrecorder.h"
#include "vantbuilder.h"

namespace fs = std::filesystem;
using vb::Bytes;
using vb::Chunk;

namespace {

// A model read and scanned as the converter does it.
struct Model {
  explicit Model(const Bytes& bytes, int mode = TBWFChunck::kKeepOpen)
      : file(bytes), chunk(std::make_unique<TBWFChunck>(file.path(), mode)) {
    chunk->ReadCueChunks();
    chunk->MarkerCount = static_cast<int>(chunk->CuePointCount);
    chunk->ScanChunks(file.path());
  }
  vb::TempFile file;
  std::unique_ptr<TBWFChunck> chunk;
};

// A file with attachments numbered `notes`, each a cue point, a label and a `file` sub-chunk.
Bytes WithNotes(const std::vector<std::pair<int, std::string>>& notes,
                const Bytes& content = {'x'}) {
  std::vector<vb::Cue> cues;
  std::vector<Chunk> adtl;
  for (const auto& [n, name] : notes) {
    cues.push_back({vb::Note(n), 0});
    adtl.push_back(vb::Labl(vb::Note(n), "BC$NOTE" + std::to_string(n)));
  }
  for (const auto& [n, name] : notes) adtl.push_back(vb::File(vb::Note(n), name, content));
  return vb::Build({vb::Fmt(), vb::Data(64), vb::CueChunk(cues), vb::List("adtl", adtl)});
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A PDF of odd size with CR bytes, CR LF pairs and a lone LF.
Bytes AwkwardPdf() {
  std::string s = "%PDF-1.4\r1 0 obj\r\n<<>>\nendobj\r\r\n";
  for (int i = 0; i < 40000; ++i) s += static_cast<char>((i * 7919) % 256);
  s += "%%EOF\r";
  if (s.size() % 2 == 0) s += '\n';
  return Bytes(s.begin(), s.end());
}

}  // namespace

TEST(Attach, FirstFreeLabelNumber) {
  Model m(WithNotes({{1, "a.pdf"}, {3, "b.pdf"}}));
  uint32_t id = 0;
  EXPECT_EQ(AddAttachment(*m.chunk, "/docs/sheet.csv", id), 2);
  EXPECT_EQ(id, bwf::NoteId(2));
  const TBWFMarker& added = m.chunk->ScanMarkers.back();
  EXPECT_EQ(added.Label(), "BC$NOTE2");
  EXPECT_EQ(added.cue.dwName, id);
  EXPECT_EQ(added.cue.fccChunk, bwf::kData);
  EXPECT_EQ(added.cue.dwPosition, 0u);
  ASSERT_GE(m.chunk->ListTable.size(), 2u);
  const TChunkEntry& labl = m.chunk->ListTable[m.chunk->ListTable.size() - 2];
  const TChunkEntry& file = m.chunk->ListTable.back();
  EXPECT_EQ(labl.id, bwf::kLabl);
  EXPECT_EQ(labl.size, 13u);
  EXPECT_EQ(labl.origin, TChunkEntry::kNew);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(labl.data.data()) + 4), "BC$NOTE2");
  EXPECT_EQ(file.id, bwf::kFile);
  EXPECT_EQ(file.path, "/docs/sheet.csv");
  EXPECT_EQ(bwf::Le32(file.data.data()), id);
  // The next one takes 4; a deleted NOTE1 frees its number again.
  EXPECT_EQ(AddAttachment(*m.chunk, "/docs/more.csv", id), 4);
  EXPECT_FALSE(DeleteAttachment(*m.chunk, "A.PDF").empty());
  EXPECT_EQ(AddAttachment(*m.chunk, "/docs/again.csv", id), 1);
}

TEST(Attach, NineTakenLeaveNoNumber) {
  Model m(WithNotes({}));
  uint32_t id = 0;
  for (int n = 1; n <= 9; ++n) EXPECT_EQ(AddAttachment(*m.chunk, "/d/f.csv", id), n);
  const size_t entries = m.chunk->ListTable.size();
  EXPECT_EQ(AddAttachment(*m.chunk, "/d/tenth.csv", id), 0);
  EXPECT_EQ(m.chunk->ListTable.size(), entries);  // nothing added
}

TEST(Attach, NameThatCp932CannotHoldIsRefused) {
  NotifyRecorder notes;
  Model m(WithNotes({}));
  uint32_t id = 0;
  EXPECT_EQ(AddAttachment(*m.chunk, "/d/\xF0\x9F\x98\x80.csv", id), -1);  // an emoji
  EXPECT_EQ(AddAttachment(*m.chunk, "/d/" + std::string(300, 'n') + ".csv", id), -1);
  EXPECT_TRUE(m.chunk->ListTable.empty());
  EXPECT_EQ(notes.lines.size(), 2u);
  EXPECT_EQ(notes.lines[0], std::string("P:") + kMsgAttachNameInvalid);
  EXPECT_EQ(AddAttachment(*m.chunk, "/d/一覧①.csv", id), 1);  // CP932 holds these
}

TEST(Attach, DeletingSharedNamesAndTheDeleteList) {
  Model marks(vb::Build(vb::FullVantChunks(64)));
  EXPECT_EQ(DeleteAttachment(*marks.chunk, ""), "");  // the marks carry no attachment
  Model m(WithNotes({{1, "same.pdf"}, {2, "SAME.pdf"}, {3, "other.pdf"}}));
  const std::string first = DeleteAttachment(*m.chunk, "Same.PDF");
  const std::string second = DeleteAttachment(*m.chunk, "same.pdf");
  EXPECT_EQ(first, "827608910");  // 'N','O','T','1' read as a little-endian number
  EXPECT_EQ(second, std::to_string(static_cast<int32_t>(bwf::NoteId(2))));
  EXPECT_EQ(DeleteAttachment(*m.chunk, "same.pdf"), "");
  for (const TBWFMarker& s : m.chunk->ScanMarkers) {
    EXPECT_EQ(s.scanDeleted != 0, s.cue.dwName != bwf::NoteId(3)) << s.Label();
  }

  SetDeleteList(*m.chunk, first + "\r\n" + second + "\nnot a number\r\n\r\n-5\r\n");
  EXPECT_TRUE(IsDeleted(*m.chunk, bwf::NoteId(1)));
  EXPECT_TRUE(IsDeleted(*m.chunk, bwf::NoteId(2)));
  EXPECT_FALSE(IsDeleted(*m.chunk, bwf::NoteId(3)));
  EXPECT_FALSE(IsDeleted(*m.chunk, 0));  // lines that are no numbers delete nothing
  EXPECT_TRUE(IsDeleted(*m.chunk, static_cast<uint32_t>(-5)));
  SetDeleteList(*m.chunk, "");
  EXPECT_FALSE(IsDeleted(*m.chunk, bwf::NoteId(1)));
}

TEST(Attach, ExtractedBytesAreTheOriginalInBothAccessModes) {
  const Bytes pdf = AwkwardPdf();
  ASSERT_EQ(pdf.size() % 2, 1u);
  const Bytes bytes = WithNotes({{1, "sheet.csv"}, {2, "Contact.PDF"}}, pdf);
  for (int mode : {TBWFChunck::kKeepOpen, TBWFChunck::kReopenPerRead}) {
    SCOPED_TRACE(mode);
    Model m(bytes, mode);
    const fs::path out = m.file.path().string() + ".out.pdf";
    EXPECT_EQ(ExtractPdfTo(*m.chunk, "contact.pdf", out), out.string());
    EXPECT_EQ(ReadAll(out), std::string(pdf.begin(), pdf.end()));
    fs::remove(out);
    const std::string temp = ExtractPdf(*m.chunk, "CONTACT.pdf");
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(fs::path(temp).parent_path(), AttachTempFolder());
    EXPECT_EQ(ReadAll(temp), std::string(pdf.begin(), pdf.end()));
    // Kinds are kept apart: the PDF is no CSV and the CSV no PDF.
    EXPECT_EQ(ExtractCsv(*m.chunk, "contact.pdf"), "");
    EXPECT_EQ(ExtractPdf(*m.chunk, "sheet.csv"), "");
    EXPECT_FALSE(ExtractCsv(*m.chunk, "sheet.csv").empty());
  }
}

TEST(Attach, NameLineEndingInCrAlone) {
  Chunk file = vb::Raw("file", {});
  vb::Put32(file.data, vb::Note(1));
  vb::Put32(file.data, 0);
  vb::PutText(file.data, "cr.pdf\r\nbody");  // the CR alone ends the line; LF is data
  file.data.erase(file.data.begin() + 8 + 7);
  Model m(vb::Build({vb::Fmt(), vb::Data(8), vb::CueChunk({{vb::Note(1), 0}}),
                     vb::List("adtl", {vb::Labl(vb::Note(1), "BC$NOTE1"), file})}));
  const std::string out = ExtractPdf(*m.chunk, "cr.pdf");
  EXPECT_EQ(ReadAll(out), "body");
}

TEST(Attach, PendingLinesGiveTheirOwnPath) {
  Model m(WithNotes({}));
  const fs::path untouched = m.file.path().string() + ".never";
  EXPECT_EQ(ExtractCsvTo(*m.chunk, "*list.csv [/home/u/list.csv]", untouched), "/home/u/list.csv");
  EXPECT_EQ(ExtractPdf(*m.chunk, "*a b.pdf [/x/a b.pdf] "), "/x/a b.pdf");
  EXPECT_FALSE(fs::exists(untouched));

  // A stored name may hold brackets; only a line that begins with "*" is a pending one.
  Model stored(WithNotes({{1, "report[1].pdf"}}, {'%', 'P'}));
  const fs::path out = stored.file.path().string() + ".out.pdf";
  EXPECT_EQ(ExtractPdfTo(*stored.chunk, "report[1].pdf", out), out.string());
  EXPECT_EQ(ReadAll(out), "%P");
  fs::remove(out);
  EXPECT_EQ(ReadAll(ExtractPdf(*stored.chunk, "REPORT[1].pdf")), "%P");
}

TEST(Attach, HostileNamesStayInTheTemporaryFolder) {
  struct Case {
    std::string stored;
    std::string safe;
  } cases[] = {
      {"../../etc/passwd.pdf", ".._.._etc_passwd.pdf"},
      {"..", "attachment"},
      {".", "attachment"},
      {"", "attachment"},
      {"a\x01"
       "b\x7F.pdf",
       "a_b_.pdf"},
      {"c:\\dir\\x.pdf", "c:_dir_x.pdf"},
      {"\x88\xea\x97\x97.csv", "一覧.csv"},
      {"\x83\x5C\x83\x74\x83\x67.pdf", "ソフト.pdf"},  // 0x5C as a trail byte is no separator
  };
  for (const auto& c : cases) EXPECT_EQ(SafeAttachFileName(c.stored), c.safe) << c.stored;
  EXPECT_LE(SafeAttachFileName(std::string(200, '\x82') + std::string(200, '\xA0')).size(), 255u);

  Model m(WithNotes({{1, "../../evil.pdf"}, {2, "/abs/evil.pdf"}}, {'%', 'P'}));
  for (const char* name : {"../../evil.pdf", "/abs/evil.pdf"}) {
    const fs::path out = ExtractPdf(*m.chunk, name);
    ASSERT_FALSE(out.empty()) << name;
    EXPECT_EQ(out.parent_path(), AttachTempFolder()) << name;
    EXPECT_EQ(ReadAll(out), "%P");
  }
}

TEST(Attach, FailedReadsAndWritesSaySoAndLeaveNoFile) {
  NotifyRecorder notes;
  // Reopened for each read, so the cut below is what the extraction meets.
  Model m(WithNotes({{1, "doc.pdf"}}, Bytes(5000, 'd')), TBWFChunck::kReopenPerRead);
  const fs::path out = m.file.path().string() + ".out.pdf";
  EXPECT_EQ(ExtractPdfTo(*m.chunk, "doc.pdf", "/nonexistent-folder/doc.pdf"), "");
  fs::resize_file(m.file.path(), fs::file_size(m.file.path()) - 3000);  // cut after reading
  EXPECT_EQ(ExtractPdfTo(*m.chunk, "doc.pdf", out), "");
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(notes.lines, (std::vector<std::string>{std::string("P:") + kMsgOpenForWriteFailed,
                                                   std::string("P:") + kMsgReadError}));
  EXPECT_EQ(ExtractPdfTo(*m.chunk, "missing.pdf", out), "");
}

// In a fresh process whose temporary folder cannot hold the per-run folder, an extraction
// refuses instead of writing into the current folder.
TEST(Attach, NoPerRunFolderMeansNoExtraction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path scratch = fs::temp_directory_path() / "vant-attach-nofolder";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  { std::ofstream(scratch / "doc.pdf") << "the user's own file"; }
  // A folder nobody can create entries in, not even root.
  const std::string tmpdir = "/proc/self";
  EXPECT_EXIT(
      {
        NotifyRecorder notes;
        Model m(WithNotes({{1, "doc.pdf"}}, Bytes(100, 'd')));
        setenv("TMPDIR", tmpdir.c_str(), 1);
        fs::current_path(scratch);
        const bool refused = ExtractPdf(*m.chunk, "doc.pdf").empty();
        const bool kept = ReadAll(scratch / "doc.pdf") == "the user's own file";
        std::exit(refused && kept && notes.lines.size() == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  fs::remove_all(scratch);
}

TEST(Attach, TempFileNames) {
  const fs::path a = MakeTempFileName("pdf");
  const fs::path b = MakeTempFileName("pdf");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.extension(), ".pdf");
  EXPECT_EQ(a.parent_path(), AttachTempFolder());
  EXPECT_TRUE(fs::exists(a));  // made exclusively, so no other file is taken over
}

// An attachment whose `file` sub-chunk has no cue point (as a save that reuses a deleted
// attachment's number writes it) still holds its number: a new one must not share it, or the
// two read back under one id and one of them is no longer listed.
TEST(Attach, ANumberHeldByAnAttachmentWithoutCuePointIsTaken) {
  Model m(vb::Build({vb::Fmt(), vb::Data(64), vb::CueChunk({{1, 0}}),
                     vb::List("adtl", {vb::Labl(1, "BC$START"), vb::Labl(vb::Note(1), "BC$NOTE1"),
                                       vb::File(vb::Note(1), "kept.csv", Bytes{'k'})})}));
  std::vector<std::string> listed;
  ASSERT_EQ(m.chunk->GetCsvList(listed), 1);
  uint32_t id = 0;
  EXPECT_EQ(AddAttachment(*m.chunk, "/docs/new.csv", id), 2);
  EXPECT_EQ(id, bwf::NoteId(2));
  // Once deleted, its number is free again.
  EXPECT_FALSE(DeleteAttachment(*m.chunk, "kept.csv").empty());
  EXPECT_EQ(AddAttachment(*m.chunk, "/docs/again.csv", id), 1);
}
