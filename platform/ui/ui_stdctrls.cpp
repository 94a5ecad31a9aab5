#include "ui_stdctrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include "cp932.h"
#include "ui_form.h"
#include "ui_qt.h"

namespace vant {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }
std::string S(const QString& q) { return q.toStdString(); }
// CP932 bytes of the text; with `crlf` each line break counts as the two bytes it is stored as.
size_t Cp932Size(const QString& q, bool crlf = false) {
  return text::ToCp932Lossy(S(q)).size() + (crlf ? size_t(q.count('\n')) : 0);
}

// Removes characters before `cursor` (then from the end) until `q` fits in `max` CP932 bytes.
void CutToFit(QString& q, int& cursor, int max, bool crlf = false) {
  while (Cp932Size(q, crlf) > size_t(max) && cursor > 0) {
    int n = (cursor >= 2 && q[cursor - 1].isLowSurrogate()) ? 2 : 1;
    q.remove(cursor - n, n);
    cursor -= n;
  }
  while (Cp932Size(q, crlf) > size_t(max) && !q.isEmpty()) {
    q.chop(q.back().isLowSurrogate() ? 2 : 1);
  }
  cursor = std::min(cursor, int(q.size()));
}

// Disabled captions are etched: a highlight copy one pixel down-right under a shadow copy.
void DrawCaption(TCanvas& c, const std::string& text, TRect r, unsigned flags, bool enabled) {
  if (!enabled) {
    TRect sh = r;
    OffsetRect(sh, 1, 1);
    c.Font().SetColor(clBtnHighlight);
    c.DrawText(text, sh, flags);
    c.Font().SetColor(clBtnShadow);
  }
  c.DrawText(text, r, flags);
}

template <class W>
W* As(QWidget* h) {
  return static_cast<W*>(h);
}

}  // namespace

// ---- TLabel ----

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 17);
  SetParentColor(true);
  SetControlStyle(ControlStyle() | csOpaque);
}

void TLabel::SetAlignment(TAlignment a) {
  if (a != alignment_) alignment_ = a, Invalidate();
}
void TLabel::SetAutoSize(bool v) {
  if (v != auto_size_) auto_size_ = v, AdjustBounds();
}
void TLabel::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  SetControlStyle(v ? ControlStyle() & ~unsigned(csOpaque) : ControlStyle() | csOpaque);
  Invalidate();
}
void TLabel::SetWordWrap(bool v) {
  if (v != word_wrap_) word_wrap_ = v, AdjustBounds(), Invalidate();
}
void TLabel::SetLayout(TTextLayout l) {
  if (l != layout_) layout_ = l, Invalidate();
}
void TLabel::TextChanged() {
  AdjustBounds();
  Invalidate();
}
void TLabel::FontChanged() {
  TGraphicControl::FontChanged();
  AdjustBounds();
}

void TLabel::Loaded() {
  TGraphicControl::Loaded();
  AdjustBounds();
}

void TLabel::AdjustBounds() {
  if (!auto_size_ || HasState(csLoading)) return;
  TCanvas measure;
  measure.Font().Assign(&Font());
  TRect r{0, 0, word_wrap_ ? GetWidth() : 0, 0};
  std::string t = GetText().empty() ? " " : GetText();
  measure.DrawText(t, r, DT_CALCRECT | DT_EXPANDTABS | (word_wrap_ ? unsigned(DT_WORDBREAK) : 0u));
  int left = GetLeft();
  if (!word_wrap_ && alignment_ == taRightJustify) left += GetWidth() - r.Right;
  if (!word_wrap_ && alignment_ == taCenter) left += (GetWidth() - r.Right) / 2;
  SetBounds(left, GetTop(), r.Right, r.Bottom);
}

