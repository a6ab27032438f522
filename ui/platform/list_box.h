// A list box with the behaviour the windows are written against: at most
// one selected entry, index -1 for none, no selection after the selected
// entry is deleted or the list is refilled, case-insensitive first-match
// look-up, and an index error when a missing selection is read.
#ifndef VOVARIZE_UI_PLATFORM_LIST_BOX_H
#define VOVARIZE_UI_PLATFORM_LIST_BOX_H

#include <QListWidget>

#include <string>
#include <vector>

namespace vov::ui {

class ListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit ListBox(QWidget* parent = nullptr);

  int count() const { return QListWidget::count(); }
  // The selected entry's position, or -1.
  int itemIndex() const;
  void setItemIndex(int index);  // -1 clears the selection

  // Entry `index`; raises ListIndexError when there is none.
  std::string item(int index) const;
  // The selected entry; raises "List index out of bounds (-1)" without one.
  std::string selectedItem() const { return item(itemIndex()); }
  std::vector<std::string> items() const;

  void add(const std::string& text);
  void deleteItem(int index);
  void clearItems();
  void setItems(const std::vector<std::string>& texts);
  // First entry equal to `text` ignoring letter case, or -1.
  int indexOf(const std::string& text) const;

  // The scroll width a program set, in pixels (0 until set). The view also
  // scrolls to its widest entry on its own.
  int horizontalExtent() const { return extent_; }
  void setHorizontalExtent(int pixels);

  // Selects entry `index` and reports it as the user's pick.
  void pick(int index);

 signals:
  // The user picked an entry with the mouse or the keyboard, also the one
  // already selected.
  void picked();

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  int extent_ = 0;
};

}  // namespace vov::ui

#endif
