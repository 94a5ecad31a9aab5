#include "imgview32_widget.h"

#include <QApplication>
#include <QStyle>
#include <QWidget>
#include <QWindow>

#include "ui_application.h"
#include "ui_form.h"

namespace g32 {

TImgView32::TImgView32(vant::TComponent* Owner)
    : TImage32(Owner, std::make_unique<TCustomImgView32>()), bar_timer_(new vant::TTimer(this)) {
  if (qApp) {
    TCustomImgView32::SystemScrollBarSize =
        QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  }
  bar_timer_->SetEnabled(false);
  bar_timer_->OnTimer = [this](vant::TObject*) {
    bar_timer_->SetEnabled(false);
    View().PollBarTimers();
  };
  View().OnScheduleBarTimer = [this](int delay) {
    if (delay < 0) {
      bar_timer_->SetEnabled(false);
      return;
    }
    bar_timer_->SetInterval(unsigned(std::max(delay, 1)));
    bar_timer_->SetEnabled(true);
  };
  View().OnScroll = [this](g32::TObject*) {
    if (OnScroll) OnScroll(this);
  };
  View().FillsItsForm = [this] { return FillsItsForm(); };
  View().OnSizeGripPress = [this](g32::TObject*) {
    // The form's window is resized by the window system from its bottom-right corner.
    vant::Application->ProcessMessages();
    QWidget* w = Host() ? Host()->window() : nullptr;
    if (w && w->windowHandle())
      w->windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
  };
  View().AlignAll();
}

bool TImgView32::FillsItsForm() {
  for (vant::TControl* c = this; c; c = c->GetParent()) {
    if (dynamic_cast<vant::TForm*>(c)) return c != this;
    if (c->GetAlign() != vant::alClient) return false;
  }
  return false;
}

void TImgView32::Paint() {
  TImage32::Paint();
  View().PaintChrome(chrome_);
  for (const TRect& r : {View().HScrollRect(), View().VScrollRect(), View().SizeGripRect()})
    PresentOnCanvas(Canvas(), chrome_, r);
}

}  // namespace g32