void TLabel::Paint() {
  TRect r = ClientRect();
  TCanvas& c = Canvas();
  if (!transparent_) {
    c.Brush().Color = GetColor();
    c.FillRect(r);
  }
  c.Brush().Style = bsClear;
  unsigned f = DT_EXPANDTABS | (word_wrap_ ? unsigned(DT_WORDBREAK) : 0u) |
               (alignment_ == taRightJustify ? DT_RIGHT
                : alignment_ == taCenter     ? DT_CENTER
                                             : DT_LEFT);
  if (layout_ != tlTop) {
    TRect need = r;
    c.DrawText(GetText(), need, f | DT_CALCRECT);
    int off = layout_ == tlCenter ? (r.Height() - need.Height()) / 2 : r.Height() - need.Height();
    r.Top += off;
  }
  DrawCaption(c, GetText(), r, f, GetEnabled());
}

// ---- TStaticText ----

TStaticText::TStaticText(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 65, 17);
  SetParentColor(true);
}

void TStaticText::SetBorderStyle(TStaticBorderStyle s) {
  if (s != border_) border_ = s, Invalidate();
}
void TStaticText::SetAlignment(TAlignment a) {
  if (a != alignment_) alignment_ = a, Invalidate();
}

void TStaticText::Paint() {
  TRect r = ClientRect();
  if (border_ == sbsSunken) Frame3D(Canvas(), r, clBtnShadow, clBtnHighlight, 1);
  if (border_ == sbsSingle) Frame3D(Canvas(), r, clWindowFrame, clWindowFrame, 1);
  Canvas().Brush().Style = bsClear;
  unsigned f = alignment_ == taRightJustify ? DT_RIGHT
               : alignment_ == taCenter     ? DT_CENTER
                                            : DT_LEFT;
  Canvas().DrawText(GetText(), r, f | DT_EXPANDTABS);
}

// ---- TEdit ----

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  auto* e = new HostWidget<QLineEdit>(this);
  QObject::connect(e, &QLineEdit::textChanged, [this] { Guarded([this] { HandleEdited(); }); });
  SetHost(e);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 121, 21);
}

std::string TEdit::ReadText() const { return S(As<QLineEdit>(host_)->text()); }

void TEdit::WriteText(const std::string& v) {
  setting_ = true;
  As<QLineEdit>(host_)->setText(Q(v));
  setting_ = false;
  if (OnChange) OnChange(this);
}

void TEdit::HandleEdited() {
  if (setting_) return;
  auto* e = As<QLineEdit>(host_);
  if (max_length_ > 0 && Cp932Size(e->text()) > size_t(max_length_)) {
    QString q = e->text();
    int cursor = e->cursorPosition();
    CutToFit(q, cursor, max_length_);
    setting_ = true;
    e->setText(q);
    e->setCursorPosition(cursor);
    setting_ = false;
  }
  if (OnChange) OnChange(this);
}

void TEdit::SetMaxLength(int bytes) { max_length_ = std::max(0, bytes); }
void TEdit::SetReadOnly(bool v) {
  read_only_ = v;
  As<QLineEdit>(host_)->setReadOnly(v);
}
void TEdit::SetImeMode(TImeMode m) {
  ime_ = m;
  host_->setAttribute(Qt::WA_InputMethodEnabled, m != imDisable && m != imClose);
}
void TEdit::SelectAll() { As<QLineEdit>(host_)->selectAll(); }

// ---- TMemo ----

TMemo::TMemo(TComponent* owner) : TWinControl(owner) {
  auto* m = new HostWidget<QPlainTextEdit>(this);
  // As the framework's memo: Tab moves on to the next control instead of typing a tab.
  m->setTabChangesFocus(true);
  QObject::connect(m, &QPlainTextEdit::textChanged,
                   [this] { Guarded([this] { HandleEdited(); }); });
  SetHost(m);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 185, 89);
  lines_.OnChange = [this](TStrings*) {
    if (setting_) return;
    std::string t = lines_.GetText();
    if (!t.empty()) t.pop_back();
    WriteText(t);
  };
}

// A memo's text breaks its lines with CR LF, as the framework's memo does and as the Windows
// programs that exchange these files expect; either break is taken on the way in.
std::string TMemo::ReadText() const {
  QString q = As<QPlainTextEdit>(host_)->toPlainText();
  q.replace('\n', QStringLiteral("\r\n"));
  return S(q);
}

