#include "wavpanel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mmplayer.h"
#include "ui_application.h"

using namespace vant;

namespace {
constexpr TColor kStripColor = TColor(0xF4F4F4);
constexpr TColor kBarColor = TColor(0xCAC8C8);
constexpr TColor kMarkerColors[] = {TColor(0x6CE8F1), TColor(0xF89DF4), TColor(0xF2C96E),
                                    TColor(0x6EF29B)};

TMMPanel* Panel(TComponent* owner, TWinControl* parent, const char* name, TAlign align,
                TRect bounds, TColor colour) {
  auto* p = new TMMPanel(owner);
  p->SetName(name);
  p->SetParent(parent);
  p->SetBounds(bounds.Left, bounds.Top, bounds.Right, bounds.Bottom);
  p->SetAlign(align);
  p->Bevel().SetBevelOuter(bvNone);
  p->SetColor(colour);
  return p;
}

g32::TGaugeBar* Gauge(TComponent* owner, TWinControl* parent, const char* name, TAlign align,
                      TRect bounds, g32::TScrollBarKind kind) {
  auto* g = new g32::TGaugeBar(owner);
  g->SetName(name);
  g->SetParent(parent);
  g->SetBounds(bounds.Left, bounds.Top, bounds.Right, bounds.Bottom);
  g->SetAlign(align);
  g->Bar().SetKind(kind);
  g->Bar().SetShowHandleGrip(true);
  g->SetColor(kBarColor);
  return g;
}

int16_t Value(const uint8_t* p) { return int16_t(p[0] | p[1] << 8); }
}  // namespace

TWavPanel::TWavPanel(TComponent* owner) : TFrame(owner) {
  SetName("WavPanel");
  SetBounds(0, 0, 662, 160);
  SetColor(TColor(0xEDEDED));

  Panel3 = Panel(this, this, "Panel3", alClient, {0, 0, 662, 160}, TColor(0xEDEDED));
  Panel3->Bevel().SetBorderWidth(2);
  Panel9 = Panel(this, Panel3, "Panel9", alTop, {2, 2, 658, 155}, TColor(0xEDEDED));
  Panel1 = Panel(this, Panel9, "Panel1", alBottom, {0, 141, 656, 14}, TColor(0xE4E4E4));
  Panel2 = Panel(this, Panel9, "Panel2", alRight, {643, 0, 15, 141}, TColor(0xE4E4E4));
  Base = Panel(this, Panel9, "Base", alClient, {0, 0, 643, 141}, TColor(0xE4E4E4));
  Base->Bevel().SetBorderWidth(4);
  LBase = Panel(this, Base, "LBase", alTop, {4, 4, 633, 61}, clWindow);
  RBase = Panel(this, Base, "RBase", alClient, {4, 65, 633, 70}, clWindow);
  for (TMMPanel* strip : {LBase, RBase}) {
    strip->Bevel().SetBevelInner(bvLowered);
    strip->Bevel().SetBorderWidth(2);
  }
  PBL = new TPaintBox(this);
  PBL->SetName("PBL");
  PBL->SetParent(LBase);
  PBL->SetBounds(4, 2, 581, 57);
  PBR = new TPaintBox(this);
  PBR->SetName("PBR");
  PBR->SetParent(RBase);
  PBR->SetBounds(4, 4, 581, 60);
  for (TPaintBox* box : {PBL, PBR}) {
    box->SetColor(kStripColor);
    box->OnPaint = [this, box](TObject*) { StripPaint(box); };
  }

  YGageMag = Gauge(this, Panel2, "YGageMag", alTop, {0, 0, 15, 62}, g32::sbVertical);
  YGageMag->SetMin(1);
  YGageMag->SetMax(20);
  YGageMag->SetPosition(20);
  YGageMag->OnChange = [this](TObject* s) { YGageMagChange(s); };
  MagScale = new TLabel(this);
  MagScale->SetName("MagScale");
  MagScale->SetParent(Panel2);
  MagScale->SetBounds(0, 62, 15, 23);
  MagScale->SetAlign(alTop);
  MagScale->SetAlignment(taRightJustify);
  MagScale->SetTransparent(true);

  ScrollBar2 = Gauge(this, Panel1, "ScrollBar2", alLeft, {0, 0, 481, 14}, g32::sbHorizontal);
  ScrollBar2->SetPosition(0);
  ScrollBar2->OnChange = [this](TObject* s) { ScrollBar2Change(s); };
  TimeIndicator = new TLabel(this);
  TimeIndicator->SetName("TimeIndicator");
  TimeIndicator->SetParent(Panel1);
  TimeIndicator->SetBounds(487, 0, 65, 13);
  TimeIndicator->SetCaption("00:00:00:00");
  TimeIndicator->Font().SetColor(clBlack);
  MagTime = new TLabel(this);
  MagTime->SetName("MagTime");
  MagTime->SetParent(Panel1);
  MagTime->SetBounds(595, 0, 25, 14);
  MagTime->SetAlign(alRight);
  MagTime->SetAlignment(taRightJustify);
  MagTime->SetTransparent(true);
  MagTime->SetVisible(false);
  XGageMag = Gauge(this, Panel1, "XGageMag", alRight, {620, 0, 36, 14}, g32::sbHorizontal);
  XGageMag->SetMin(1);
  XGageMag->SetMax(20);
  XGageMag->SetPosition(1);
  XGageMag->SetVisible(false);
  XGageMag->OnChange = [this](TObject* s) { XGageMagChange(s); };

  OnResize = [this](TObject* s) { FrameResize(s); };
}

