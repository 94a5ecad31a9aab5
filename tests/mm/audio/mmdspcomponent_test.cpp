// The audio chain: links and their refusals, format propagation, the effective buffer size,
// pull and push, and the notification walk.
#include "mmdspcomponent.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mmdspinterface.h"

namespace vant {
namespace {

using Log = std::vector<std::string>;

// A chain stage that writes each notification it hears into a shared log.
class Probe : public TMMDSPComponent {
 public:
  Probe(std::string name, Log* log, bool publishes = true)
      : TMMDSPComponent(nullptr), name_(std::move(name)), log_(log) {
    PublishLinks(publishes, publishes);
  }
  void Opened() override { Note("Opened"), TMMDSPComponent::Opened(); }
  void Closed() override { Note("Closed"), TMMDSPComponent::Closed(); }
  void Started() override { Note("Started"), TMMDSPComponent::Started(); }
  void Stopped() override { Note("Stopped"), TMMDSPComponent::Stopped(); }
  void Paused() override { Note("Paused"), TMMDSPComponent::Paused(); }
  void Restarted() override { Note("Restarted"), TMMDSPComponent::Restarted(); }
  void Reseting() override { Note("Reseting"), TMMDSPComponent::Reseting(); }
  void Looped() override { Note("Looped"), TMMDSPComponent::Looped(); }
  void SetBufferSize(int32_t size) override {
    Note("Size" + std::to_string(size));
    TMMDSPComponent::SetBufferSize(size);
  }

 private:
  void Note(const std::string& what) {
    if (log_) log_->push_back(name_ + ":" + what);
  }
  std::string name_;
  Log* log_;
};

// A device that only walks: it logs the moment it hears a notification, before its walk.
class ProbeDevice : public TMMCustomSoundComponent {
 public:
  ProbeDevice(std::string name, Log* log)
      : TMMCustomSoundComponent(nullptr), name_(name), log_(log) {
    PublishLinks(true, true);
  }
  void Opened() override { Note("Opened"), TMMCustomSoundComponent::Opened(); }
  void Closed() override { Note("Closed"), TMMCustomSoundComponent::Closed(); }
  void Started() override { Note("Started"), TMMCustomSoundComponent::Started(); }
  void Stopped() override { Note("Stopped"), TMMCustomSoundComponent::Stopped(); }
  void Paused() override { Note("Paused"), TMMCustomSoundComponent::Paused(); }
  void Restarted() override { Note("Restarted"), TMMCustomSoundComponent::Restarted(); }
  void Reseting() override { Note("Reseting"), TMMCustomSoundComponent::Reseting(); }
  void Looped() override { Note("Looped"), TMMCustomSoundComponent::Looped(); }