void TMemo::WriteText(const std::string& v) {
  QString q = Q(v);
  q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  q.replace('\r', '\n');
  setting_ = true;
  As<QPlainTextEdit>(host_)->setPlainText(q);
  lines_.SetText(v);
  setting_ = false;
  if (OnChange) OnChange(this);
}

void TMemo::HandleEdited() {
  if (setting_) return;
  auto* m = As<QPlainTextEdit>(host_);
  QString q = m->toPlainText();
  if (max_length_ > 0 && Cp932Size(q, true) > size_t(max_length_)) {
    int cursor = m->textCursor().position();
    CutToFit(q, cursor, max_length_, true);
    setting_ = true;
    m->setPlainText(q);
    QTextCursor c = m->textCursor();
    c.setPosition(cursor);
    m->setTextCursor(c);
    setting_ = false;
  }
  setting_ = true;
  lines_.SetText(S(q));
  setting_ = false;
  if (OnChange) OnChange(this);
}

void TMemo::SetMaxLength(int bytes) { max_length_ = std::max(0, bytes); }
void TMemo::SetReadOnly(bool v) {
  read_only_ = v;
  As<QPlainTextEdit>(host_)->setReadOnly(v);
}
void TMemo::SetWordWrap(bool v) {
  word_wrap_ = v;
  As<QPlainTextEdit>(host_)->setLineWrapMode(v ? QPlainTextEdit::WidgetWidth
                                               : QPlainTextEdit::NoWrap);
}

// ---- TListBox ----

namespace {

// The list's widget, which marks the keyboard's place while it has the focus: a dotted frame on
// the current line (on the first when none is current), drawn over the selection's colours.
class ListHost : public HostWidget<QListWidget> {
 public:
  using HostWidget<QListWidget>::HostWidget;

 protected:
  void paintEvent(QPaintEvent* e) override {
    HostWidget<QListWidget>::paintEvent(e);
    if (!hasFocus()) return;
    QModelIndex at = currentIndex();
    if (!at.isValid() && count() > 0) at = indexFromItem(item(0));
    const QRect line = at.isValid() ? visualRect(at) : viewport()->rect();
    if (line.width() < 3 || line.height() < 3) return;
    const bool selected = at.isValid() && selectionModel()->isSelected(at);
    QPainter p(viewport());
    QPen pen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    pen.setCosmetic(true);
    pen.setDashPattern({1, 1});
    p.setPen(pen);
    p.drawRect(line.adjusted(0, 0, -1, -1));
  }
  void focusInEvent(QFocusEvent* e) override {
    HostWidget<QListWidget>::focusInEvent(e);
    viewport()->update();
  }
  void focusOutEvent(QFocusEvent* e) override {
    HostWidget<QListWidget>::focusOutEvent(e);
    viewport()->update();
  }
};

}  // namespace

TListBox::TListBox(TComponent* owner) : TWinControl(owner) {
  auto* l = new ListHost(this);
  QObject::connect(l, &QListWidget::currentRowChanged,
                   [this] { Guarded([this] { HandleSelection(); }); });
  SetHost(l);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 121, 97);
  items_.OnChange = [this](TStrings*) {
    auto* w = As<QListWidget>(host_);
    int keep = w->currentRow();
    setting_ = true;
    w->clear();
    for (const auto& s : items_.Items()) w->addItem(Q(s));
    w->setCurrentRow(keep < items_.Count() ? keep : -1);
    setting_ = false;
  };
}

int TListBox::GetItemIndex() const { return As<QListWidget>(host_)->currentRow(); }

void TListBox::SetItemIndex(int i) {
  setting_ = true;
  As<QListWidget>(host_)->setCurrentRow(i >= 0 && i < items_.Count() ? i : -1);
  setting_ = false;
}

void TListBox::HandleSelection() {
  if (!setting_) Click();
}

