#include "mmdspcomponent.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "mmwavefmt.h"

using vant::TComponent;
using vant::TOperation;

namespace {

// Every living chain component, for the deconnect broadcast. Made with the first component and
// freed with the last; touched only from the GUI thread (construction, destruction, linking).
std::vector<TMMDSPComponent*>* g_dsp_list = nullptr;

// Port names are short strings of the original design.
std::string PortName(const std::string& name) { return name.substr(0, 20); }

// The value of C's link property `name`, when its class publishes one.
bool LinkProperty(TMMDSPComponent* c, const std::string& name, TMMDSPComponent** value) {
  if (name == "Input" && c->PublishesInput()) {
    *value = c->GetInput();
    return true;
  }
  if (name == "Output" && c->PublishesOutput()) {
    *value = c->GetOutput();
    return true;
  }
  return false;
}

bool IsDevice(TMMDSPComponent* c) { return dynamic_cast<TMMCustomSoundComponent*>(c) != nullptr; }

[[noreturn]] void Abstract() { throw EAbstractError("Abstract Error"); }

}  // namespace

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {
  if (!g_dsp_list) g_dsp_list = new std::vector<TMMDSPComponent*>;
  g_dsp_list->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  Destroying();
  SetInput(nullptr);
  SetOutput(nullptr);
  SetPWaveFormat(nullptr);
  format_.reset();
  auto& list = *g_dsp_list;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  if (list.empty()) {
    delete g_dsp_list;
    g_dsp_list = nullptr;
  }
}

bool TMMDSPComponent::Quiet() const {
  return HasState(vant::csLoading) || HasState(vant::csReading) || HasState(vant::csDestroying);
}

void GlobalDeconnectNotification(TMMDSPComponent* c, TMMPort port, const std::string& name) {
  if (!g_dsp_list) return;
  // By index: a notified component only drops a link, it never joins or leaves the list.
  for (size_t i = 0; i < g_dsp_list->size(); ++i)
    (*g_dsp_list)[i]->DeconnectNotification(c, port, name);
}

bool DSPOutConnectCheck(TMMDSPComponent* a, TComponent* b) { return a->CanConnectOutput(b); }
bool DSPInpConnectCheck(TComponent* a, TMMDSPComponent* b) { return b->CanConnectInput(a); }

void TMMDSPComponent::DeconnectNotification(TMMDSPComponent* c, TMMPort port,
                                            const std::string& name) {
  TMMDSPComponent* value = nullptr;
  if (port == poInput) {
    if (c == output_ && output_port_ == name && LinkProperty(c, name, &value) && value == this) {
      SetOutputPort(nullptr, "");
    }
  } else {
    if (c == input_ && input_port_ == name && LinkProperty(c, name, &value) && value == this) {
      SetInputPort(nullptr, "");
    }
  }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  if (value == input_ || (value && !CanConnectInput(value))) return;
  Stopped();
  if (input_) {
    GlobalDeconnectNotification(this, poInput, "Input");
    SetInputPort(nullptr, "");
    ChangePWaveFormat(nullptr);
  }
  if (!value) return;
  GlobalDeconnectNotification(value, poOutput, "Output");
  SetInputPort(value, "Output");
  value->SetOutputPort(this, "Input");
  UpdateParams();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  if (value == output_ || (value && !CanConnectOutput(value))) return;
  Stopped();
  if (output_) {
    GlobalDeconnectNotification(this, poOutput, "Output");
    output_->ChangePWaveFormat(nullptr);
    SetOutputPort(nullptr, "");
  }
  if (!value) return;
  GlobalDeconnectNotification(value, poInput, "Input");
  SetOutputPort(value, "Input");
  value->SetInputPort(this, "Output");
  UpdateParams();
}

void TMMDSPComponent::SetInputPort(TMMDSPComponent* c, const std::string& name) {
  input_ = c;
  input_port_ = PortName(name);
  // So that our link is dropped when the partner is freed without unlinking first.
  if (c) c->FreeNotification(this);
}

void TMMDSPComponent::SetOutputPort(TMMDSPComponent* c, const std::string& name) {
  output_ = c;
  output_port_ = PortName(name);
  if (c) c->FreeNotification(this);
}

bool TMMDSPComponent::CanConnectInput(TComponent* c) {
  auto* dsp = dynamic_cast<TMMDSPComponent*>(c);
  if (c == this || !dsp || (!dsp->PublishesOutput() && !dsp->AcceptAsInput)) return false;
  return output_ ? output_->CanConnectInput(c) : true;
}

bool TMMDSPComponent::CanConnectOutput(TComponent* c) {
  auto* dsp = dynamic_cast<TMMDSPComponent*>(c);
  if (c == this || !dsp || (!dsp->PublishesInput() && !dsp->AcceptAsOutput)) return false;
  return input_ ? input_->CanConnectOutput(c) : true;
}

void TMMDSPComponent::UpdateParams() {
  if (Quiet()) return;
  if (input_) {
    ChangePWaveFormat(input_->GetPWaveFormat());
  } else if (output_) {
    output_->ChangePWaveFormat(GetPWaveFormat());
  }
}

void TMMDSPComponent::ChangePWaveFormat(const WAVEFORMATEX* format) { SetPWaveFormat(format); }

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* format) {
  if (format != format_.get()) {
    if (started_) Stopped();
    format_ = wioCopyWaveFormat(format);
  }
  if (!Quiet() && output_) output_->ChangePWaveFormat(format_.get());
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  // Links made while loading receive the format now. The held copy is passed as itself, so
  // nothing is copied again; only the propagation runs.
  SetPWaveFormat(format_.get());
}