TWavPanel::~TWavPanel() {
  if (MOPlayer) {
    if (MOPlayer->WaveFrame == this) MOPlayer->WaveFrame = nullptr;
    if (MOPlayer->DisplayControl == TimeIndicator) MOPlayer->DisplayControl = nullptr;
  }
}

bool TWavPanel::Drawing() const {
  // The load thread's end clears the main window's Tag; until then nothing is drawn.
  TForm* main = Application->MainForm();
  return !main || main->GetTag() == 0;
}

void TWavPanel::SetEnergyData(uint32_t bytes, int rate) {
  rate_ = rate;
  value_count_ = 0;
  total_ = 0;
  energy::Info info;
  if (energy::ReadHeader(energy_.data(), energy_.size(), info)) {
    channels_ = info.channels;
    bytes_per_value_ = info.bytes_per_value;
    frames_per_value_ = info.frames_per_value;
    // The last 12 bytes of values are not drawn; an envelope shorter than that, or than what
    // the stream holds, shows nothing rather than reading past the stream.
    const uint32_t held = uint32_t(energy_.size() - energy::kHeaderSize);
    const uint32_t usable = std::min(bytes, held);
    const uint32_t record = uint32_t(std::min(channels_, 2) * bytes_per_value_);
    if (usable >= 12 && bytes_per_value_ >= 2) value_count_ = (usable - 12) / record;
  }
  total_ = 1000.0 * frames_per_value_ * value_count_;
  Update();
  if (Drawing()) {
    ClearDisplay();
    DrawEnergy(1);
    SetZoom(1);
  }
}

void TWavPanel::SetZoom(int n) {
  n = std::max(n, 1);
  zoom_ = n;
  PBL->SetAlign(n == 1 ? alClient : alNone);
  PBR->SetAlign(n == 1 ? alClient : alNone);
  PBL->SetBounds(3, 3, MulSat(n, SubSat(LBase->GetWidth(), 6)), SubSat(LBase->GetHeight(), 6));
  PBR->SetBounds(3, 3, MulSat(n, SubSat(RBase->GetWidth(), 6)), SubSat(RBase->GetHeight(), 6));
  ScrollBar2->SetMax(PBL->GetWidth());
  if (Drawing()) {
    ClearDisplay();
    DrawEnergy(1);
  }
}

void TWavPanel::FitPicture(TPaintBox* box) {
  TBitmap& picture = Picture(box);
  if (picture.Width() != box->GetWidth() || picture.Height() != box->GetHeight())
    picture.SetSize(box->GetWidth(), box->GetHeight());
}

void TWavPanel::ClearBox(TPaintBox* box) {
  FitPicture(box);
  TCanvas& c = Picture(box).Canvas();
  c.Brush().Color = kStripColor;
  c.Brush().Style = bsSolid;
  c.FillRect({0, 0, box->GetWidth(), box->GetHeight()});
  box->Invalidate();
}

void TWavPanel::DrawGrid(TPaintBox* box) {
  FitPicture(box);
  TCanvas& c = Picture(box).Canvas();
  c.Brush().Color = kStripColor;
  c.Pen().Color = TColor(0xC0C0C0);
  c.Pen().Width = 1;
  c.Pen().Mode = pmCopy;
  const int q = box->GetHeight() / 4, w = box->GetWidth();
  c.MoveTo(0, q);
  c.LineTo(w, q);
  c.MoveTo(0, 3 * q);
  c.LineTo(w, 3 * q);
  box->Invalidate();
}

void TWavPanel::ClearDisplay() {
  ClearBox(PBL);
  ClearBox(PBR);
  DrawGrid(PBL);
  DrawGrid(PBR);
}

