#include "mmcstdlg.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "mmacmdlg.h"
#include "mmacmsup.h"
#include "mmdib.h"
#include "mmmuldiv.h"
#include "mmpcmsup.h"
#include "mmresources.h"
#include "mmriff.h"
#include "mmutilsdraw.h"
#include "mmwavefile.h"
#include "mmwaveio.h"
#include "mmwaveout.h"
#include "ui_application.h"
#include "waveout.h"

namespace {

std::string Msg(int n) { return LoadResStr(n); }

// The whole area of a paint box, as the window procedure of a static control would paint it.
vant::TRect AreaOf(const vant::TControl& c) { return c.ClientRect(); }

void SunkenFrame(vant::TCanvas& canvas, vant::TRect& r) {
  Frame3D(canvas, r, vant::clBtnShadow, vant::clBtnHighlight, 1);
  Frame3D(canvas, r, vant::clWindowFrame, vant::cl3DLight, 1);
}

int Y(int value, int bottom, int h) { return bottom - MulDiv32(value + 32767, h, 65535) - 1; }

}  // namespace

// ---- the common dialog ----

TMMCustomOpenDialog::TMMCustomOpenDialog(vant::TComponent* owner) : TMMCommonDialog(owner) {}

TMMCustomOpenDialog::~TMMCustomOpenDialog() = default;

void TMMCustomOpenDialog::SetInitialDir(const std::string& dir) {
  initial_dir_ = dir;
  if (initial_dir_.size() > 1 && initial_dir_.back() == '/') initial_dir_.pop_back();
}

bool TMMCustomOpenDialog::Execute() {
  Files.clear();
  vant::FileDialogRequest r;
  r.save = save_;
  r.title = Title;
  r.initial_dir = initial_dir_;
  r.file_name = FileName;
  r.filter = Filter;  // kept whole: no fixed buffer limits it here
  r.filter_index = FilterIndex;
  r.default_ext = DefaultExt;
  r.multi_select = !save_ && (Options & ofAllowMultiSelect);
  r.panel = this;
  if (!vant::GetDialogAnswerer().FileDialog(r)) return false;
  if (r.files.empty()) r.files.push_back(r.file_name);
  // A name typed without an extension gets the default one, as the platform's dialog gives it.
  if (!DefaultExt.empty())
    for (auto& f : r.files)
      if (!std::filesystem::path(f).has_extension()) f += "." + DefaultExt;
  Files = r.files;
  FileName = Files.front();
  const std::string ext = std::filesystem::path(FileName).extension().string();
  const bool different =
      !DefaultExt.empty() && !ext.empty() && strcasecmp(ext.c_str() + 1, DefaultExt.c_str()) != 0;
  Options = different ? (Options | ofExtensionDifferent) : (Options & ~ofExtensionDifferent);
  FilterIndex = r.filter_index;
  return true;
}

vant::TWinControl* TMMCustomOpenDialog::DialogCreated() {
  if (!panel_) {
    panel_ = std::make_unique<vant::TPanel>(nullptr);
    BuildPanel(*panel_);
  }
  dialog_window_ = panel_.get();
  DoCreate();
  return panel_.get();
}

void TMMCustomOpenDialog::DialogDestroyed() {
  if (!dialog_window_) return;
  DoDestroy();
  dialog_window_ = nullptr;
}

void TMMCustomOpenDialog::SelectionChanged(const std::string& path) { DoSelChanged(path); }

bool TMMCustomOpenDialog::FileOK(const std::string& path) {
  bool accept = true;
  DoFileOK(path, accept);
  return accept;
}

void TMMCustomOpenDialog::Command(vant::TControl& c, int id) {
  c.OnClick = [this, id](vant::TObject*) {
    if (!quiet_) DoCommand(dialog_window_, nullptr, id);
  };
}

void TMMCustomOpenDialog::DoCreate() {
  if (OnDialogCreate) OnDialogCreate(this);
}
void TMMCustomOpenDialog::DoDestroy() {
  if (OnDialogDestroy) OnDialogDestroy(this);
}
void TMMCustomOpenDialog::DoFileOK(const std::string& name, bool& accept) {
  if (OnFileOK) OnFileOK(this, name, accept);
}
void TMMCustomOpenDialog::DoSelChanged(const std::string& name) {
  if (OnSelChanged) OnSelChanged(this, name);
}
void TMMCustomOpenDialog::DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id) {
  if (OnDialogCommand) OnDialogCommand(this, window, parent, id);
}

