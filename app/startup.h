// Start-up and shut-down of the GUI program.
#ifndef VOVARIZE_APP_STARTUP_H
#define VOVARIZE_APP_STARTUP_H

#include <QString>

#include <string>
#include <vector>

namespace vov {

// Creates, in this order, the main window, the shared data module and the
// hidden mapping window, and records the order in `trace` when given.
void createMainObjects(std::vector<std::string>* trace = nullptr);
// Destroys them: the windows, then the data module (closing both connections).
void destroyMainObjects();

// Loads Qt's own Simplified Chinese texts (standard buttons, file dialogs)
// in place of any loaded before, and makes Chinese the default locale.
// Looks in the program's data folder (<programFolder>/../share/vovarize/
// translations, as installed), then where Qt keeps its translations.
// Returns the folder it loaded from, empty when neither has the file.
QString installQtTranslation(const QString& programFolder = QString());

// The whole program: start-up, the message loop until the main window
// closes, shut-down. Returns the exit code.
int runApplication(int argc, char** argv);

}  // namespace vov

#endif
