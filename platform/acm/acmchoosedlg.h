#pragma once
// Our own format and filter choosers on the component framework: a modal form with the format
// tag (or filter tag) in a drop-down list and its formats (or filters) in a list below.
#include "acm.h"

namespace vant::acm {

class DialogChooser : public AcmChooser {
 public:
  MMRESULT ChooseFormat(ACMFORMATCHOOSE& choose) override;
  MMRESULT ChooseFilter(ACMFILTERCHOOSE& choose) override;
};

}  // namespace vant::acm