// ---- the wave dialogs ----

TMMWaveOpenDialog::TMMWaveOpenDialog(vant::TComponent* owner) : TMMCustomOpenDialog(owner) {
  Options |= vant::ofHideReadOnly;
  Options |= ofNoNetworkButton;
  OptionsEx |= ofExNoPlacesBar;
  Title = Msg(1);
  DefaultExt = "wav";
  Filter = Msg(4);
}

TMMWaveOpenDialog::~TMMWaveOpenDialog() { FreeChain(); }

void TMMWaveOpenDialog::BuildPanel(vant::TPanel& panel) {
  panel.SetBounds(0, 0, 414, 70);
  auto* caption = new vant::TLabel(&panel);
  caption->SetParent(&panel);
  caption->SetBounds(8, 2, 40, 13);
  caption->SetCaption("Format:");
  format_ = new vant::TLabel(&panel);
  format_->SetParent(&panel);
  format_->SetBounds(81, 2, 238, 13);
  picture_ = new vant::TPaintBox(&panel);
  picture_->SetParent(&panel);
  picture_->SetBounds(8, 28, 36, 36);
  picture_->OnPaint = [this](vant::TObject*) { DrawDISP(picture_->Canvas(), AreaOf(*picture_)); };
  scope_ = new vant::TPaintBox(&panel);
  scope_->SetParent(&panel);
  scope_->SetBounds(81, 28, 232, 36);
  scope_->OnPaint = [this](vant::TObject*) { DrawPCMData(scope_->Canvas(), AreaOf(*scope_)); };
  play_ = new vant::TButton(&panel);
  play_->SetParent(&panel);
  play_->SetBounds(333, 0, 75, 23);
  play_->SetCaption("Play");
  Command(*play_, kPlay);
  preview_ = new vant::TCheckBox(&panel);
  preview_->SetParent(&panel);
  preview_->SetBounds(336, 28, 72, 18);
  Command(*preview_, kPreview);
  autoplay_ = new vant::TCheckBox(&panel);
  autoplay_->SetParent(&panel);
  autoplay_->SetBounds(336, 49, 72, 18);
  autoplay_->SetCaption("Auto Play");
  Command(*autoplay_, kAutoPlay);
}

vant::TControl* TMMWaveOpenDialog::Item(int id) const {
  switch (id) {
    case kPlay:
      return play_;
    case kPreview:
      return preview_;
    case kAutoPlay:
      return autoplay_;
    case kFormat:
      return format_;
    case kScope:
      return scope_;
    case kPicture:
      return picture_;
    default:
      return nullptr;
  }
}

bool TMMWaveOpenDialog::HasDevice() const { return vant::audio::waveOutGetNumDevs() > 0; }

void TMMWaveOpenDialog::DoCreate() {
  if (!file_) {
    columns_.assign(std::max(0, scope_->ClientWidth()), Column{});
    file_ = std::make_unique<TMMWaveFile>(nullptr);
    file_->GetWave()->SetTimeFormat(tfByte);
    file_->GetWave()->SetIOBufSize(131072);
    converter_ = std::make_unique<TMMADPCMConverter>(nullptr);
    converter_->SetInput(file_.get());
    device_ = std::make_unique<TMMWaveOut>(nullptr);
    device_->SetInput(converter_.get());
    device_->OnStart = [this](vant::TObject*) { WaveOutStart(); };
    device_->OnStop = [this](vant::TObject*) { WaveOutStop(); };
    device_->SetBufferSize(32768);
    device_->SetNumBuffers(10);
    device_->SetTimeFormat(tfByte);
    if (!HasDevice())
      autoplay_->SetEnabled(false);
    else
      device_->SetDeviceID(DeviceID);
    timer_ = std::make_unique<vant::TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetInterval(50);
    timer_->OnTimer = [this](vant::TObject*) { TimerExpired(); };
    settle_ = std::make_unique<vant::TTimer>(nullptr);
    settle_->SetEnabled(false);
    settle_->SetInterval(50);
    settle_->OnTimer = [this](vant::TObject*) {
      settle_->SetEnabled(false);
      pending_ = false;
      UpdateWave();
    };
  }
  play_->SetEnabled(false);
  preview_->SetEnabled(false);
  preview_->SetCaption(Msg(7));
  quiet_ = true;
  preview_->SetChecked(Preview);
  autoplay_->SetChecked(AutoPlay);
  quiet_ = false;
  format_->SetCaption(Msg(6));
  TMMCustomOpenDialog::DoCreate();
}

