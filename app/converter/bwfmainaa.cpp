// The layout of the converter's main window: every control at its designed pixel position on
// the background image or on one of the two pages.
#include "bwfmainaa.h"

#include "desktopstate.h"
#include "mainaarules.h"
#include "progform.h"
#include "ui_application.h"
#include "ui_datetime.h"

using namespace vant;

TVANTMainAA* VANTMainAA = nullptr;
std::vector<std::string> TVANTMainAA::CommandLine;

namespace {

constexpr TColor kFieldColor = 0xE1E1E1;
constexpr TColor kPageColor = 0xEDEDED;
constexpr TColor kWhite = 0xFFFFFF;

template <class T>
T* Make(TComponent* owner, TWinControl* parent, const char* name, int l, int t, int w, int h) {
  T* c = new T(owner);
  c->SetName(name);
  c->SetBounds(l, t, w, h);
  c->SetParent(parent);
  return c;
}

// Read-only fields look alike: grey, no keyboard focus.
template <class T>
void ReadOnlyField(T* c) {
  c->SetReadOnly(true);
  c->SetColor(kFieldColor);
  c->SetTabStop(false);
}

TStaticText* Static(TComponent* owner, TWinControl* parent, const char* name, int l, int t, int w,
                    int h) {
  auto* s = Make<TStaticText>(owner, parent, name, l, t, w, h);
  s->SetBorderStyle(sbsSunken);
  s->SetColor(kFieldColor);
  s->SetTabStop(false);
  return s;
}

TMemo* Memo(TComponent* owner, TWinControl* parent, const char* name, int l, int t, int w, int h,
            int limit, bool read_only) {
  auto* m = Make<TMemo>(owner, parent, name, l, t, w, h);
  m->SetMaxLength(limit);
  if (read_only) ReadOnlyField(m);
  return m;
}

// A transparent caption, sized to its text: the designed left edge is where its text starts.
TLabel* Caption(TComponent* owner, TWinControl* parent, const char* text, int l, int t,
                TColor colour = clBlack) {
  auto* c = new TLabel(owner);
  c->SetParent(parent);
  c->SetTransparent(true);
  c->SetLeft(l);
  c->SetTop(t);
  c->Font().SetColor(colour);
  c->SetCaption(text);
  return c;
}

// A caption on two lines, right-aligned in the box it was designed in.
TLabel* Caption2(TComponent* owner, TWinControl* parent, const char* text, int l, int t, int w) {
  TLabel* c = Caption(owner, parent, text, l, t);
  c->SetAutoSize(false);
  c->SetAlignment(taRightJustify);
  c->SetBounds(l, t, w, 30);
  return c;
}

TMMLabel* Heading(TComponent* owner, TWinControl* parent, const char* text, int l, int t,
                  int w = 160) {
  auto* h = new TMMLabel(owner);
  h->SetParent(parent);
  h->SetTransparent(true);
  h->SetEffectStyle(lsNone);
  h->Bevel().SetBevelOuter(bvNone);
  h->Bevel().SetBevelInner(bvNone);
  h->Font().SetName("HG丸ｺﾞｼｯｸM-PRO");
  h->Font().SetHeight(-13);
  h->Font().SetStyle(fsBold);
  h->SetBounds(l, t, w, 17);
  h->SetCaption(text);
  return h;
}

// A divider line across a page.
void Divider(TComponent* owner, TWinControl* parent, int t) {
  auto* p = Make<TMMPanel>(owner, parent, "", 8, t, 863, 2);
  p->Bevel().SetBevelOuter(bvLowered);
  p->Bevel().SetBevelInner(bvNone);
}

}  // namespace

