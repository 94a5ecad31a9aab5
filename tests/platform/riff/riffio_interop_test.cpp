// A wave file written through the RIFF layer (odd data with its pad byte, a LIST after the data,
// sizes patched by Ascend) must read in sox and ffprobe as the format and length it holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "riffio.h"

namespace {
using namespace vant::riff;

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

TEST(RiffIoInterop, WrittenWaveReadsInPublicTools) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("riffio_interop_" + std::to_string(::getpid()) + ".wav");
  {
    auto f = RiffFile::Open(path, Mode::kCreate);
    ASSERT_TRUE(f);
    ChunkInfo form{.type = MakeFourCC('W', 'A', 'V', 'E')};
    ASSERT_EQ(f->CreateChunk(form, Search::kRiff), Result::kOk);
    uint8_t fmt[16];
    PutLe16(fmt, 1);         // PCM
    PutLe16(fmt + 2, 1);     // mono
    PutLe32(fmt + 4, 8000);  // rate
    PutLe32(fmt + 8, 8000);  // bytes per second
    PutLe16(fmt + 12, 1);    // block align
    PutLe16(fmt + 14, 8);    // bits
    ChunkInfo f1{.id = MakeFourCC('f', 'm', 't', ' ')};
    f->CreateChunk(f1);
    f->Write(fmt, sizeof fmt);
    ASSERT_EQ(f->Ascend(f1), Result::kOk);
    ChunkInfo data{.id = MakeFourCC('d', 'a', 't', 'a')};
    f->CreateChunk(data);
    std::string samples(801, static_cast<char>(128));  // odd: a pad byte follows
    f->Write(samples.data(), samples.size());
    ASSERT_EQ(f->Ascend(data), Result::kOk);
    ChunkInfo info{.type = MakeFourCC('I', 'N', 'F', 'O')};
    f->CreateChunk(info, Search::kList);
    ChunkInfo name{.id = MakeFourCC('I', 'N', 'A', 'M')};
    f->CreateChunk(name);
    f->Write("tone", 5);
    ASSERT_EQ(f->Ascend(name), Result::kOk);
    ASSERT_EQ(f->Ascend(info), Result::kOk);
    ASSERT_EQ(f->Ascend(form), Result::kOk);
    EXPECT_EQ(f->Size(), 12u + 24 + 8 + 802 + 12 + 8 + 6);
  }
  EXPECT_EQ(Output("sox --i -s '" + path.string() + "' 2>&1"), "801");
  EXPECT_EQ(Output("sox --i -r '" + path.string() + "' 2>&1"), "8000");
  EXPECT_EQ(Output("ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 '" +
                path.string() + "' 2>&1"),
            "tone");
  std::filesystem::remove(path);
}

}  // namespace