// ---- TComboBox ----

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner) {
  auto* c = new HostWidget<QComboBox>(this);
  c->setEditable(true);
  QObject::connect(c, &QComboBox::activated, [this] { Guarded([this] { HandleSelection(); }); });
  QObject::connect(c, &QComboBox::editTextChanged, [this] {
    Guarded([this] {
      if (!setting_ && style_ != csDropDownList && OnChange) OnChange(this);
    });
  });
  SetHost(c);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 145, 21);
  items_.OnChange = [this](TStrings*) {
    auto* w = As<QComboBox>(host_);
    setting_ = true;
    QString text = w->currentText();
    w->clear();
    for (const auto& s : items_.Items()) w->addItem(Q(s));
    w->setCurrentIndex(-1);
    if (style_ != csDropDownList) w->setEditText(text);
    setting_ = false;
  };
}

int TComboBox::GetItemIndex() const { return As<QComboBox>(host_)->currentIndex(); }

void TComboBox::SetItemIndex(int i) {
  setting_ = true;
  As<QComboBox>(host_)->setCurrentIndex(i >= 0 && i < items_.Count() ? i : -1);
  setting_ = false;
}

void TComboBox::SetStyle(TComboBoxStyle s) {
  style_ = s;
  setting_ = true;
  As<QComboBox>(host_)->setEditable(s != csDropDownList);
  setting_ = false;
}

std::string TComboBox::ReadText() const { return S(As<QComboBox>(host_)->currentText()); }

void TComboBox::WriteText(const std::string& v) {
  auto* c = As<QComboBox>(host_);
  setting_ = true;
  if (style_ == csDropDownList)
    c->setCurrentIndex(items_.IndexOf(v));
  else
    c->setEditText(Q(v));
  setting_ = false;
}

void TComboBox::HandleSelection() {
  if (setting_) return;
  Click();
  if (OnChange) OnChange(this);
}

// ---- TButton ----

TButton::TButton(TComponent* owner) : TWinControl(owner) {
  auto* b = new HostWidget<QPushButton>(this);
  QObject::connect(b, &QPushButton::clicked, [this] { Guarded([this] { Click(); }); });
  SetHost(b);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetTabStop(true);
  SetBounds(0, 0, 75, 25);
}

void TButton::TextChanged() { As<QPushButton>(host_)->setText(Q(GetText())); }

void TButton::SetDefault(bool v) {
  default_ = v;
  As<QPushButton>(host_)->setDefault(v);
}

void TButton::Click() {
  if (modal_result_ != mrNone) {
    for (TWinControl* p = GetParent(); p; p = p->GetParent())
      if (auto* f = dynamic_cast<TForm*>(p)) {
        f->SetModalResult(modal_result_);
        break;
      }
  }
  TWinControl::Click();
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) {
  auto* c = new HostWidget<QCheckBox>(this);
  QObject::connect(c, &QCheckBox::toggled, [this] { Guarded([this] { HandleToggled(); }); });
  SetHost(c);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetTabStop(true);
  SetBounds(0, 0, 97, 17);
}

bool TCheckBox::GetChecked() const { return As<QCheckBox>(host_)->isChecked(); }
void TCheckBox::SetChecked(bool v) { As<QCheckBox>(host_)->setChecked(v); }
void TCheckBox::HandleToggled() { Click(); }
void TCheckBox::TextChanged() { As<QCheckBox>(host_)->setText(Q(GetText())); }

// ---- TSpeedButton ----

TSpeedButton::TSpeedButton(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 23, 22);
  SetControlStyle(ControlStyle() | csOpaque);
}

void TSpeedButton::SetFlat(bool v) {
  if (v != flat_) flat_ = v, Invalidate();
}
void TSpeedButton::SetDown(bool v) {
  if (v != down_) down_ = v, Invalidate();
}
void TSpeedButton::EnabledChanged() {
  pressed_ = false;
  Invalidate();
}

void TSpeedButton::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
  if (b == mbLeft && GetEnabled()) {
    pressed_ = true;
    Invalidate();
  }
  TGraphicControl::MouseDown(b, s, x, y);
}