TVANTMainAA::TVANTMainAA(TComponent* owner) : TForm(owner) {
  SetLoading(true);
  SetName("VANTMainAA");
  SetCaption(kTitle);
  SetBorderStyle(bsSingle);
  SetBorderIcons({biSystemMenu, biMinimize});
  SetPosition(poScreenCenter);
  SetClientWidth(1022);
  SetClientHeight(686);
  Font().SetName("ＭＳ Ｐゴシック");
  Font().SetHeight(-12);
  BuildLayout();

  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetEnabled(false);
  Timer1->SetInterval(3000);
  Timer1->OnTimer = [this](TObject* s) { Timer1Timer(s); };

  OpenDialog1 = new TOpenDialog(this);
  OpenDialogPdf = new TOpenDialog(this);
  OpenDialogCsv = new TOpenDialog(this);
  OpenDialogAttach = new TOpenDialog(this);
  OpenDialogImport = new TOpenDialog(this);
  SaveAttachmentDialog = new TSaveDialog(this);
  SaveDialogWaveFile = new TSaveDialog(this);
  SaveDialogWaveFile->DefaultExt = "wav";
  SaveDialogWaveFile->Options = ofOverwritePrompt | ofHideReadOnly;
  SaveDialogExport = new TSaveDialog(this);
  SaveDialogExport->DefaultExt = "csv";

  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnShow = [this](TObject* s) { FormShow(s); };
  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnDestroy = [this](TObject* s) { FormDestroy(s); };
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->Loaded();
  Loaded();

  // The window's own state.
  DesignPixelsPerInch = 96;
  ScreenPixelsPerInch = Screen->PixelsPerInch();
  if (!CommandLine.empty()) {
    if (orlune::PathFits(CommandLine.front()))
      CommandPath = CommandLine.front();
    else
      CommandPathRefused = true;
  }
  saved_short_date_ = FormatSettings().ShortDateFormat;
  FormatSettings().ShortDateFormat = "yyyy/mm/dd";
  endpoint_.OnActivate = [this] { BringWindowForward(*this); };
  endpoint_.OnCopyData = [this](const std::string& path) { Guarded([&] { WMCopyData(path); }); };
  endpoint_.SetTitle(kTitle);
  BindFlows();
  VANTMainAA = this;
}

TVANTMainAA::~TVANTMainAA() {
  DoDestroy();
  UnbindFlows();
  if (VANTMainAA == this) VANTMainAA = nullptr;
}

g32::TImage32* TVANTMainAA::ImageButton(TWinControl* parent, const char* name, int left, int top,
                                        int tag, bool button) {
  auto* b = Make<g32::TImage32>(this, parent, name, left, top, 1, 1);
  b->SetAutoSize(true);
  b->SetBitmapAlign(g32::baTopLeft);
  b->SetScaleMode(g32::smNormal);
  if (button) {
    b->OnMouseDown = [this, b](TObject*, TMouseButton, TShiftState, int, int, g32::TCustomLayer*) {
      BTMouseDown(b);
    };
    b->OnMouseMove = [this, b](TObject*, TShiftState, int, int, g32::TCustomLayer*) {
      BTMouseMove(b);
    };
    b->OnMouseUp = [this, b](TObject*, TMouseButton, TShiftState, int, int, g32::TCustomLayer*) {
      BTMouseUp(b);
    };
  }
  images_.push_back(b);
  image_tags_.push_back(tag);
  return b;
}

TMMLevel* TVANTMainAA::LevelMeter(TWinControl* parent, const char* name, int left,
                                  TMMChannel channel) {
  auto* level = new TMMLevel(this);
  level->SetName(name);
  level->SetParent(parent);
  level->SetBounds(left, 65, 5, 30);
  level->SetKind(lkVertical);
  level->SetBarColor(1, clLime);
  level->SetBarColor(2, clYellow);
  level->SetMode(mStereo);
  level->SetChannel(channel);
  level->Bevel().SetBevelOuter(bvLowered);
  return level;
}

