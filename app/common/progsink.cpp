#include "progsink.h"

#include "ui_application.h"

void TPROGFormProgress::SetCaption(std::string_view text) {
  form_.MMGauge1->SetCaption(std::string(text));
}
void TPROGFormProgress::Show() { form_.Show(); }
void TPROGFormProgress::Hide() { form_.Hide(); }
void TPROGFormProgress::SetProgress(int percent) { form_.SetProgress(percent); }
void TPROGFormProgress::ProcessMessages() { vant::Application->ProcessMessages(); }
void TPROGFormProgress::StartDelayTimer() { form_.DelayTimer->SetEnabled(true); }