void TSpeedButton::MouseMove(TShiftState s, int x, int y) {
  if (s.count(ssLeft)) {
    bool inside = x >= 0 && y >= 0 && x < GetWidth() && y < GetHeight();
    if (inside != pressed_) pressed_ = inside, Invalidate();
  }
  TGraphicControl::MouseMove(s, x, y);
}

void TSpeedButton::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
  if (b == mbLeft && pressed_) {
    pressed_ = false;
    Invalidate();
  }
  TGraphicControl::MouseUp(b, s, x, y);
}

void TSpeedButton::Paint() {
  TCanvas& c = Canvas();
  TRect r = ClientRect();
  c.Brush().Color = clBtnFace;
  c.Brush().Style = bsSolid;
  c.FillRect(r);
  bool sunk = pressed_ || down_;
  if (!flat_ || sunk) {
    if (sunk) {
      Frame3D(c, r, cl3DDkShadow, clBtnHighlight, 1);
      Frame3D(c, r, clBtnShadow, cl3DLight, 1);
    } else {
      Frame3D(c, r, clBtnHighlight, cl3DDkShadow, 1);
      Frame3D(c, r, cl3DLight, clBtnShadow, 1);
    }
  }
  if (sunk) OffsetRect(r, 1, 1);
  c.Brush().Style = bsClear;
  unsigned f = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
  DrawCaption(c, GetText(), r, f, GetEnabled());
}

// ---- TPaintBox, TBevel, TFrame ----

TPaintBox::TPaintBox(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 105, 105);
  SetParentColor(true);
}

void TPaintBox::Paint() {
  if (OnPaint) OnPaint(this);
}

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape s) {
  if (s != shape_) shape_ = s, Invalidate();
}
void TBevel::SetStyle(TBevelStyle s) {
  if (s != style_) style_ = s, Invalidate();
}

void TBevel::Paint() {
  TCanvas& c = Canvas();
  TColor first = style_ == bsLowered ? clBtnShadow : clBtnHighlight;
  TColor second = style_ == bsLowered ? clBtnHighlight : clBtnShadow;
  int w = GetWidth(), h = GetHeight();
  TRect r = ClientRect();
  auto line = [&](TColor col, int x1, int y1, int x2, int y2) {
    c.Pen().Color = col;
    c.MoveTo(x1, y1);
    c.LineTo(x2, y2);
  };
  switch (shape_) {
    case bsBox:
      Frame3D(c, r, first, second, 1);
      break;
    case bsFrame:
      // Two rings offset by a pixel: an etched groove (or ridge).
      r.Right -= 1, r.Bottom -= 1;
      Frame3D(c, r, first, first, 1);
      r = Rect(1, 1, w, h);
      Frame3D(c, r, second, second, 1);
      break;
    case bsTopLine:
      line(first, 0, 0, w, 0), line(second, 0, 1, w, 1);
      break;
    case bsBottomLine:
      line(first, 0, h - 2, w, h - 2), line(second, 0, h - 1, w, h - 1);
      break;
    case bsLeftLine:
      line(first, 0, 0, 0, h), line(second, 1, 0, 1, h);
      break;
    case bsRightLine:
      line(first, w - 2, 0, w - 2, h), line(second, w - 1, 0, w - 1, h);
      break;
    case bsSpacer:
      break;
  }
}

TFrame::TFrame(TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 320, 240);
  SetColor(clBtnFace);
}

// ---- TImage ----

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 105, 105);
  picture_.OnChange = [this](TBitmap*) { Invalidate(); };
}

void TImage::SetStretch(bool v) {
  if (v != stretch_) stretch_ = v, Invalidate();
}
void TImage::SetCenter(bool v) {
  if (v != center_) center_ = v, Invalidate();
}

void TImage::Paint() {
  if (picture_.Empty()) return;
  if (stretch_)
    Canvas().StretchDraw(ClientRect(), picture_);
  else if (center_)
    Canvas().Draw((GetWidth() - picture_.Width()) / 2, (GetHeight() - picture_.Height()) / 2,
                  picture_);
  else
    Canvas().Draw(0, 0, picture_);
}

}  // namespace vant
