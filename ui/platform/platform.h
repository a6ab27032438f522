// The small platform layer that stands in for the desktop services the
// program was designed around: message boxes, the input box, file dialogs,
// the screen cursor, the tick counter and the shell's "open".
//
// Every dialog goes through one seam (DialogSeam): in scripted mode no real
// dialog is shown; each call takes the next queued answer and records what
// would have been shown, so tests never wait on a modal window.
#ifndef VOVARIZE_UI_PLATFORM_PLATFORM_H
#define VOVARIZE_UI_PLATFORM_PLATFORM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace vov::ui {

// Message box flags and answers, with their customary values.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ICONERROR = 0x10,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
  MB_SYSTEMMODAL = 0x1000,
};
enum : int { IDOK = 1, IDCANCEL = 2 };

// Shows a modal message box; returns IDOK or IDCANCEL (Esc and the close
// button answer IDCANCEL when there is a Cancel button, IDOK otherwise).
int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
               unsigned flags);

// A modal box with one edit line (at most 255 characters), OK and Cancel.
// Returns the text on OK and the empty text on Cancel.
std::string inputBox(QWidget* owner, const std::string& caption, const std::string& prompt,
                     const std::string& initial = std::string());

// An open or save file dialog component. The filter is written as
// "display|pattern[|display|pattern...]", patterns separated by ";"; the
// dialog shows each display text as written.
class FileDialog {
 public:
  enum class Kind { Open, Save };
  explicit FileDialog(Kind kind) : kind_(kind) {}

  Kind kind() const { return kind_; }
  std::string filter;
  std::string defaultExt;       // added to a chosen name without extension
  bool overwritePrompt = false; // ask before replacing an existing file
  bool fileMustExist = false;
  std::string fileName;         // the last chosen file, offered again
  int filterIndex = 1;          // the filter entry chosen last (from 1), offered again

  // Shows the dialog; true when the user chose a file (now in fileName).
  bool execute(QWidget* owner);

 private:
  Kind kind_;
};

// The screen cursor: one setting for all windows.
constexpr int crDefault = 0;
constexpr int crHourGlass = -11;
void setScreenCursor(int cursor);
int screenCursor();

// Milliseconds since some fixed moment, wrapping at 2^32.
uint32_t tickCount();

// Asks the desktop to open a file with its default program. When no program
// takes it (no opener, or the opener reports failure), `unopened` runs,
// possibly later, once the opener has ended.
void shellOpen(QWidget* owner, const std::string& path, std::function<void()> unopened = {});

// --------------------------------------------------------------- the seam

struct ShownDialog {
  enum class Kind { MessageBox, InputBox, OpenFile, SaveFile, ShellOpen };
  Kind kind = Kind::MessageBox;
  QWidget* owner = nullptr;
  std::string text;     // message, input prompt, or file path opened
  std::string caption;
  unsigned flags = 0;
  std::string filter;   // file dialogs
  std::string defaultExt;
  bool overwritePrompt = false;
  std::string initial;  // input box start text, or the dialog's file name
  int filterIndex = 0;  // file dialogs: the entry they start on
};

class DialogSeam {
 public:
  // From now on no real dialog is shown. A message box without a queued
  // answer answers IDOK; an input box or file dialog without one cancels.
  static void script();
  static bool scripted();
  // Real dialogs again, for tests that drive them with timers.
  static void unscript();

  static void answerMessageBox(int answer);
  static void answerInput(const std::string& text);  // "" is Cancel
  static void answerFile(const std::string& path);   // "" is Cancel
  // A chosen file and the filter entry (from 1) the user chose it under.
  static void answerFile(const std::string& path, int filterIndex);
  // Whether the next shell open finds a program (true when not queued).
  static void answerShellOpen(bool opened);

  static const std::vector<ShownDialog>& shown();
  static void clear();  // forgets what was shown and every queued answer

  // Replaces the tick counter (nullptr restores the real one).
  static void setTickSource(std::function<uint32_t()> source);

  // Called with each record as it is made, before the answer is taken.
  static void setObserver(std::function<void(const ShownDialog&)> observer);
};

}  // namespace vov::ui

#endif
