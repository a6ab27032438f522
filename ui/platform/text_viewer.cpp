// The read-only text window.
#include "ui/platform/text_viewer.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QWidget>

namespace vov::ui {

QWidget* showTextFile(QWidget* owner, const std::string& path, const std::string& title) {
  const QString name = QStringLiteral("textViewer:") + QString::fromStdString(path);
  auto* window = owner ? owner->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly) : nullptr;
  QPlainTextEdit* text = window ? window->findChild<QPlainTextEdit*>() : nullptr;
  if (!window || !text) {
    // A window of its own beside the owner, not held in front of it.
    window = new QWidget(owner, Qt::Window);
    window->setObjectName(name);
    window->setWindowTitle(QString::fromStdString(title));
    window->resize(640, 520);
    text = new QPlainTextEdit(window);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
  }
  QFile file(QString::fromStdString(path));
  const QString content = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                                         : QString();
  text->setPlainText(content);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace vov::ui
