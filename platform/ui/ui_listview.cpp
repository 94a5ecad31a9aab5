#include "ui_listview.h"

#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QTreeWidget>

#include "ui_qt.h"

namespace vant {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }

QTreeWidget* Tree(QWidget* host) { return static_cast<QTreeWidget*>(host); }

Qt::Alignment AlignmentOf(TAlignment a) {
  return (a == taRightJustify ? Qt::AlignRight : a == taCenter ? Qt::AlignHCenter : Qt::AlignLeft) |
         Qt::AlignVCenter;
}

}  // namespace

TListView::TListView(TComponent* owner) : TWinControl(owner) {
  auto* t = new HostWidget<QTreeWidget>(this);
  t->setRootIsDecorated(false);
  t->setUniformRowHeights(true);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  QObject::connect(t, &QTreeWidget::itemSelectionChanged,
                   [this] { Guarded([this] { HandleSelection(); }); });
  QObject::connect(t, &QTreeWidget::itemChanged, [this, t](QTreeWidgetItem* item, int column) {
    if (setting_ || column != 0) return;
    const int row = t->indexOfTopLevelItem(item);
    const std::string text = item->text(0).toStdString();
    Guarded([&] { HandleEdited(row, text); });
  });
  SetHost(t);
  SetControlStyle(ControlStyle() & ~unsigned(csClickEvents));
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 250, 150);
}

void TListView::SetColumns(const std::vector<TListColumn>& columns) {
  columns_ = columns;
  auto* t = Tree(host_);
  t->setColumnCount(int(columns.size()));
  QStringList captions;
  for (const auto& c : columns) captions << Q(c.caption);
  t->setHeaderLabels(captions);
  for (int i = 0; i < int(columns.size()); ++i) {
    t->setColumnWidth(i, columns[size_t(i)].width);
    t->headerItem()->setTextAlignment(i, AlignmentOf(columns[size_t(i)].alignment));
  }
  Rebuild();
}

void TListView::SetSmallImage(const TBitmap& picture, TColor transparent) {
  image_.Assign(&picture);
  transparent_ = transparent;
  Rebuild();
}

void TListView::SetReadOnly(bool v) {
  read_only_ = v;
  Tree(host_)->setEditTriggers(v ? QAbstractItemView::NoEditTriggers
                                 : QAbstractItemView::EditKeyPressed |
                                       QAbstractItemView::SelectedClicked);
  Rebuild();
}

void TListView::Clear() {
  items_.clear();
  Rebuild();
}

void TListView::AddItem(const TListItem& item) {
  items_.push_back(item);
  Rebuild();
}

int TListView::GetSelected() const { return selected_; }

void TListView::SetSelected(int i) {
  auto* t = Tree(host_);
  setting_ = true;
  if (i >= 0 && i < Count()) {
    t->setCurrentItem(t->topLevelItem(i));
  } else {
    t->clearSelection();
    t->setCurrentItem(nullptr);
  }
  setting_ = false;
  HandleSelection();
}

void TListView::EditCaption(int i) {
  if (read_only_ || i < 0 || i >= Count()) return;
  auto* t = Tree(host_);
  t->editItem(t->topLevelItem(i), 0);
}

void TListView::Rebuild() {
  auto* t = Tree(host_);
  const int keep = selected_;
  setting_ = true;
  t->clear();
  QIcon icon;
  if (!image_.Empty()) {
    QImage picture = image_.Image().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = qRgb(GetRValue(transparent_), GetGValue(transparent_), GetBValue(transparent_));
    for (int y = 0; y < picture.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x)
        if ((row[x] & 0xFFFFFF) == (key & 0xFFFFFF)) row[x] = 0;
    }
    icon = QIcon(QPixmap::fromImage(picture));
  }
  for (const auto& item : items_) {
    auto* row = new QTreeWidgetItem(t);
    row->setText(0, Q(item.caption));
    if (!icon.isNull()) row->setIcon(0, icon);
    for (size_t c = 0; c < item.sub_items.size(); ++c) {
      row->setText(int(c + 1), Q(item.sub_items[c]));
      if (c + 1 < columns_.size()) row->setTextAlignment(int(c + 1), AlignmentOf(columns_[c + 1].alignment));
    }
    if (!read_only_) row->setFlags(row->flags() | Qt::ItemIsEditable);
  }
  if (keep >= 0 && keep < Count()) t->setCurrentItem(t->topLevelItem(keep));
  setting_ = false;
  HandleSelection();
}

void TListView::HandleSelection() {
  if (setting_) return;
  auto* t = Tree(host_);
  const auto chosen = t->selectedItems();
  const int now = chosen.isEmpty() ? -1 : t->indexOfTopLevelItem(chosen.front());
  if (now == selected_) return;
  const int before = selected_;
  selected_ = now;
  if (!OnSelectItem) return;
  if (before >= 0) OnSelectItem(this, before, false);
  if (now >= 0) OnSelectItem(this, now, true);
}

void TListView::HandleEdited(int item, std::string text) {
  if (item < 0 || item >= Count()) return;
  // The row keeps what the user typed, whatever the handler does with it.
  items_[size_t(item)].caption = text;
  if (OnEdited) OnEdited(this, item, text);
}

}  // namespace vant
