// The platform layer on Qt Widgets.
#include "ui/platform/platform.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

#include <chrono>
#include <deque>
#include <memory>
#include <utility>

namespace vov::ui {

namespace {

struct SeamState {
  bool scripted = false;
  std::deque<int> messageAnswers;
  std::deque<std::string> inputAnswers;
  std::deque<std::pair<std::string, int>> fileAnswers;
  std::deque<bool> shellAnswers;
  std::vector<ShownDialog> shown;
  std::function<uint32_t()> tickSource;
  std::function<void(const ShownDialog&)> observer;
};

SeamState& seam() {
  static SeamState s;
  return s;
}

void record(const ShownDialog& d) {
  if (!seam().scripted) return;
  seam().shown.push_back(d);
  if (seam().observer) seam().observer(d);
}

QString q(const std::string& s) { return QString::fromStdString(s); }

// "a|*.x;*.y|b|*.z" becomes {"a (*.x *.y)", "b (*.z)"}; the dialog hides the
// parts in brackets, so each entry reads as written.
QStringList qtFilters(const std::string& filter) {
  QStringList parts = q(filter).split('|');
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    entries << parts[i] + " (" + patterns + ")";
  }
  return entries;
}

// A box at least as wide as its title, which the window manager would cut
// to "…" with its own buttons beside it.
void fitTitle(QMessageBox& box, const QString& caption) {
  const QFontMetrics metrics(box.font());
  // Room for the frame's icon and its three buttons.
  const int frame = 4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight) + 32;
  const int width = metrics.horizontalAdvance(caption) + frame;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

// Qt writes the file list's sizes and dates in the system locale, which is
// English where LANG is unset ("0 bytes", "8 Dec 2026"), and its translation
// has no word for a folder's type; the program's own locale is Chinese.
class FileListTexts : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;
  QVariant data(const QModelIndex& index, int role) const override {
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files) return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    switch (index.column()) {
      case 1:
        if (!files->isDir(source)) return QLocale().formattedDataSize(files->size(source));
        break;
      case 2:
        if (files->isDir(source)) return QStringLiteral("文件夹");
        break;
      case 3:
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
    }
    return QIdentityProxyModel::data(index, role);
  }
};

// Qt sizes the detail columns for English texts; Chinese ones
// ("纯文本文档") would be cut to "纯...档".
void fitFileList(QFileDialog& dialog) {
  dialog.setProxyModel(new FileListTexts(&dialog));
  auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!list) return;
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int column = 1; column < header->count(); ++column)
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

int g_cursor = crDefault;

}  // namespace

int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
               unsigned flags) {
  ShownDialog d;
  d.kind = ShownDialog::Kind::MessageBox;
  d.owner = owner;
  d.text = text;
  d.caption = caption;
  d.flags = flags;
  const bool hasCancel = (flags & 0xF) == MB_OKCANCEL;
  record(d);
  if (seam().scripted) {
    int answer = IDOK;
    if (!seam().messageAnswers.empty()) {
      answer = seam().messageAnswers.front();
      seam().messageAnswers.pop_front();
    }
    return hasCancel ? answer : IDOK;
  }
  QMessageBox box(owner);
  box.setWindowTitle(q(caption));
  box.setText(q(text));
  switch (flags & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  QPushButton* cancel = hasCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
  box.setDefaultButton(ok);
  box.setEscapeButton(cancel ? static_cast<QAbstractButton*>(cancel) : ok);
  if (flags & MB_SYSTEMMODAL) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  fitTitle(box, q(caption));
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  return box.clickedButton() == ok || !cancel ? IDOK : IDCANCEL;
}

std::string inputBox(QWidget* owner, const std::string& caption, const std::string& prompt,
                     const std::string& initial) {
  ShownDialog d;
  d.kind = ShownDialog::Kind::InputBox;
  d.owner = owner;
  d.text = prompt;
  d.caption = caption;
  d.initial = initial;
  record(d);
  if (seam().scripted) {
    if (seam().inputAnswers.empty()) return std::string();
    std::string answer = seam().inputAnswers.front();
    seam().inputAnswers.pop_front();
    // The edit line holds at most 255 characters.
    QString t = q(answer);
    if (t.size() > 255) t.truncate(255);
    return t.toStdString();
  }
  QDialog dialog(owner);
  dialog.setWindowTitle(q(caption));
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(q(prompt), &dialog));
  auto* edit = new QLineEdit(q(initial), &dialog);
  edit->setMaxLength(255);
  layout->addWidget(edit);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.setMinimumWidth(360);
  if (dialog.exec() != QDialog::Accepted) return std::string();
  return edit->text().toStdString();
}