 private:
  void Note(const std::string& what) { log_->push_back(name_ + ":" + what); }
  std::string name_;
  Log* log_;
};

WAVEFORMATEX Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = channels * bits / 8;
  return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

// Links a, b, c, ... so that each is the Input of the next.
void Chain(std::initializer_list<TMMDSPComponent*> parts) {
  const TMMDSPComponent* previous = nullptr;
  for (TMMDSPComponent* p : parts) {
    if (previous) p->SetInput(const_cast<TMMDSPComponent*>(previous));
    previous = p;
  }
}

TEST(DSPChain, RefusedLinksLeaveEverythingAsItWas) {
  Probe a("a", nullptr), b("b", nullptr), c("c", nullptr);
  Chain({&a, &b, &c});
  a.SetInput(&a);   // self
  a.SetInput(&b);   // b is downstream of a
  a.SetInput(&c);   // further downstream
  c.SetOutput(&a);  // a is upstream of c
  c.SetOutput(&c);
  EXPECT_EQ(a.GetInput(), nullptr);
  EXPECT_EQ(c.GetOutput(), nullptr);
  EXPECT_EQ(b.GetInput(), &a);
  EXPECT_EQ(b.GetOutput(), &c);
  EXPECT_FALSE(DSPOutConnectCheck(&c, &a));
  EXPECT_FALSE(DSPInpConnectCheck(&c, &a));
  Probe x("x", nullptr);
  EXPECT_TRUE(DSPOutConnectCheck(&c, &x));
}

TEST(DSPChain, APartnerWithoutTheLinkPropertyNeedsItsAcceptFlag) {
  Probe device("d", nullptr), tap("tap", nullptr, /*publishes=*/false);
  device.SetOutput(&tap);
  EXPECT_EQ(device.GetOutput(), nullptr);
  tap.AcceptAsOutput = true;
  device.SetOutput(&tap);
  tap.AcceptAsOutput = false;
  EXPECT_EQ(device.GetOutput(), &tap);
  EXPECT_EQ(tap.GetInput(), &device);
  EXPECT_EQ(tap.InputPortName(), "Output");
  EXPECT_EQ(device.OutputPortName(), "Input");
  // Unlinking from the device side drops the tap's link too.
  device.SetOutput(nullptr);
  EXPECT_EQ(tap.GetInput(), nullptr);
}

TEST(DSPChain, RelinkingAFeedingComponentDropsItsOldPartnerQuietly) {
  Probe c("c", nullptr), b("b", nullptr), d("d", nullptr);
  const WAVEFORMATEX f = Pcm(2, 44100, 16);
  c.SetPWaveFormat(&f);
  d.SetInput(&c);
  ASSERT_NE(d.GetPWaveFormat(), nullptr);
  b.SetInput(&c);
  EXPECT_EQ(c.GetOutput(), &b);
  EXPECT_EQ(d.GetInput(), nullptr);
  EXPECT_NE(d.GetPWaveFormat(), nullptr) << "d's format must not be touched";
  EXPECT_EQ(b.GetPWaveFormat()->nSamplesPerSec, 44100u);
}

TEST(DSPChain, AFormatAtTheHeadReachesEveryLinkAsItsOwnCopy) {
  Probe a("a", nullptr), b("b", nullptr), c("c", nullptr), d("d", nullptr);
  Chain({&a, &b, &c, &d});
  const WAVEFORMATEX f = Pcm(1, 22050, 8);
  a.SetPWaveFormat(&f);
  std::vector<const WAVEFORMATEX*> copies;
  for (Probe* p : {&a, &b, &c, &d}) {
    ASSERT_NE(p->GetPWaveFormat(), nullptr);
    EXPECT_EQ(p->GetPWaveFormat()->nSamplesPerSec, 22050u);
    EXPECT_NE(p->GetPWaveFormat(), &f);
    for (auto* other : copies) EXPECT_NE(p->GetPWaveFormat(), other);
    copies.push_back(p->GetPWaveFormat());
  }
  a.SetPWaveFormat(nullptr);
  for (Probe* p : {&a, &b, &c, &d}) EXPECT_EQ(p->GetPWaveFormat(), nullptr);
  // A link made later takes the format from its new Input.
  a.SetPWaveFormat(&f);
  Probe e("e", nullptr);
  e.SetInput(&d);
  ASSERT_NE(e.GetPWaveFormat(), nullptr);
}

TEST(DSPChain, LinksMadeWhileLoadingReceiveTheFormatOnceLoaded) {
  Probe a("a", nullptr), b("b", nullptr), c("c", nullptr);
  for (Probe* p : {&a, &b, &c}) p->SetLoading(true);
  const WAVEFORMATEX f = Pcm(2, 32000, 16);
  a.SetPWaveFormat(&f);
  Chain({&a, &b, &c});
  EXPECT_EQ(b.GetPWaveFormat(), nullptr);
  EXPECT_EQ(c.GetPWaveFormat(), nullptr);
  for (Probe* p : {&a, &b, &c}) p->Loaded();
  ASSERT_NE(c.GetPWaveFormat(), nullptr);
  EXPECT_EQ(c.GetPWaveFormat()->nSamplesPerSec, 32000u);
}

TEST(DSPChain, EffectiveBufferSizeIsWholeBlocksAndNeverBelowOne) {
  struct Case {
    int32_t size;
    bool format;
    int32_t effective;
  } cases[] = {
      {16000, true, 16000}, {10, true, 8}, {2, true, 4}, {4098, true, 4096}, {10, false, 10}};
  for (const Case& c : cases) {
    Probe p("p", nullptr);
    const WAVEFORMATEX f = Pcm(2, 48000, 16);
    if (c.format) p.SetPWaveFormat(&f);
    p.SetBufferSize(c.size);
    EXPECT_EQ(p.GetBufferSize(), c.size);
    p.Opened();
    EXPECT_EQ(p.GetBufferSize(), c.effective) << c.size;
    p.Closed();
    EXPECT_EQ(p.GetBufferSize(), c.size);
  }
}

TEST(DSPChain, PullGoesUpAndPushGoesDown) {
  Probe head("head", nullptr), mid("mid", nullptr), tail("tail", nullptr);
  Chain({&head, &mid, &tail});
  std::vector<std::string> seen;
  head.OnBufferLoad = [&](TObject*, PMMWaveHdr h, bool& more) {
    seen.push_back("load head");
    h->wh.dwBytesRecorded = 100;
    more = false;
  };
  mid.OnBufferFilled = [&](TObject*, PMMWaveHdr) { seen.push_back("filled mid"); };
  tail.OnBufferLoad = [&](TObject*, PMMWaveHdr, bool&) { seen.push_back("load tail"); };
  tail.OnBufferFilled = [&](TObject*, PMMWaveHdr) { seen.push_back("filled tail"); };
  TMMWaveHdr hdr{};
  bool more = true;
  tail.BufferLoad(&hdr, more);
  EXPECT_FALSE(more);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"load tail", "load head", "filled mid", "filled tail"}));

  // Nothing filled: no OnBufferFilled.
  seen.clear();
  head.OnBufferLoad = nullptr;
  hdr.wh.dwBytesRecorded = 0;
  tail.BufferLoad(&hdr, more);
  EXPECT_EQ(seen, (std::vector<std::string>{"load tail"}));

  seen.clear();
  for (Probe* p : {&head, &mid, &tail}) {
    p->OnBufferReady = [&seen, p](TObject* s, PMMWaveHdr) {
      EXPECT_EQ(s, p);
      seen.push_back("ready");
    };
  }
  mid.BufferReady(&hdr);
  EXPECT_EQ(seen.size(), 2u);  // mid and tail, not head
}

