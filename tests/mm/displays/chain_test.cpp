// The connector behind a wave-out device on the Manual backend: the displays see the buffer
// that is being heard, and the device's stop clears them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "audiobackend.h"
#include "displays_fixture.h"
#include "manualbackend.h"
#include "mmwaveout.h"

namespace vant::testing {
namespace {

constexpr int kBuffer = 16000;

// Plays buffers whose right samples carry the buffer's number.
class NumberedSource : public TMMDSPComponent {
 public:
  explicit NumberedSource(int buffers) : TMMDSPComponent(nullptr), buffers_(buffers) {
    PublishLinks(false, true);
    const WAVEFORMATEX f = Pcm(16, 2, 48000);
    SetPWaveFormat(&f);
  }
  void BufferLoad(PMMWaveHdr h, bool& more) override {
    auto* p = reinterpret_cast<int16_t*>(h->wh.lpData);
    for (int i = 0; i < kBuffer / 4; ++i) {
      p[2 * i] = static_cast<int16_t>(i + 1);
      p[2 * i + 1] = static_cast<int16_t>(next_);
    }
    h->wh.dwBytesRecorded = kBuffer;
    more = ++next_ < buffers_;
  }

 private:
  int buffers_;
  int next_ = 0;
};

class ChainTest : public ConnectorTest {
 protected:
  void SetUp() override {
    ConnectorTest::SetUp();
    audio::SetBackend(&backend);
    backend.SetLatencyFrames(256);
  }
  void TearDown() override {
    audio::SetBackend(nullptr);
    ConnectorTest::TearDown();
  }
  audio::ManualBackend backend;
};

TEST_F(ChainTest, DisplaysSeeTheBufferBeingHeard) {
  NumberedSource source(8);
  TMMWaveOut out(nullptr);
  TMMConnector connector(nullptr);
  // The bar keeps the right sample, the buffer's number, of each slice's first frame.
  struct Right : RecordingDisplay {
    void RefreshPCMData(const void* slice) override {
      int16_t r;
      std::memcpy(&r, static_cast<const uint8_t*>(slice) + 2, 2);
      numbers.push_back(r);
    }
    std::vector<int16_t> numbers;
  } right;
  connector.SetDisplay(TMMDisplayKind::Level, 1, &right);
  out.SetBufferSize(kBuffer);
  out.SetNumBuffers(3);
  out.SetInput(&source);
  out.SetOutput(&connector);
  int stops = 0;
  out.OnStop = [&](TObject*) { ++stops; };
  out.Start();
  Gui().ProcessMessages();  // the connector starts running
  // Rendered as fast as it is heard (48 frames a millisecond): the displays are fed at the
  // display's frames, which see every buffer for a good part of its 83 ms.
  for (int i = 0; i < 2000 && stops == 0; ++i) {
    backend.Render(48);
    Pass(1000);
  }
  ASSERT_EQ(stops, 1);
  ASSERT_FALSE(right.numbers.empty());
  // Buffer 0 never reaches the displays through its own completion: when it comes back, buffer 1
  // is being heard, and so on; and no buffer is shown after a later one, not even at the end,
  // when the ring's next header holds sound heard long ago.
  EXPECT_EQ(right.numbers.front(), 1);
  EXPECT_TRUE(std::is_sorted(right.numbers.begin(), right.numbers.end()))
      << ::testing::PrintToString(right.numbers);
  EXPECT_EQ(right.numbers.back(), 7);
  EXPECT_EQ(right.resets, 1) << "the device's stop clears the displays";
  out.Close();
}

}  // namespace
}  // namespace vant::testing
