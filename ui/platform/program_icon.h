// The program's icon: an old table, a new table and the arrow between them.
// The same drawing as desktop/vovarize.svg, for the windows and for the
// PNG sizes the desktop's icon theme installs.
#ifndef VOVARIZE_UI_PLATFORM_PROGRAM_ICON_H
#define VOVARIZE_UI_PLATFORM_PROGRAM_ICON_H

#include <QImage>

namespace vov::ui {

// The icon `size` pixels square, on a transparent background.
QImage drawProgramIcon(int size);

}  // namespace vov::ui

#endif
