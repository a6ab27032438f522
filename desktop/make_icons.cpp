// Writes the program's icon as PNG files for the icon theme:
//   make_icons <folder>   writes <folder>/<n>x<n>/apps/vovarize.png
#include <QDir>
#include <QString>

#include <cstdio>

#include "ui/platform/program_icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons <folder>\n");
    return 2;
  }
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder =
        QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1x%1/apps").arg(size);
    if (!QDir().mkpath(folder) ||
        !vov::ui::drawProgramIcon(size).save(folder + QStringLiteral("/vovarize.png"))) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(folder));
      return 1;
    }
  }
  return 0;
}
