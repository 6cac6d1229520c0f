// The shipped help page in the program's own help window (a desktop without a web
// browser) and the texts of the menus as Qt shows them.
#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_window.h"
#include "resources/command_ids.h"
#include "resources/menus.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::ProcessQtEvents;

std::string ShippedHelpPage() {
  return std::string(TARMIC_TEST_DATA_DIR) + "/../../resources/help/tarmic-help.html";
}

void CollectCommands(const std::vector<MenuItem>& items, std::set<int>* ids) {
  for (const MenuItem& item : items) {
    if (item.popup) {
      CollectCommands(item.children, ids);
    } else if (item.id != 0) {
      ids->insert(item.id);
    }
  }
}

// The document position of the text that carries the named anchor, or -1.
int AnchorPosition(const QTextDocument& doc, const QString& name) {
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto f = b.begin(); !f.atEnd(); ++f) {
      const QTextCharFormat format = f.fragment().charFormat();
      if (format.isAnchor() && format.anchorNames().contains(name)) return f.fragment().position();
    }
  return -1;
}

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gui_test::TestApplication();
    backend_ = std::make_unique<QtBackend>(400, 300);
  }
  void TearDown() override {
    backend_.reset();
    ProcessQtEvents();
  }
  static QTextBrowser* HelpWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) return b;
    return nullptr;
  }
  // Whether the text at the anchor lies inside the window's view.
  static bool AnchorInView(QTextBrowser& browser, const QString& name) {
    const int at = AnchorPosition(*browser.document(), name);
    if (at < 0) return false;
    QTextCursor cursor(browser.document());
    cursor.setPosition(at);
    const QRect r = browser.cursorRect(cursor);
    return r.top() >= 0 && r.bottom() <= browser.viewport()->height();
  }
  std::unique_ptr<QtBackend> backend_;
};

// Help on any command of the menus and keys opens the help window at the command's
// entry, a table row of the shipped page; the page's own links lead to their
// targets. Row ids were dropped by the viewer, which stayed at the top of the page.
TEST_F(HelpWindowTest, EveryCommandEntryOfTheShippedPageIsShownAndLinked) {
  std::set<int> commands;
  CollectCommands(GetMenuResource(kMenuVirez).items, &commands);
  CollectCommands(GetMenuResource(kMenuFull).items, &commands);
  for (const Accelerator& a : GetAcceleratorTable(kAcceleratorTableId).entries)
    commands.insert(a.command);
  ASSERT_GT(commands.size(), 200u);

  // The offscreen platform has no desktop services: the question names the window.
  if (QGuiApplication::platformName() == QLatin1String("offscreen"))
    EXPECT_FALSE(backend_->CanOpenWebPages());

  const std::string page = ShippedHelpPage();
  int away = 0;  // entries shown with the top of the page out of view
  for (int id : commands) {
    const QString name = QStringLiteral("cmd-%1").arg(id);
    ASSERT_TRUE(backend_->ShowHelpWindow(page, name.toStdString()));
    ProcessQtEvents();
    QTextBrowser* browser = HelpWindow();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(AnchorInView(*browser, name)) << name.toStdString();
    away += browser->verticalScrollBar()->value() > 0;
  }
  EXPECT_EQ(away, static_cast<int>(commands.size()));

  // Every link inside the page leads to a target the window scrolls to (a click on
  // a link within the page scrolls to its anchor).
  std::ifstream in(page);
  std::stringstream text;
  text << in.rdbuf();
  const QString html = QString::fromStdString(text.str());
  QTextBrowser* browser = HelpWindow();
  ASSERT_NE(browser, nullptr);
  int links = 0;
  static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
  for (auto it = link.globalMatch(html); it.hasNext(); ++links) {
    const QString target = it.next().captured(1);
    browser->verticalScrollBar()->setValue(0);
    browser->scrollToAnchor(target);
    ProcessQtEvents();
    EXPECT_TRUE(AnchorInView(*browser, target)) << target.toStdString();
  }
  EXPECT_GT(links, 20);
}

// The text a user reads in a menu: the resource's text without the "&" that marks
// the item's letter ("&&" is one "&"), and Alt with that letter as the item's key.
QString IntendedText(const std::string& resource, QChar* letter) {
  QString shown;
  *letter = QChar();
  const QString t = QString::fromStdString(resource);
  for (qsizetype i = 0; i < t.size(); ++i) {
    if (t[i] == u'&' && i + 1 < t.size()) {
      if (t[i + 1] == u'&') {
        shown += u'&';
        ++i;
        continue;
      }
      if (t[i + 1].isLetterOrNumber() && letter->isNull()) {
        *letter = t[i + 1].toUpper();
        continue;
      }
    }
    shown += t[i];
  }
  return shown;
}

// What Qt shows of an action's text: "&&" as "&", a single "&" not at all (it
// underlines the next character); the part after a tab is the key column.
QString ShownByQt(const QString& text) {
  QString shown;
  const QString label = text.section(u'\t', 0, 0);
  for (qsizetype i = 0; i < label.size(); ++i) {
    if (label[i] == u'&' && i + 1 < label.size()) ++i;
    shown += label[i];
  }
  return shown;
}

void CompareItems(const std::vector<MenuItem>& items, const QList<QAction*>& actions, int* compared) {
  ASSERT_EQ(static_cast<std::size_t>(actions.size()), items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    const MenuItem& item = items[k];
    QAction* action = actions[static_cast<qsizetype>(k)];
    if (item.separator) continue;
    QChar letter;
    const QString intended = IntendedText(item.text, &letter);
    EXPECT_EQ(ShownByQt(action->text()).toStdString(), intended.toStdString()) << item.text;
    const QKeySequence key = QKeySequence::mnemonic(action->text().section(u'\t', 0, 0));
    EXPECT_EQ(key, letter.isNull() ? QKeySequence() : QKeySequence(Qt::ALT | letter.unicode()))
        << item.text;
    ++*compared;
    if (item.popup) {
      ASSERT_NE(action->menu(), nullptr) << item.text;
      CompareItems(item.children, action->menu()->actions(), compared);
    }
  }
}

// Every item of both menus shows the text it was written with: an "&" that marks
// no letter is shown as "&" ("meniscus & bottom" read "meniscus _bottom", the
// space taken as the item's letter).
TEST_F(HelpWindowTest, MenuItemsShowTheTextTheyWereWrittenWith) {
  QtWindow& window = backend_->QtMainWindow();
  for (std::string_view menu : {kMenuVirez, kMenuFull}) {
    window.AttachMenu(GetMenuResource(menu));
    int compared = 0;
    CompareItems(GetMenuResource(menu).items, window.Menu().Bar()->actions(), &compared);
    EXPECT_GT(compared, 50) << menu;
  }
  window.AttachMenu(GetMenuResource(kMenuFull));
  const QAction* limits = window.Menu().Action(kCmSetFitLimits);
  ASSERT_NE(limits, nullptr);
  EXPECT_EQ(ShownByQt(limits->text()), QString("Set fit limits for meniscus & bottom"));
  EXPECT_TRUE(QKeySequence::mnemonic(limits->text()).isEmpty());
}

}  // namespace
}  // namespace tarmic