void TVANTMainAA::BuildLayout() {
  MMPanel1 = Make<TMMPanel>(this, this, "MMPanel1", 0, 0, 1022, 686);
  MMPanel1->SetAlign(alClient);
  MMPanel1->SetColor(clGray);
  MMPanel1->Bevel().SetBevelOuter(bvLowered);
  MMPanel1->Bevel().SetBevelOuterWidth(1);
  MMPanel1->Bevel().SetBevelInner(bvLowered);
  MMPanel1->Bevel().SetBevelInnerWidth(2);

  BaseImage = Make<g32::TImage32>(this, MMPanel1, "BaseImage", 3, 3, 1016, 684);
  BaseImage->SetBitmapAlign(g32::baTopLeft);
  BaseImage->SetScaleMode(g32::smNormal);
  TWinControl* base = BaseImage;

  // Captions of the background; the right-hand column's two are white on the dark strip.
  Caption(this, base, "ファイル", 919, 20, kWhite);
  Caption(this, base, "CM情報", 917, 155, kWhite);
  Caption(this, base, "ファイル名", 24, 22);
  Caption(this, base, "広告主", 314, 22);
  Caption2(this, base, "商品名・\nタイトル", 296, 66, 60);
  Caption(this, base, "CM秒数", 681, 22);
  Caption(this, base, "sec", 796, 24);

  VerSpot = Make<TLabel>(this, base, "VerSpot", -2, -3, 1013, 16);
  VerSpot->SetAutoSize(false);
  // Its empty caption shrank it while it still sized itself to its text.
  VerSpot->SetBounds(-2, -3, 1013, 16);
  VerSpot->SetTransparent(true);
  VerSpot->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
    VerSpotMouseDown(s, b, sh, x, y);
  };

  MainTab = Make<TMMLabel>(this, base, "MainTab", 17, 106, 65, 17);
  SubTab = Make<TMMLabel>(this, base, "SubTab", 140, 106, 87, 17);
  for (TMMLabel* tab : {MainTab, SubTab}) {
    tab->SetTransparent(true);
    tab->SetEffectStyle(lsNone);
    tab->Font().SetName("Times New Roman");
    tab->Font().SetHeight(-13);
    tab->Font().SetColor(clBlack);
    tab->Bevel().SetBevelInner(bvSpace);
    tab->Bevel().SetBevelOuter(bvNone);
  }
  MainTab->SetAlignment(taCenter);
  MainTab->SetCaption("MAIN");
  SubTab->SetCaption("   SUB");
  MainTab->OnClick = [this](TObject* s) { MainTabClick(s); };
  SubTab->OnClick = [this](TObject* s) { SubTabClick(s); };

  BWFFileName = Make<TEdit>(this, base, "BWFFileName", 93, 17, 191, 23);
  ReadOnlyField(BWFFileName);
  ClientName = Memo(this, base, "ClientName", 360, 17, 266, 35, 0, true);
  CMTitle = Memo(this, base, "CMTitle", 360, 61, 265, 56, 0, true);
  CMLength = Static(this, base, "CMLength", 730, 17, 61, 22);

  BTAlart = ImageButton(base, "BTAlart", 842, 13, 118, false);
  BTIndZOM = ImageButton(base, "BTIndZOM", 20, 62, 12, false);
  BTIndVANT = ImageButton(base, "BTIndVANT", 96, 62, 14, false);
  BTIndWav = ImageButton(base, "BTIndWav", 172, 62, 16, false);
  BTPlay = ImageButton(base, "BTPlay", 658, 65, 4, true);
  BTPause = ImageButton(base, "BTPause", 697, 65, 6, true);
  BTStop = ImageButton(base, "BTStop", 733, 65, 2, true);
  BTValume = ImageButton(base, "BTValume", 768, 65, 8, false);
  BTHandle = ImageButton(base, "BTHandle", 791, 69, 9, false);
  BTPosition = ImageButton(base, "BTPosition", 661, 97, 26, false);
  BTPosHandle = ImageButton(base, "BTPosHandle", 661, 103, 27, false);
  BTPosHandle->SetDragCursor(crSizeWE);
  MMLevel2 = LevelMeter(base, "MMLevel2", 879, chLeft);
  MMLevel1 = LevelMeter(base, "MMLevel1", 885, chRight);
  BTOpen = ImageButton(base, "BTOpen", 914, 35, 108, true);
  BTSave = ImageButton(base, "BTSave", 914, 78, 112, true);
  BTImport = ImageButton(base, "BTImport", 914, 170, 120, true);
  BTExport = ImageButton(base, "BTExport", 914, 211, 114, true);
  BTExit = ImageButton(base, "BTExit", 914, 647, 10, true);

  BTValume->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int x, int y,
                                 g32::TCustomLayer*) { BTValumeMouseDown(x, y); };
  BTValume->OnDragOver = [this](TObject*, TObject* src, int x, int y, TDragState, bool& acc) {
    BTValumeDragOver(src, x, y, acc);
  };
  BTHandle->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int,
                                 g32::TCustomLayer*) { BTHandleMouseDown(); };
  BTHandle->OnDragOver = [](TObject*, TObject*, int, int, TDragState, bool& acc) { acc = true; };
  BTPosition->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int x, int y,
                                   g32::TCustomLayer*) { BTPositionMouseDown(x, y); };
  BTPosition->OnDragOver = [this](TObject*, TObject* src, int x, int y, TDragState, bool& acc) {
    BTPositionDragOver(src, x, y, acc);
  };
  BTPosition->OnDragDrop = [this](TObject*, TObject* src, int x, int y) {
    BTPositionDragDrop(src, x, y);
  };
  BTPosHandle->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int,
                                    g32::TCustomLayer*) { BTPosHandleMouseDown(); };
  BTPosHandle->OnDragOver = [](TObject*, TObject*, int, int, TDragState, bool& acc) { acc = true; };
  BTPosHandle->OnDragDrop = [this](TObject*, TObject* src, int x, int y) {
    BTPosHandleDragDrop(src, x, y);
  };

  MainPage = Make<TMMPanel>(this, base, "MainPage", 15, 123, 879, 549);
  SubPage = Make<TMMPanel>(this, base, "SubPage", 15, 123, 879, 549);
  for (TMMPanel* page : {MainPage, SubPage}) {
    page->SetColor(kPageColor);
    page->Bevel().SetBevelOuter(bvLowered);
    page->Bevel().SetBevelOuterWidth(3);
    page->Bevel().SetOuterLightColor(kPageColor);
    page->Bevel().SetOuterShadowColor(kPageColor);
    page->Bevel().SetBevelInner(bvNone);
  }
  SubPage->SetVisible(false);
  BuildMainPage();
  BuildSubPage();
}