TEST(DSPChain, TheWalkTellsEachComponentOnceUpstreamFirst) {
  Log log;
  Probe file("file", &log), stage("stage", &log), player("player", &log), tap("tap", &log);
  ProbeDevice device("dev", &log);
  Chain({&file, &stage, &device, &player, &tap});
  device.SetBufferSize(1000);
  const WAVEFORMATEX f = Pcm(2, 48000, 16);
  file.SetPWaveFormat(&f);
  log.clear();
  device.Opened();
  EXPECT_EQ(log,
            (Log{"dev:Opened", "file:Size1000", "file:Opened", "stage:Size1000", "stage:Opened",
                 "player:Size1000", "player:Opened", "tap:Size1000", "tap:Opened"}));
  EXPECT_TRUE(device.IsOpened());
  EXPECT_EQ(device.GetBufferSize(), 1000);
  EXPECT_EQ(stage.GetBufferSize(), 1000);
  EXPECT_FALSE(device.FedByDevice());

  log.clear();
  device.Stopped();
  EXPECT_EQ(log,
            (Log{"dev:Stopped", "file:Stopped", "stage:Stopped", "player:Stopped", "tap:Stopped"}));
}

TEST(DSPChain, TwoDevicesShareTheChainWithoutOverlap) {
  Log log;
  Probe a("a", &log), b("b", &log), c("c", &log);
  ProbeDevice d1("d1", &log), d2("d2", &log);
  Chain({&a, &d1, &b, &d2, &c});
  d1.Opened();
  EXPECT_TRUE(d2.FedByDevice());
  EXPECT_FALSE(d1.FedByDevice());
  log.clear();
  d1.Started();
  EXPECT_EQ(log, (Log{"d1:Started", "a:Started", "b:Started", "d2:Started", "c:Started"}));
  log.clear();
  d1.Stopped();
  // The downstream device ends its own part first; the upstream walk does not call it again.
  EXPECT_EQ(log, (Log{"d1:Stopped", "d2:Stopped", "c:Stopped", "a:Stopped", "b:Stopped"}));
}

