// A plain read-only window for a text file, for when the desktop has no
// viewer that takes it.
#ifndef VOVARIZE_UI_PLATFORM_TEXT_VIEWER_H
#define VOVARIZE_UI_PLATFORM_TEXT_VIEWER_H

#include <string>

class QWidget;

namespace vov::ui {

// Shows the UTF-8 text of `path` in a window titled `title`, one window per
// file: asked again, it reads the file again and comes to the front.
// Returns the window, owned by `owner`.
QWidget* showTextFile(QWidget* owner, const std::string& path, const std::string& title);

}  // namespace vov::ui

#endif