void TVANTMainAA::BuildMainPage() {
  TWinControl* p = MainPage;
  Heading(this, p, "CM情報", 16, 8);
  Heading(this, p, "コメント", 16, 178);
  Heading(this, p, "添付ファイル", 488, 178);
  Heading(this, p, "フォーマット", 16, 408);
  Heading(this, p, "CM情報2", 16, 465);
  Divider(this, p, 175);
  Divider(this, p, 405);
  Divider(this, p, 461);
  Caption(this, p, "広告会社：", 94, 22);
  Caption(this, p, "企画 制作社：", 94, 76);
  Caption(this, p, "録音スタジオ：", 94, 128);
  Caption(this, p, "素材略号：", 538, 20);
  Caption(this, p, "共通コード：", 538, 76);
  Caption2(this, p, "企画 制作社内\n素材番号：", 548, 122, 86);
  Caption(this, p, "広告会社", 94, 196);
  Caption(this, p, "企画 制作社", 94, 268);
  Caption(this, p, "録音スタジオ", 94, 282);
  Caption(this, p, "ナレーション原稿", 492, 205);
  Caption(this, p, "連絡表", 658, 204);
  Caption(this, p, "形式：", 94, 426);
  Caption(this, p, "KHｚ", 519, 428);
  Caption(this, p, "素材内CM尺：", 582, 429);
  Caption(this, p, "sec", 742, 429);
  Caption(this, p, "CM制作日：", 94, 480);
  Caption(this, p, "CM有効期限：", 94, 522);
  Caption(this, p, "備考", 326, 482);

  AdCompany = Memo(this, p, "AdCompany", 198, 18, 265, 33, 64, true);
  Production = Memo(this, p, "Production", 198, 70, 265, 33, 64, true);
  RecordingStudio = Memo(this, p, "RecordingStudio", 198, 126, 265, 33, 64, true);
  ItemNumber = Make<TEdit>(this, p, "ItemNumber", 638, 16, 211, 23);
  ItemNumber->SetMaxLength(16);
  ItemNumber->SetImeMode(imClose);
  CommonCode = Make<TEdit>(this, p, "CommonCode", 638, 70, 211, 23);
  CommonCode->SetMaxLength(24);
  CommonCode->SetImeMode(imDisable);
  ProductionCode = Static(this, p, "ProductionCode", 638, 124, 209, 22);
  ADComment = Memo(this, p, "ADComment", 198, 192, 265, 56, 128, false);
  RSComment = Memo(this, p, "RSComment", 198, 264, 265, 56, 128, true);

  // Each list sits in a small panel under its header.
  auto list = [&](const char* panel, const char* name, int left) {
    auto* frame = Make<TMMPanel>(this, p, panel, left, 220, 170, 140);
    frame->Bevel().SetBevelOuter(bvLowered);
    frame->Bevel().SetBevelInner(bvNone);
    auto* header = Make<TStaticText>(this, frame, "", 1, 1, 168, 18);
    header->SetBorderStyle(sbsSingle);
    header->SetAlignment(taCenter);
    header->SetCaption("ファイル名");
    return Make<TListBox>(this, frame, name, 1, 19, 168, 120);
  };
  PDFList = list("PDFPanel", "PDFList", 495);
  CSVList = list("CSVPanel", "CSVList", 677);

  BTDispPDF = ImageButton(p, "BTDispPDF", 557, 367, 110, true);
  BTSavePDF = ImageButton(p, "BTSavePDF", 613, 367, 104, true);
  BTAttachCSV = ImageButton(p, "BTAttachCSV", 681, 367, 100, true);
  BTDispCSV = ImageButton(p, "BTDispCSV", 738, 367, 116, true);
  BTDeleteCSV = ImageButton(p, "BTDeleteCSV", 795, 367, 106, true);

  FileType = Static(this, p, "FileType", 198, 421, 97, 22);
  Channels = Static(this, p, "Channels", 316, 421, 97, 22);
  SamplingFreq = Static(this, p, "SamplingFreq", 422, 421, 97, 22);
  CMActualLength = Static(this, p, "CMActualLength", 676, 421, 63, 22);
  CreationDate = Static(this, p, "CreationDate", 197, 476, 97, 22);
  Limitation = Static(this, p, "Limitation", 196, 518, 97, 22);
  Remarks = Memo(this, p, "Remarks", 404, 478, 265, 55, 256, true);

  for (TWinControl* f : std::initializer_list<TWinControl*>{ItemNumber, CommonCode})
    static_cast<TEdit*>(f)->OnChange = [this](TObject* s) { FieldUpdated(s); };
  for (TMemo* m : {ADComment, Remarks}) m->OnChange = [this](TObject* s) { FieldUpdated(s); };
}

void TVANTMainAA::BuildSubPage() {
  TWinControl* p = SubPage;
  Heading(this, p, "添付ファイル表示アプリケーション選択", 12, 12, 360);
  Caption(this, p, "csvファイル：", 92, 38);
  Caption(this, p, "pdfファイル：", 91, 74);
  CsvApplicationName = Static(this, p, "CsvApplicationName", 202, 33, 393, 22);
  PdfApplicationName = Static(this, p, "PdfApplicationName", 202, 68, 393, 22);
  BTCsvSel = ImageButton(p, "BTCsvSel", 617, 30, 122, true);
  BTPdfSel = ImageButton(p, "BTPdfSel", 617, 64, 124, true);
}