void TMMWaveOpenDialog::FreeChain() {
  columns_.clear();
  settle_.reset();
  timer_.reset();
  if (device_) {
    try {
      device_->Close();
    } catch (...) {
      // The device reported it; it goes regardless.
    }
  }
  device_.reset();
  converter_.reset();
  if (file_) file_->GetWave()->FreeWave();
  file_.reset();
  pending_ = false;
  line_ = -1;
}

void TMMWaveOpenDialog::DoDestroy() {
  FreeChain();
  TMMCustomOpenDialog::DoDestroy();
}

void TMMWaveOpenDialog::DoSelChanged(const std::string& path) {
  if (file_ && path != file_->GetWave()->GetFileName()) {
    device_->Close();
    if (!path.empty() && wioIsWaveFile(path, 1)) {
      file_->GetWave()->SetFileName(path);
      converter_->SetEnabled(converter_->GetCanConvert());
    } else {
      file_->GetWave()->FreeWave();
    }
    pending_ = true;
    // Brought up to date once, 50 ms after the last of several quick changes.
    settle_->SetEnabled(false);
    settle_->SetEnabled(true);
    scope_->Invalidate();
  }
  TMMCustomOpenDialog::DoSelChanged(path);
}

bool TMMWaveOpenDialog::ShowsOverview() const {
  TMMWave* w = file_->GetWave();
  return !w->GetFileName().empty() && Preview && w->GetFormatTag() == 1 && w->GetDataSize() > 0 &&
         w->GetPWaveFormat() && w->GetPWaveFormat()->nChannels <= 2;
}

bool TMMWaveOpenDialog::CanPlay() {
  TMMWave* w = file_->GetWave();
  return HasDevice() && !w->GetEmpty() && device_->GetPWaveFormat() &&
         device_->QueryDevice(device_->GetDeviceID(), device_->GetPWaveFormat());
}

void TMMWaveOpenDialog::StartDevice() {
  try {
    UpdatePlayParams();
    device_->Start();
  } catch (...) {
    // A file that will not play leaves the button at "Play".
  }
}

void TMMWaveOpenDialog::UpdateWave() {
  picture_->Invalidate();
  preview_->SetEnabled(false);
  TMMWave* w = file_->GetWave();
  if (!w->GetFileName().empty() && w->GetPWaveFormat()) {
    std::string name, description;
    acmGetFormatDescription(w->GetPWaveFormat(), name, description);
    format_->SetCaption(name + "; " + description + "; " + std::to_string(w->GetFileSize() / 1024) +
                        " KB");
    if (w->GetFormatTag() == 1 && w->GetDataSize() > 0 && w->GetPWaveFormat()->nChannels <= 2) {
      preview_->SetEnabled(true);
      if (Preview) {
        // Drawn aside and shown column by column, so the mark running ahead on long files is
        // seen while the file is read.
        vant::TBitmap image;
        image.SetSize(scope_->ClientWidth(), scope_->ClientHeight());
        vant::TRect frame = AreaOf(*scope_);
        image.Canvas().Brush().Color = Color;
        image.Canvas().FillRect(frame);
        SunkenFrame(image.Canvas(), frame);
        CreatePCMData(image.Canvas(), AreaOf(*scope_), [&](int) {
          scope_->PaintNow([&](vant::TCanvas& c) { c.Draw(0, 0, image); });
        });
      }
    }
    scope_->Invalidate();
    const bool playing = device_->GetState() & wosPlay;
    if (!CanPlay() || playing) {
      play_->SetEnabled(false);
    } else {
      UpdatePlayParams();
      play_->SetEnabled(true);
      if (AutoPlay) StartDevice();
    }
  } else {
    format_->SetCaption(Msg(6));
    play_->SetEnabled(false);
    scope_->Invalidate();
  }
}

