// Writes the sample commercial: six seconds of a 1 kHz tone (48 kHz, 16-bit mono) with the four
// marks, the commercial data filled in and one CSV contact sheet attached. Every byte is fixed,
// so the committed file can be checked against a fresh run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bwfformat.h"
#include "cp932.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRate = 48000;

void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

void PutChunk(Bytes& out, const char* id, const Bytes& data) {
  PutText(out, std::string(id, 4));
  Put32(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
}

std::string Sjis(const char* utf8) { return vant::text::ToCp932Lossy(utf8); }

Bytes Format() {
  Bytes b;
  Put16(b, bwf::kFormatPcm);
  Put16(b, 1);
  Put32(b, kRate);
  Put32(b, kRate * 2);
  Put16(b, 2);
  Put16(b, 16);
  return b;
}

Bytes Extension() {
  Bytes b(bwf::kBextSize, 0);
  const std::string description = Sjis("サンプルCM　1kHz トーン");
  std::copy(description.begin(), description.end(), b.begin());
  return b;
}

Bytes CommercialData() {
  using bwf::CmcdField;
  TCmcdInfo cmcd;
  cmcd.SetCmcdVersion(100);
  const std::pair<CmcdField, const char*> fields[] = {
      {CmcdField::ProductionCode, "SMP-0001"},
      {CmcdField::ItemNumber, "SAMPLE01"},
      {CmcdField::CommonCode, "SMPL0000000001"},
      {CmcdField::CreationDate, "2026/12/01"},
      {CmcdField::ClientName, "見本食品株式会社"},
      {CmcdField::AdCompany, "見本広告社"},
      {CmcdField::Production, "見本制作"},
      {CmcdField::RecordingStudio, "見本スタジオ"},
      {CmcdField::CMTitle, "見本食品　新商品　５秒"},
      {CmcdField::CMLength, "5"},
      {CmcdField::Limitation, "2027/11/30"},
      {CmcdField::RSComment, "トーンのみの見本です。"},
      {CmcdField::ADComment, "納品前の確認用。"},
  };
  for (const auto& [field, text] : fields) cmcd.Set(field, Sjis(text));
  return Bytes(cmcd.bytes.begin(), cmcd.bytes.end());
}

Bytes Tone(uint32_t samples) {
  Bytes b;
  b.reserve(samples * 2);
  const double kPi = 3.14159265358979323846;
  for (uint32_t i = 0; i < samples; ++i) {
    // -12 dBFS; whole periods, so the tone starts and ends at zero.
    const double v = 8192.0 * std::sin(2.0 * kPi * 1000.0 * i / kRate);
    Put16(b, uint16_t(int16_t(std::lround(v))));
  }
  return b;
}

// One cue point with its label.
struct Mark {
  uint32_t id;
  uint32_t sample;
  const char* label;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplegen <file>\n");
    return 2;
  }
  const Mark marks[] = {{1, 0, "BC$START"},
                        {2, kRate / 2, "BC$STANDBY"},
                        {3, kRate / 2 + 5 * kRate, "BC$END"},
                        {4, 6 * kRate - 1, "BC$STOP"},
                        {bwf::NoteId(1), 0, "BC$NOTE1"}};
  Bytes cue, adtl;
  Put32(cue, uint32_t(std::size(marks)));
  PutText(adtl, "adtl");
  for (const Mark& m : marks) {
    Put32(cue, m.id);
    Put32(cue, 0);
    PutText(cue, "data");
    Put32(cue, 0);
    Put32(cue, 0);
    Put32(cue, m.sample);
    Bytes label;
    Put32(label, m.id);
    PutText(label, m.label);
    label.push_back(0);
    PutChunk(adtl, "labl", label);
  }
  Bytes file;
  Put32(file, bwf::NoteId(1));
  Put32(file, 0);
  PutText(file, Sjis("連絡表.csv") + "\r\n");
  PutText(file, Sjis("項目,内容\r\n広告主,見本食品株式会社\r\n秒数,5\r\n担当,見本広告社\r\n"));
  PutChunk(adtl, "file", file);

  Bytes body;
  PutText(body, "WAVE");
  PutChunk(body, "fmt ", Format());
  PutChunk(body, "bext", Extension());
  PutChunk(body, "cmcd", CommercialData());
  PutChunk(body, "data", Tone(6 * kRate));
  PutChunk(body, "cue ", cue);
  PutChunk(body, "LIST", adtl);
  Bytes out;
  PutChunk(out, "RIFF", body);

  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
