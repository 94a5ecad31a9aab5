#pragma once
// The progress window as the file model's progress sink: the save and the open flow drive
// TPROGForm through TBWFProgress without knowing about windows. Install it with
// SetBWFProgress(&sink) once the window exists.
#include <string_view>

#include "bwfnotify.h"
#include "progform.h"

class TPROGFormProgress : public TBWFProgress {
 public:
  explicit TPROGFormProgress(TPROGForm& form) : form_(form) {}
  // The gauge's caption (UTF-8), e.g. "書き込み中　".
  void SetCaption(std::string_view text) override;
  void Show() override;
  void Hide() override;
  void SetProgress(int percent) override;
  void ProcessMessages() override;
  void StartDelayTimer() override;

 private:
  TPROGForm& form_;
};