void TMMDSPComponent::Notification(TComponent* component, TOperation operation) {
  TMMCustomDSPComponent::Notification(component, operation);
  if (operation != vant::opRemove || !component) return;
  if (component == input_) {
    SetInput(nullptr);
  } else if (component == output_) {
    SetOutput(nullptr);
  }
}

int32_t TMMDSPComponent::GetBufferSize() { return opened_ ? effective_size_ : buffer_size_; }

void TMMDSPComponent::SetBufferSize(int32_t size) {
  if (size == buffer_size_) return;
  if (started_) Stopped();
  buffer_size_ = size;
}

void TMMDSPComponent::BufferLoad(PMMWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (input_) input_->BufferLoad(lpWaveHdr, MoreBuffers);
  if (OnBufferFilled && lpWaveHdr->wh.dwBytesRecorded > 0) OnBufferFilled(this, lpWaveHdr);
}

void TMMDSPComponent::BufferReady(PMMWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (output_) output_->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::Opened() {
  if (opened_) return;
  const WAVEFORMATEX* f = format_.get();
  if (f && f->nBlockAlign > 0) {
    effective_size_ =
        std::max<int32_t>(buffer_size_ - buffer_size_ % f->nBlockAlign, f->nBlockAlign);
  } else {
    effective_size_ = buffer_size_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Closed() { opened_ = false; }

void TMMDSPComponent::Started() {
  if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Paused() { paused_ = true; }
void TMMDSPComponent::Restarted() { paused_ = false; }

void TMMDSPComponent::Stopped() {
  if (started_) {
    started_ = false;
    paused_ = false;
  }
}

void TMMDSPComponent::Reseting() {}
void TMMDSPComponent::Looped() {}

// The notification walk.

namespace {

void Deliver(TMMDSPComponent* c, int note) {
  switch (note) {
    case 0:
      c->Opened();
      break;
    case 1:
      c->Closed();
      break;
    case 2:
      c->Started();
      break;
    case 3:
      c->Paused();
      break;
    case 4:
      c->Restarted();
      break;
    case 5:
      c->Stopped();
      break;
    case 6:
      c->Reseting();
      break;
    default:
      c->Looped();
      break;
  }
}

}  // namespace

void TMMCustomSoundComponent::Walk(Note note) {
  const int n = static_cast<int>(note);
  const bool ending = note == Note::Closed || note == Note::Stopped;
  // The next device downstream ends its own part of the chain first.
  if (ending) {
    for (TMMDSPComponent* x = GetOutput(); x; x = x->GetOutput()) {
      if (x != this && IsDevice(x)) {
        Deliver(x, n);
        break;
      }
    }
  }
  if (note == Note::Opened) fed_by_device_ = false;
  TMMDSPComponent* start = this;
  for (TMMDSPComponent* x = GetInput(); x; x = x->GetInput()) {
    if (IsDevice(x)) {
      start = this;
      if (note == Note::Opened) fed_by_device_ = true;
      break;
    }
    start = x;
  }
  const int32_t size = GetBufferSize();
  for (TMMDSPComponent* x = start; x; x = x->GetOutput()) {
    if (x == this) continue;
    if (IsDevice(x)) {
      if (!ending) {
        if (note == Note::Opened) x->SetBufferSize(size);
        Deliver(x, n);
      }
      break;
    }
    if (note == Note::Opened) x->SetBufferSize(size);
    Deliver(x, n);
  }
}

void TMMCustomSoundComponent::Opened() {
  Walk(Note::Opened);
  TMMDSPComponent::Opened();
}
void TMMCustomSoundComponent::Closed() {
  Walk(Note::Closed);
  TMMDSPComponent::Closed();
}
void TMMCustomSoundComponent::Started() {
  Walk(Note::Started);
  TMMDSPComponent::Started();
}
void TMMCustomSoundComponent::Paused() {
  Walk(Note::Paused);
  TMMDSPComponent::Paused();
}
void TMMCustomSoundComponent::Restarted() {
  Walk(Note::Restarted);
  TMMDSPComponent::Restarted();
}
void TMMCustomSoundComponent::Stopped() {
  Walk(Note::Stopped);
  TMMDSPComponent::Stopped();
}
void TMMCustomSoundComponent::Reseting() {
  Walk(Note::Reseting);
  TMMDSPComponent::Reseting();
}
void TMMCustomSoundComponent::Looped() {
  Walk(Note::Looped);
  TMMDSPComponent::Looped();
}

void TMMCustomSoundComponent::SetNumBuffers(int32_t) { Abstract(); }
int32_t TMMCustomSoundComponent::GetNumBuffers() { Abstract(); }
void TMMCustomSoundComponent::SetDeviceID(int32_t) { Abstract(); }
int32_t TMMCustomSoundComponent::GetDeviceID() { Abstract(); }
void TMMCustomSoundComponent::SetProductName(const std::string&) { Abstract(); }
std::string TMMCustomSoundComponent::GetProductName() { Abstract(); }
void TMMCustomSoundComponent::SetCallBackMode(int) { Abstract(); }
int TMMCustomSoundComponent::GetCallBackMode() { Abstract(); }

int64_t TMMCustomWaveOutComponent::GetPosition() { Abstract(); }
void TMMCustomWaveOutComponent::Open() { Abstract(); }
void TMMCustomWaveOutComponent::Close() { Abstract(); }
void TMMCustomWaveOutComponent::Reset() { Abstract(); }
void TMMCustomWaveOutComponent::Start() { Abstract(); }
void TMMCustomWaveOutComponent::Pause() { Abstract(); }
void TMMCustomWaveOutComponent::Restart() { Abstract(); }
void TMMCustomWaveOutComponent::Stop() { Abstract(); }
