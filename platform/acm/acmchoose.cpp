// The format and filter choosers: the checks every chooser shares, then the chooser in force.
#include <cstring>

#include "acm.h"
#include "acmchoosedlg.h"

namespace {

AcmChooser* g_chooser = nullptr;

AcmChooser& Chooser() {
  static vant::acm::DialogChooser dialogs;
  return g_chooser ? *g_chooser : dialogs;
}

}  // namespace

void SetAcmChooser(AcmChooser* chooser) { g_chooser = chooser; }

MMRESULT acmFormatChoose(ACMFORMATCHOOSE& c) {
  if (!c.pwfx || c.cbwfx < sizeof(ACMWAVEFORMAT)) return MMSYSERR_INVALPARAM;
  if ((c.fdwEnum &
       (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST | ACM_FORMATENUMF_WFORMATTAG)) &&
      !c.pwfxEnum)
    return MMSYSERR_INVALPARAM;
  return Chooser().ChooseFormat(c);
}

MMRESULT acmFilterChoose(ACMFILTERCHOOSE& c) {
  if (!c.pwfltr || c.cbwfltr < sizeof(WAVEFILTER)) return MMSYSERR_INVALPARAM;
  return Chooser().ChooseFilter(c);
}
