#include "moinf.h"

#include <QAbstractScrollArea>
#include <cstdio>

#include "mobuttons.h"
#include "ui_canvas.h"

using namespace vant;

namespace {

std::string Number(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

TMemo* FieldMemo(TMOInfo* row, TWinControl* parent, const char* name, int left, int width) {
  auto* m = new TMemo(row);
  m->SetName(name);
  m->SetParent(parent);
  m->SetBounds(left, 2, width, 39);
  m->SetReadOnly(true);
  m->SetTabStop(false);
  m->SetColor(static_cast<TColor>(0x00FFFFFF));
  // A display field: a long text wraps and is cut at the bottom, with no bar inside the row.
  if (auto* area = qobject_cast<QAbstractScrollArea*>(m->Host())) {
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  return m;
}

TLabel* MarkLabel(TMOInfo* row, TWinControl* parent, const char* name, int left, int width) {
  auto* l = new TLabel(row);
  l->SetName(name);
  l->SetParent(parent);
  l->SetAutoSize(false);
  l->SetTransparent(true);
  l->SetAlignment(taCenter);
  l->SetLayout(tlCenter);
  l->SetBounds(left, 2, width, 39);
  l->SetCaption("");
  return l;
}

}  // namespace

TMOInfo::TMOInfo(TComponent* owner, int tag) : TCustomControl(owner) {
  SetLoading(true);
  SetTag(tag);
  SetBounds(0, 0, 961, 49);

  Segment = new TMMPanel(this);
  Segment->SetName("Segment");
  Segment->SetParent(this);
  Segment->SetBounds(0, 0, 961, 49);
  Segment->SetAlign(alTop);
  Segment->Bevel().SetBevelOuter(bvNone);
  Segment->SetParentColor(true);

  BTSelect = new g32::TImage32(this);
  BTSelect->SetName("BTSelect");
  BTSelect->SetParent(Segment);
  BTSelect->SetBounds(3, 4, 21, 38);
  BTSelect->SetTag(406);

  BTLabel = new TLabel(this);
  BTLabel->SetName("BTLabel");
  BTLabel->SetParent(BTSelect);
  BTLabel->SetAutoSize(false);
  BTLabel->SetTransparent(true);
  BTLabel->SetAlignment(taRightJustify);
  BTLabel->SetBounds(1, 14, 17, 12);
  BTLabel->Font().SetColor(static_cast<TColor>(0x00402B1C));
  designed_number_size_ = BTLabel->Font().GetSize();

  BTFieldBase = new g32::TImage32(this);
  BTFieldBase->SetName("BTFieldBase");
  BTFieldBase->SetParent(Segment);
  BTFieldBase->SetBounds(30, 1, 930, 42);
  BTFieldBase->SetAlign(alRight);

  FileName = FieldMemo(this, BTFieldBase, "FileName", 2, 76);
  Title = FieldMemo(this, BTFieldBase, "Title", 84, 350);
  CMLength = MarkLabel(this, BTFieldBase, "CMLength", 440, 38);
  Channels = MarkLabel(this, BTFieldBase, "Channels", 483, 23);
  CodeInfo = FieldMemo(this, BTFieldBase, "CodeInfo", 510, 177);
  Limitation = FieldMemo(this, BTFieldBase, "Limitation", 701, 171);
  Attachiment = MarkLabel(this, BTFieldBase, "Attachiment", 878, 21);
  Comment = MarkLabel(this, BTFieldBase, "Comment", 906, 21);

  // The number printed on the select button acts as the button.
  auto run = [this](int group, int index) {
    if (group == 4) ExecRowButton(index);
  };
  viewer::BindImageButton(*BTSelect, run);
  BTLabel->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) {
    viewer::ImageButtonDown(*BTSelect);
  };
  BTLabel->OnMouseMove = [this](TObject*, TShiftState, int, int) {
    viewer::ImageButtonMove(*BTSelect);
  };
  BTLabel->OnMouseUp = [this, run](TObject*, TMouseButton, TShiftState, int, int) {
    viewer::ImageButtonUp(*BTSelect, run);
  };

  ShowNumber(tag);
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();
}

void TMOInfo::ShowNumber(int n) {
  // Numbers from 100 up are drawn smaller until they fit the label, which lies on the button's
  // face: wider, they would run onto its frame and lose their first digit there.
  const std::string text = Number(n);
  BTLabel->Font().SetSize(designed_number_size_);
  TBitmap measure;
  for (;;) {
    measure.Canvas().Font().Assign(&BTLabel->Font());
    if (measure.Canvas().TextWidth(text) <= BTLabel->GetWidth() || BTLabel->Font().GetSize() <= 6)
      break;
    BTLabel->Font().SetSize(BTLabel->Font().GetSize() - 1);
  }
  BTLabel->SetCaption(text);
}

void TMOInfo::SetRow(int n) {
  ShowNumber(n);
  viewer::ShowSkinItem(*BTSelect, 6);
  viewer::ShowSkinItem(*BTFieldBase, 1);
  BTSelect->SetTag(406);
}

void TMOInfo::ExecRowButton(int index) {
  if (index == 6 && OnOpenFile) OnOpenFile(FileIndex);
}
