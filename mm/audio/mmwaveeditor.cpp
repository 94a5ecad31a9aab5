#include "mmwaveeditor.h"

TMMCustomWaveEditor::TMMCustomWaveEditor(vant::TComponent* owner) : TMMMarkerPanel(owner) {}