void TMMWaveOpenDialog::UpdatePlayParams() {
  TMMWave* w = file_->GetWave();
  const WAVEFORMATEX* f = device_->GetPWaveFormat();
  if (w->GetEmpty() || !f) return;
  // Rates above 48,000 take the size of the highest row, so repeated updates never grow it.
  const uint32_t rate = f->nSamplesPerSec;
  int32_t size = rate <= 15000 ? 512 : rate <= 24000 ? 1024 : rate <= 32000 ? 2048 : 3072;
  const int bits = f->wBitsPerSample;
  if (bits == 1)
    size /= 16;
  else if (bits >= 2 && bits <= 4)
    size /= 8;
  else if (bits >= 5 && bits <= 7)
    size /= 4;
  else if (bits >= 9 && bits <= 16)
    size *= 2;
  else
    size *= 4;
  device_->SetBufferSize(size);
}

void TMMWaveOpenDialog::CreatePCMData(vant::TCanvas& canvas, const vant::TRect& area,
                                      const std::function<void(int)>& column) {
  const vant::TRect a{area.Left + 2, area.Top + 2, area.Right - 2, area.Bottom - 2};
  const int W = a.Right - a.Left, H = a.Bottom - a.Top;
  if (W <= 0 || H <= 0) return;
  if (int(columns_.size()) < W) columns_.resize(W);
  std::fill(columns_.begin(), columns_.begin() + W, Column{});
  TMMWave* w = file_->GetWave();
  if (w->GetEmpty() || !Preview) return;
  const WAVEFORMATEX* f = w->GetPWaveFormat();
  const int64_t data = w->GetDataSize();
  canvas.Brush().Color = Color;
  canvas.FillRect(a);
  const int64_t per = std::max<int64_t>((data / W) & ~int64_t(3), 4);
  std::vector<uint8_t> buffer(per);
  vant::Screen->SetCursor(vant::crHourGlass);
  struct Restore {
    TMMWave* w;
    ~Restore() {
      try {
        w->CloseFile();
      } catch (...) {
      }
      vant::Screen->SetCursor(vant::crDefault);
    }
  } restore{w};
  w->OpenFile();
  w->SetPosition(0);
  canvas.Pen().Color = ForeColor;
  canvas.Pen().Mode = vant::pmCopy;
  canvas.MoveTo(a.Left, a.Top + H / 2);
  int i = 0;
  for (; i < W; ++i) {
    const int64_t got = w->ReadDataBytes(buffer.data(), per);
    if (got < 1) break;
    int l1, l2, r1, r2;
    PCMFINDMINMAX(f, buffer.data(), got, l1, l2, r1, r2);
    if (f->wBitsPerSample == 8) {
      l1 = l1 * 256 - 32768;
      l2 = l2 * 256 - 32768;
      r1 = r1 * 256 - 32768;
      r2 = r2 * 256 - 32768;
    }
    columns_[i] = {int16_t(l1), int16_t(l2), int16_t(r1), int16_t(r2)};
    canvas.Brush().Color = Color;
    canvas.FillRect({a.Left + i, a.Top, a.Left + i + 1, a.Bottom});
    canvas.LineTo(a.Left + i, Y(std::min(l1, r1), a.Bottom, H));
    canvas.LineTo(a.Left + i, Y(std::max(l2, r2), a.Bottom, H));
    // On long files a mark runs ahead of the drawing.
    if (data > 2097152 && i < W - 1) {
      canvas.Brush().Color = LocatorColor;
      canvas.FillRect({a.Left + i + 1, a.Top, a.Left + i + 2, a.Bottom});
    }
    if (column) column(i);
  }
  if (i < W) {
    canvas.Pen().Color = ForeColor;
    canvas.MoveTo(a.Left + std::max(i - 1, 0), a.Top + H / 2);
    canvas.LineTo(a.Right, a.Top + H / 2);
  }
  drawn_ = i;
}

