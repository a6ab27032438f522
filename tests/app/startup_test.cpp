// Start-up order and the application-wide error display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

#include "app/error_display.h"
#include "app/startup.h"
#include "data/data_module.h"
#include "data/error.h"
#include "ui/main_window/form1.h"
#include "ui/mapping_window/form3.h"
#include "ui/platform/dispatch.h"
#include "ui/platform/platform.h"
#include "tests/support/gui_support.h"
#include "tests/support/test_support.h"

using namespace vov;
using ui::DialogSeam;

namespace {

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureGuiApp();
    DialogSeam::clear();
    createMainObjects(&trace);
  }
  void TearDown() override {
    destroyMainObjects();
    ui::setScreenCursor(ui::crDefault);
  }

  // Clicks a button whose handler throws `error` and returns the box shown.
  ui::ShownDialog clickThrowing(QWidget* window, std::function<void()> thrower) {
    auto* button = new QPushButton(window);
    QObject::connect(button, &QPushButton::clicked, window, ui::guarded([thrower] {
                       ui::setScreenCursor(ui::crHourGlass);
                       thrower();
                     }));
    DialogSeam::clear();
    button->click();
    EXPECT_EQ(ui::screenCursor(), ui::crDefault);
    EXPECT_EQ(DialogSeam::shown().size(), 1u);
    return DialogSeam::shown().empty() ? ui::ShownDialog() : DialogSeam::shown().back();
  }

  std::vector<std::string> trace;
};

}  // namespace

TEST_F(Startup, CreatesTheThreeObjectsInOrderWithTheMappingWindowHidden) {
  EXPECT_EQ(trace, (std::vector<std::string>{"Form1", "DataModule2", "Form3"}));
  ASSERT_NE(ui::Form1, nullptr);
  ASSERT_NE(DataModule2, nullptr);
  ASSERT_NE(ui::Form3, nullptr);
  EXPECT_FALSE(ui::Form3->isVisible());
  EXPECT_TRUE(ui::Form3->isWindow()) << "a top-level window of its own";
  EXPECT_EQ(ui::Form3->parentWidget(), nullptr);
  EXPECT_TRUE(ui::Form1->windowTitle().startsWith("Vovarize "));
  EXPECT_FALSE(DataModule2->ADOConnection1new.connected());
  EXPECT_FALSE(DataModule2->ADOConnection2old.connected());
}

TEST_F(Startup, ErrorsOfEitherWindowReachTheErrorBox) {
  for (QWidget* w : {static_cast<QWidget*>(ui::Form1), static_cast<QWidget*>(ui::Form3)}) {
    ui::ShownDialog d = clickThrowing(w, [] { throw Error("Table 'x' not found"); });
    EXPECT_EQ(d.kind, ui::ShownDialog::Kind::MessageBox);
    EXPECT_EQ(d.text, "Table 'x' not found.");
    EXPECT_EQ(d.caption, "Vovarize");
    EXPECT_EQ(d.flags, ui::MB_OK | ui::MB_ICONERROR);
  }
}

TEST_F(Startup, FullStopRule) {
  EXPECT_EQ(clickThrowing(ui::Form1, [] { throw Error("已经完成."); }).text, "已经完成.");
  EXPECT_EQ(clickThrowing(ui::Form1, [] { throw Error("找不到文件"); }).text, "找不到文件.");
  EXPECT_EQ(clickThrowing(ui::Form1, [] { throw Error(""); }).text, "");
  EXPECT_EQ(clickThrowing(ui::Form1, [] { throw ListIndexError(-1); }).text,
            "List index out of bounds (-1)");
  EXPECT_EQ(errorBoxText("stop!"), "stop!");
  EXPECT_EQ(errorBoxText("a,"), "a,");
  EXPECT_EQ(errorBoxText("a-"), "a-");
  EXPECT_EQ(errorBoxText("a "), "a ");
  EXPECT_EQ(errorBoxText("value:"), "value:.");
  EXPECT_EQ(errorBoxText("row 7"), "row 7.");
  EXPECT_EQ(errorBoxText("Umsätze"), "Umsätze.");
}

TEST_F(Startup, SilentAbortShowsNothingAndKeepsTheCursor) {
  auto* button = new QPushButton(ui::Form1);
  QObject::connect(button, &QPushButton::clicked, ui::Form1, ui::guarded([] {
                     ui::setScreenCursor(ui::crHourGlass);
                     throw Abort();
                   }));
  DialogSeam::clear();
  button->click();
  EXPECT_TRUE(DialogSeam::shown().empty());
  EXPECT_EQ(ui::screenCursor(), ui::crHourGlass);
}

TEST_F(Startup, ProgramGoesOnAfterTheBox) {
  int runs = 0;
  auto* button = new QPushButton(ui::Form3);
  QObject::connect(button, &QPushButton::clicked, ui::Form3, ui::guarded([&runs] {
                     ++runs;
                     throw Error("boom");
                   }));
  button->click();
  button->click();
  EXPECT_EQ(runs, 2);
}

TEST_F(Startup, ClosingTheMappingWindowOnlyHidesIt) {
  ui::Form3->show();
  ui::Form3->close();
  EXPECT_FALSE(ui::Form3->isVisible());
  EXPECT_NE(ui::Form3, nullptr);
}

// Qt's own texts come in Chinese: from the program's data folder when it is
// installed, else from where Qt keeps them.
TEST(QtTranslation, InstalledCopyFirstThenQtsOwn) {
  test::ensureGuiApp();
  const QString qts = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  ASSERT_TRUE(QFile::exists(qts + "/qtbase_zh_CN.qm")) << "qt6-translations-l10n is not installed";
  test::TempDir prefix;
  QDir(QString::fromStdString(prefix.path())).mkpath("bin");
  const QString bin = QString::fromStdString(prefix.file("bin"));
  EXPECT_EQ(installQtTranslation(bin), qts);

  const QString ours = QString::fromStdString(prefix.file("share/vovarize/translations"));
  QDir().mkpath(ours);
  ASSERT_TRUE(QFile::copy(qts + "/qtbase_zh_CN.qm", ours + "/qtbase_zh_CN.qm"));
  EXPECT_EQ(installQtTranslation(bin), ours);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
  QMessageBox box;
  box.addButton(QMessageBox::Ok);
  box.addButton(QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
  EXPECT_EQ(QLocale().language(), QLocale::Chinese);

  // Loaded again, it replaces itself rather than piling up.
  EXPECT_EQ(installQtTranslation(), qts);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}
