#pragma once
// TMMCustomWaveEditor: the base of wave editors, a marker panel over the wave it shows. A
// descendant says which wave that is.
#include "mmmarkerpanel.h"
#include "mmwave.h"

class TMMCustomWaveEditor : public TMMMarkerPanel {
 public:
  explicit TMMCustomWaveEditor(vant::TComponent* owner);
  std::string ClassName() const override { return "TMMCustomWaveEditor"; }
  virtual TMMWave* GetWave() = 0;
};