void TMMWaveOpenDialog::DrawPCMData(vant::TCanvas& canvas, const vant::TRect& area) {
  vant::TRect r = area;
  canvas.Brush().Color = Color;
  canvas.FillRect(r);
  SunkenFrame(canvas, r);
  const int W = r.Right - r.Left, H = r.Bottom - r.Top;
  if (file_ && ShowsOverview()) {
    if (!pending_ && W > 0) {
      const int n = std::min<int>(drawn_, std::min<int>(W, int(columns_.size())));
      canvas.Pen().Color = ForeColor;
      canvas.Pen().Mode = vant::pmCopy;
      if (n > 0) {
        const Column& c0 = columns_[0];
        canvas.MoveTo(r.Left, Y(std::min(c0.left1, c0.right1), r.Bottom, H));
        for (int i = 0; i < n; ++i) {
          const Column& c = columns_[i];
          canvas.LineTo(r.Left + i, Y(std::min(c.left1, c.right1), r.Bottom, H));
          canvas.LineTo(r.Left + i, Y(std::max(c.left2, c.right2), r.Bottom, H));
        }
        const Column& cl = columns_[n - 1];
        canvas.LineTo(r.Left + n, Y(std::max(cl.left2, cl.right2), r.Bottom, H));
      }
      if (n < W) {
        canvas.MoveTo(r.Left + std::max(n - 1, 0), r.Top + H / 2);
        canvas.LineTo(r.Right, r.Top + H / 2);
      }
      const int64_t data = file_->GetWave()->GetDataSize();
      if (line_ >= 0 && data > 0) {
        const int x = r.Left + int(int64_t(W) * line_ / data);
        canvas.Pen().Color = LocatorColor;
        canvas.MoveTo(x, r.Top);
        canvas.LineTo(x, r.Bottom);
      }
    }
  } else {
    canvas.Pen().Color = 0x808080;
    canvas.Pen().Mode = vant::pmCopy;
    canvas.MoveTo(r.Left + 5, r.Top + H / 2);
    canvas.LineTo(r.Right - r.Left - 5, r.Top + H / 2);
  }
}

void TMMWaveOpenDialog::DrawDISP(vant::TCanvas& canvas, const vant::TRect& area) {
  canvas.Brush().Color = DialogWindow() ? DialogWindow()->GetColor() : vant::clBtnFace;
  canvas.FillRect(area);
  if (!file_) return;
  TMMWave* w = file_->GetWave();
  if (w->GetFileName().empty()) return;
  const vant::TRect inner{area.Left + 2, area.Top + 2, area.Right - 2, area.Bottom - 2};
  const TWAVEIOCB* block = w->GetPWaveIOCB();
  if (block && block->lpDisp)
    for (const auto& e : block->lpDisp->entries)
      if (e->format == kDispDIB && e->read) {
        DIB_Display(TDIBView(*e->read), canvas, inner);
        return;
      }
  vant::TBitmap symbol = LoadLibraryBitmap("BMP_WAVE");
  DrawTransparentBitmap(canvas, symbol, inner.Left, inner.Top, GetTransparentColor(symbol));
}

void TMMWaveOpenDialog::TimerExpired() {
  if (device_ && (device_->GetState() & wosPlay) && Preview) {
    line_ = device_->GetPosition();
    scope_->Invalidate();
  }
}

void TMMWaveOpenDialog::WaveOutStart() {
  line_ = -1;
  timer_->SetEnabled(true);
  play_->SetCaption("Stop");
}

void TMMWaveOpenDialog::WaveOutStop() {
  if (timer_) timer_->SetEnabled(false);
  line_ = -1;
  if (scope_) scope_->Invalidate();
  if (play_) play_->SetCaption("Play");
}

void TMMWaveOpenDialog::DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id) {
  if (window == DialogWindow() && file_) {
    const bool playing = device_->GetState() & wosPlay;
    switch (id) {
      case kPlay:
        if (HasDevice()) {
          if (playing)
            device_->Close();
          else if (CanPlay())
            StartDevice();
        }
        break;
      case kPreview:
        Preview = preview_->GetChecked();
        if (Preview) device_->Close();
        UpdateWave();
        break;
      case kAutoPlay:
        AutoPlay = autoplay_->GetChecked();
        if (!AutoPlay)
          device_->Close();
        else if (!playing && CanPlay())
          StartDevice();
        break;
      default:
        break;
    }
  }
  TMMCustomOpenDialog::DoCommand(window, parent, id);
}