void TWavPanel::DrawMarker(TPaintBox* box, TColor colour, int x) {
  if (x == 0) return;
  FitPicture(box);
  TCanvas& c = Picture(box).Canvas();
  c.Brush().Color = kStripColor;
  c.Pen().Color = colour;
  c.Pen().Mode = pmCopy;
  c.Pen().Width = 2;
  c.MoveTo(x, 2);
  c.LineTo(x, box->GetHeight() - 2);
  box->Invalidate();
}

int TWavPanel::ParseMarkerTime(const std::string& text) {
  auto field = [&](size_t at) {
    if (at + 2 > text.size() || !std::isdigit(uint8_t(text[at])) ||
        !std::isdigit(uint8_t(text[at + 1])))
      return 0;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
  };
  // Hours, minutes, seconds and hundredths.
  return 360000 * field(0) + 6000 * field(3) + 100 * field(6) + field(9);
}

void TWavPanel::DrawEnergy(int d) {
  if (energy_.size() < energy::kHeaderSize || total_ == 0) return;
  if (MOPlayer) MOPlayer->DisplayControl = TimeIndicator;
  if (d != 0) pixels_per_value_ = double(PBL->GetWidth()) / value_count_ / d;
  if (pixels_per_value_ == 0) pixels_per_value_ = 1.0;

  FitPicture(PBL);
  FitPicture(PBR);
  TCanvas& l = left_.Canvas();
  TCanvas& r = right_.Canvas();
  const int hl = PBL->GetHeight(), hr = PBR->GetHeight();
  for (TCanvas* c : {&l, &r}) {
    c->Brush().Style = bsClear;
    c->Pen().Width = 1;
    c->Pen().Mode = pmCopy;
    c->Pen().Color = TColor(0x8A8A8A);
  }
  l.MoveTo(0, hl / 2);
  r.MoveTo(0, hr / 2);
  // A value's height in a strip: the middle for silence, the edges for full scale.
  auto y = [this](int height, int16_t v) {
    const int64_t scaled = int64_t(v) * Gain + 32768;
    return int(std::clamp<int64_t>(height * scaled / 65535, 0, height));
  };
  const size_t record = size_t(std::min(channels_, 2) * bytes_per_value_);
  int last_x = -1;
  for (uint32_t c = 0; c < value_count_; ++c) {
    const int x = int(std::trunc(c * pixels_per_value_));
    if (x == last_x) continue;
    last_x = x;
    const uint8_t* p = energy_.data() + energy::kHeaderSize + c * record;
    const int16_t left = Value(p);
    const int16_t right = channels_ == 2 ? Value(p + bytes_per_value_) : left;
    const int yl = y(hl, left), yr = y(hr, right);
    l.LineTo(x, yl);
    l.LineTo(x, hl - yl);
    r.LineTo(x, yr);
    r.LineTo(x, hr - yr);
  }

  const double seconds = value_count_ * frames_per_value_ / rate_;
  for (size_t i = 0; i < MarkerList.size(); ++i) {
    const int t = ParseMarkerTime(MarkerList[i]);
    const int x = std::max(int(std::trunc(t * 0.01 * PBL->GetWidth() / seconds)), 2);
    const TColor colour = kMarkerColors[std::min<size_t>(i, 3)];
    DrawMarker(PBL, colour, x);
    DrawMarker(PBR, colour, x);
  }
  PBL->Invalidate();
  PBR->Invalidate();
}

void TWavPanel::StripPaint(TPaintBox* box) {
  TBitmap& picture = Picture(box);
  if (picture.Empty()) {
    box->Canvas().Brush().Color = kStripColor;
    box->Canvas().FillRect({0, 0, box->GetWidth(), box->GetHeight()});
    return;
  }
  box->Canvas().Draw(0, 0, picture);
}

void TWavPanel::Redraw() {
  if (!Drawing() || total_ == 0) return;
  ClearDisplay();
  DrawEnergy(1);
}

void TWavPanel::FrameResize(TObject*) {
  if (total_ != 0) SetZoom(zoom_);
}

void TWavPanel::YGageMagChange(TObject*) {
  // The top of the bar is no magnification.
  Gain = YGageMag->GetMax() - YGageMag->GetPosition();
  MagScale->SetCaption(std::to_string(Gain));
  Redraw();
}

void TWavPanel::XGageMagChange(TObject*) {
  MagTime->SetCaption("x" + std::to_string(XGageMag->GetPosition()));
  SetZoom(XGageMag->GetPosition());
}

void TWavPanel::ScrollBar2Change(TObject*) {
  // The zoomed strips slide under their frames.
  const int shift = ScrollBar2->GetPosition() * (zoom_ - 1) / std::max(zoom_, 1);
  PBL->SetLeft(3 - shift);
  PBR->SetLeft(3 - shift);
}
