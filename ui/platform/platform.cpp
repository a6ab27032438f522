// The platform layer on Qt Widgets.
#include "ui/platform/platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>
#include <deque>

namespace vov::ui {

namespace {

struct SeamState {
  bool scripted = false;
  std::deque<int> messageAnswers;
  std::deque<std::string> inputAnswers;
  std::deque<std::string> fileAnswers;
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

// "a|*.x;*.y|b|*.z" becomes "a (*.x *.y);;b (*.z)".
QString qtFilter(const std::string& filter) {
  QStringList parts = q(filter).split('|');
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    entries << parts[i] + " (" + patterns + ")";
  }
  return entries.join(";;");
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
  record(d);
  std::string chosen;
  if (seam().scripted) {
    if (seam().fileAnswers.empty()) return false;
    chosen = seam().fileAnswers.front();
    seam().fileAnswers.pop_front();
    if (chosen.empty()) return false;
    if (!defaultExt.empty() && QFileInfo(q(chosen)).suffix().isEmpty())
      chosen += "." + defaultExt;
  } else {
    QFileDialog dialog(owner);
    dialog.setNameFilter(qtFilter(filter));
    dialog.setAcceptMode(kind_ == Kind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !overwritePrompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!defaultExt.empty()) dialog.setDefaultSuffix(q(defaultExt));
    if (!fileName.empty()) dialog.selectFile(q(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    chosen = dialog.selectedFiles().first().toStdString();
  }
  fileName = chosen;
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

void shellOpen(QWidget* owner, const std::string& path) {
  ShownDialog d;
  d.kind = ShownDialog::Kind::ShellOpen;
  d.owner = owner;
  d.text = path;
  record(d);
  if (seam().scripted) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(q(path)));
}

void DialogSeam::script() { seam().scripted = true; }
bool DialogSeam::scripted() { return seam().scripted; }
void DialogSeam::answerMessageBox(int answer) { seam().messageAnswers.push_back(answer); }
void DialogSeam::answerInput(const std::string& text) { seam().inputAnswers.push_back(text); }
void DialogSeam::answerFile(const std::string& path) { seam().fileAnswers.push_back(path); }
const std::vector<ShownDialog>& DialogSeam::shown() { return seam().shown; }

void DialogSeam::clear() {
  seam().shown.clear();
  seam().messageAnswers.clear();
  seam().inputAnswers.clear();
  seam().fileAnswers.clear();
}

void DialogSeam::setTickSource(std::function<uint32_t()> source) {
  seam().tickSource = std::move(source);
}

void DialogSeam::setObserver(std::function<void(const ShownDialog&)> observer) {
  seam().observer = std::move(observer);
}

}  // namespace vov::ui