// Every notification walks the same way: upstream first, then down to the next device, which
// carries it on; a closing device lets the device downstream end its part first.
TEST(DSPChain, EachNotificationWalksTheChainInItsOrder) {
  struct Case {
    const char* note;
    void (TMMDSPComponent::*walk)();
    bool ending;
  } cases[] = {{"Paused", &TMMDSPComponent::Paused, false},
               {"Restarted", &TMMDSPComponent::Restarted, false},
               {"Reseting", &TMMDSPComponent::Reseting, false},
               {"Looped", &TMMDSPComponent::Looped, false},
               {"Closed", &TMMDSPComponent::Closed, true}};
  for (const Case& c : cases) {
    Log log;
    Probe a("a", &log), b("b", &log), tail("c", &log);
    ProbeDevice d1("d1", &log), d2("d2", &log);
    Chain({&a, &d1, &b, &d2, &tail});
    d1.Opened();
    d1.Started();
    log.clear();
    (d1.*c.walk)();
    const std::string n = c.note;
    const Log expected = c.ending ? Log{"d1:" + n, "d2:" + n, "c:" + n, "a:" + n, "b:" + n}
                                  : Log{"d1:" + n, "a:" + n, "b:" + n, "d2:" + n, "c:" + n};
    EXPECT_EQ(log, expected) << n;
  }
}

TEST(DSPChain, AWalkWithoutAChainRunsOnlyTheBaseHandler) {
  Log log;
  ProbeDevice d("d", &log);
  d.Opened();
  d.Started();
  EXPECT_EQ(log, (Log{"d:Opened", "d:Started"}));
  EXPECT_TRUE(d.IsStarted());
}

TEST(DSPChain, InterfaceEventsFireOncePerStateChange) {
  TMMDSPInterface i(nullptr);
  std::vector<std::string> seen;
  i.OnOpen = [&](TObject*) { seen.push_back("open"); };
  i.OnStart = [&](TObject*) { seen.push_back("start"); };
  i.OnStop = [&](TObject*) { seen.push_back("stop"); };
  i.OnClose = [&](TObject*) { seen.push_back("close"); };
  i.Started();  // not opened: nothing
  i.Opened();
  i.Opened();
  i.Started();
  i.Started();
  i.Stopped();
  i.Stopped();
  i.Closed();
  i.Closed();
  EXPECT_EQ(seen, (std::vector<std::string>{"open", "start", "stop", "close"}));
}

TEST(DSPChain, FreeingALinkLeavesNoDanglingPartner) {
  Probe a("a", nullptr), c("c", nullptr);
  auto b = std::make_unique<Probe>("b", nullptr);
  Chain({&a, b.get(), &c});
  b.reset();
  EXPECT_EQ(a.GetOutput(), nullptr);
  EXPECT_EQ(c.GetInput(), nullptr);
}

TEST(DSPChain, AbstractDeviceOperationsRaise) {
  TMMCustomWaveOutComponent d(nullptr);
  EXPECT_THROW(d.Start(), EAbstractError);
  EXPECT_THROW(d.GetPosition(), EAbstractError);
  EXPECT_THROW(d.SetNumBuffers(4), EAbstractError);
}

}  // namespace
}  // namespace vant
