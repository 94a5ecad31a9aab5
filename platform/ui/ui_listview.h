#pragma once
// TListView: the framework's report list (columns with captions, widths and alignment; rows of a
// caption and sub-items, each with the small picture; the caption editable in place).
#include <string>
#include <vector>

#include "ui_canvas.h"
#include "ui_control.h"

namespace vant {

struct TListColumn {
  std::string caption;
  int width = 50;
  TAlignment alignment = taLeftJustify;
};

struct TListItem {
  std::string caption;
  std::vector<std::string> sub_items;
};

class TListView : public TWinControl {
 public:
  explicit TListView(TComponent* owner);
  std::string ClassName() const override { return "TListView"; }

  void SetColumns(const std::vector<TListColumn>& columns);
  // Each row shows this picture before its caption; pixels of `transparent` are left out.
  void SetSmallImage(const TBitmap& picture, TColor transparent);
  void SetReadOnly(bool v);
  bool GetReadOnly() const { return read_only_; }

  // Rows: replacing them keeps the selected row when it still exists.
  void Clear();
  void AddItem(const TListItem& item);
  int Count() const { return static_cast<int>(items_.size()); }
  const TListItem& Item(int i) const { return items_[static_cast<size_t>(i)]; }
  int GetSelected() const;
  void SetSelected(int i);
  // Starts editing the caption of row `i` in place (as F2 or a slow second click does).
  void EditCaption(int i);

  // A row was selected (true) or the selection left it (false).
  std::function<void(TObject*, int item, bool selected)> OnSelectItem;
  // In-place editing of row `item` ended with `text`; the handler may change `text`. The row
  // keeps the text the handler leaves, also when the handler raises.
  std::function<void(TObject*, int item, std::string& text)> OnEdited;

  // Called by the host widget.
  void HandleSelection();
  void HandleEdited(int item, std::string text);

 private:
  void Rebuild();
  std::vector<TListItem> items_;
  std::vector<TListColumn> columns_;
  TBitmap image_;
  TColor transparent_ = clWhite;
  bool read_only_ = false;
  bool setting_ = false;
  int selected_ = -1;
};

}  // namespace vant