bool FileDialog::execute(QWidget* owner) {
  ShownDialog d;
  d.kind = kind_ == Kind::Open ? ShownDialog::Kind::OpenFile : ShownDialog::Kind::SaveFile;
  d.owner = owner;
  d.filter = filter;
  d.defaultExt = defaultExt;
  d.overwritePrompt = overwritePrompt;
  d.initial = fileName;
  d.filterIndex = filterIndex;
  record(d);
  std::string chosen;
  int chosenFilter = filterIndex;
  if (seam().scripted) {
    if (seam().fileAnswers.empty()) return false;
    const auto answer = seam().fileAnswers.front();
    seam().fileAnswers.pop_front();
    chosen = answer.first;
    if (chosen.empty()) return false;
    if (answer.second > 0) chosenFilter = answer.second;
    if (!defaultExt.empty() && QFileInfo(q(chosen)).suffix().isEmpty())
      chosen += "." + defaultExt;
  } else {
    QFileDialog dialog(owner);
    // A desktop's own dialog would follow LANG, which may be unset or English.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    fitFileList(dialog);
    const QStringList filters = qtFilters(filter);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(filters);
    if (filterIndex >= 1 && filterIndex <= filters.size())
      dialog.selectNameFilter(filters[filterIndex - 1]);
    dialog.setAcceptMode(kind_ == Kind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !overwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!defaultExt.empty()) dialog.setDefaultSuffix(q(defaultExt));
    if (!fileName.empty()) dialog.selectFile(q(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    chosen = dialog.selectedFiles().first().toStdString();
    // With the details hidden the dialog names the entry by its shown text.
    const QString selected = dialog.selectedNameFilter();
    for (int i = 0; i < filters.size(); ++i)
      if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" (")))
        chosenFilter = i + 1;
  }
  fileName = chosen;
  filterIndex = chosenFilter;
  return true;
}

void setScreenCursor(int cursor) {
  if (cursor == g_cursor) return;
  const bool wasBusy = g_cursor == crHourGlass;
  g_cursor = cursor;
  if (!qApp) return;
  if (cursor == crHourGlass && !wasBusy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (wasBusy && cursor != crHourGlass) {
    while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  }
}

int screenCursor() { return g_cursor; }

uint32_t tickCount() {
  if (seam().tickSource) return seam().tickSource();
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

void shellOpen(QWidget* owner, const std::string& path, std::function<void()> unopened) {
  ShownDialog d;
  d.kind = ShownDialog::Kind::ShellOpen;
  d.owner = owner;
  d.text = path;
  record(d);
  if (seam().scripted) {
    bool opened = true;
    if (!seam().shellAnswers.empty()) {
      opened = seam().shellAnswers.front();
      seam().shellAnswers.pop_front();
    }
    if (!opened && unopened) unopened();
    return;
  }
  // xdg-open tells by its exit code whether a program took the file; where
  // it runs the viewer itself, it ends with the viewer. It is not stopped
  // when this program ends, so it has no parent.
  auto* opener = new QProcess();
  opener->setProcessChannelMode(QProcess::ForwardedChannels);
  auto failed = std::make_shared<bool>(false);
  auto fail = [opener, failed, unopened] {
    if (*failed) return;
    *failed = true;
    if (unopened) unopened();
    opener->deleteLater();
  };
  QObject::connect(opener, &QProcess::errorOccurred, [fail](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) fail();
  });
  QObject::connect(opener, &QProcess::finished, [opener, fail](int code, QProcess::ExitStatus st) {
    if (code != 0 || st != QProcess::NormalExit) fail();
    else opener->deleteLater();
  });
  opener->start(QStringLiteral("xdg-open"), {q(path)});
}

void DialogSeam::script() { seam().scripted = true; }
bool DialogSeam::scripted() { return seam().scripted; }
void DialogSeam::unscript() { seam().scripted = false; }
void DialogSeam::answerMessageBox(int answer) { seam().messageAnswers.push_back(answer); }
void DialogSeam::answerInput(const std::string& text) { seam().inputAnswers.push_back(text); }
void DialogSeam::answerFile(const std::string& path) { seam().fileAnswers.push_back({path, 0}); }
void DialogSeam::answerFile(const std::string& path, int filterIndex) {
  seam().fileAnswers.push_back({path, filterIndex});
}
void DialogSeam::answerShellOpen(bool opened) { seam().shellAnswers.push_back(opened); }
const std::vector<ShownDialog>& DialogSeam::shown() { return seam().shown; }

void DialogSeam::clear() {
  seam().shown.clear();
  seam().messageAnswers.clear();
  seam().inputAnswers.clear();
  seam().fileAnswers.clear();
  seam().shellAnswers.clear();
}

void DialogSeam::setTickSource(std::function<uint32_t()> source) {
  seam().tickSource = std::move(source);
}

void DialogSeam::setObserver(std::function<void(const ShownDialog&)> observer) {
  seam().observer = std::move(observer);
}

}  // namespace vov::ui