void TMMWaveOpenDialog::DoFileOK(const std::string& name, bool& accept) {
  accept = wioIsWaveFile(name, 1);
  if (accept)
    TMMCustomOpenDialog::DoFileOK(name, accept);
  else
    vant::MessageDlg(Msg(5), vant::mtError, vant::mbOK);
}

TMMWaveSaveDialog::TMMWaveSaveDialog(vant::TComponent* owner) : TMMWaveOpenDialog(owner) {
  save_ = true;
  Title = Msg(2);
}

void TMMWaveSaveDialog::DoFileOK(const std::string& name, bool& accept) {
  TMMCustomOpenDialog::DoFileOK(name, accept);
}

// ---- the picture dialogs ----

TMMPictureOpenDialog::TMMPictureOpenDialog(vant::TComponent* owner) : TMMCustomOpenDialog(owner) {
  Options |= vant::ofHideReadOnly;
  Options |= ofNoNetworkButton;
  Title = Msg(8);
  DefaultExt = "bmp";
  Filter = "All pictures (*.bmp;*.png;*.jpg;*.jpeg)|*.bmp;*.png;*.jpg;*.jpeg|Bitmaps (*.bmp)|*.bmp";
  beside_ = true;
}

void TMMPictureOpenDialog::BuildPanel(vant::TPanel& panel) {
  panel.SetBounds(0, 0, 160, 220);
  frame_ = new vant::TPaintBox(&panel);
  frame_->SetParent(&panel);
  frame_->SetBounds(8, 32, 144, 138);
  frame_->OnPaint = [this](vant::TObject*) { DrawPicture(frame_->Canvas(), AreaOf(*frame_)); };
  preview_ = new vant::TCheckBox(&panel);
  preview_->SetParent(&panel);
  preview_->SetBounds(14, 182, 80, 18);
  Command(*preview_, kPreview);
}

void TMMPictureOpenDialog::DoCreate() {
  preview_->SetCaption(Msg(7));
  quiet_ = true;
  preview_->SetChecked(Preview);
  quiet_ = false;
  TMMCustomOpenDialog::DoCreate();
}

void TMMPictureOpenDialog::DoSelChanged(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) {
    if (path != loaded_ && std::filesystem::is_regular_file(path, ec)) {
      if (picture_.LoadFromFile(path)) {
        loaded_ = path;
      } else {
        picture_.SetSize(0, 0);
        loaded_.clear();
      }
      frame_->Invalidate();
    }
  } else if (!loaded_.empty()) {
    picture_.SetSize(0, 0);
    loaded_.clear();
    frame_->Invalidate();
  }
  TMMCustomOpenDialog::DoSelChanged(path);
}

void TMMPictureOpenDialog::DoCommand(vant::TWinControl* window, vant::TWinControl* parent, int id) {
  if (window == DialogWindow() && id == kPreview) {
    Preview = preview_->GetChecked();
    frame_->Invalidate();
  }
  TMMCustomOpenDialog::DoCommand(window, parent, id);
}

void TMMPictureOpenDialog::DrawPicture(vant::TCanvas& canvas, const vant::TRect& client) {
  vant::TRect r = client;
  canvas.Brush().Color = Color;
  canvas.FillRect(r);
  SunkenFrame(canvas, r);
  const int IW = r.Right - r.Left, IH = r.Bottom - r.Top;
  const int w = picture_.Width(), h = picture_.Height();
  if (w <= 0 || h <= 0 || !Preview) return;
  if (w < IW - 10 && h < IH - 10) {
    canvas.Draw(client.Left + (IW - w) / 2, client.Top + (IH - h) / 2, picture_);
  } else if (w > h) {
    const int dh = int(float(h) * float(IW - 10) / float(w));
    const int top = r.Top + (IH - dh) / 2;
    canvas.StretchDraw({r.Left + 5, top, r.Right - 5, top + dh}, picture_);
  } else {
    const int dw = int(float(w) * float(IH - 10) / float(h));
    const int left = r.Left + (IW - dw) / 2;
    canvas.StretchDraw({left, r.Top + 5, left + dw, r.Bottom - 5}, picture_);
  }
}

TMMPictureSaveDialog::TMMPictureSaveDialog(vant::TComponent* owner) : TMMPictureOpenDialog(owner) {
  save_ = true;
  Title = Msg(9);
}
