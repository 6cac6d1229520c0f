// Every dialog template of the program, opened in Qt and worked by keys alone: the
// first edit field, reached by Tab from the control that has the focus as the dialog
// opens, is replaced by what is typed (not added to); Ctrl+C there copies the whole
// value the program gave it, not only the digits it shows. The one-line input box
// too.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <string>

#include "platform/backend.h"
#include "platform/qt/qt_dialogs.h"
#include "resources/dialogs.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::WhenModalOpens;

// The template index of the first edit field, -1 when it has none.
int FirstEdit(const DialogTemplate& t) {
  for (std::size_t i = 0; i < t.controls.size(); ++i)
    if (t.controls[i].kind == ControlKind::Edit) return static_cast<int>(i);
  return -1;
}

TEST(DialogKeyboardQt, TypingReplacesTheFirstEditOfEveryTemplateAndCopyTakesTheWholeValue) {
  gui_test::TestApplication();
  int walked = 0;
  for (const std::string& name : DialogTemplateNames()) {
    SCOPED_TRACE(name);
    const DialogTemplate& t = GetDialogTemplate(name);
    const int first = FirstEdit(t);
    if (first < 0) continue;
    const int id = t.controls[static_cast<std::size_t>(first)].id;
    // Every edit opens with a value shown with fewer digits than it has.
    TransferBuffer buffer;
    for (const DialogControl& c : t.controls) {
      if (c.kind != ControlKind::Edit) continue;
      buffer.text[c.id] = "0.0000";
      buffer.exactText[c.id] = "1.234567e-06";
    }
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QString focusedAtStart;
    bool selectedAtStart = false;
    int tabs = 0;
    WhenModalOpens([&](QWidget* modal) {
      EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
      QWidget* f = QApplication::focusWidget();
      focusedAtStart = f ? f->objectName() : QString();
      if (auto* edit = qobject_cast<QLineEdit*>(f)) selectedAtStart = edit->hasSelectedText();
      // Tab until the first edit has the focus (never past the number of controls).
      const QString target = QStringLiteral("control%1").arg(id);
      while ((!QApplication::focusWidget() || QApplication::focusWidget()->objectName() != target) &&
             tabs < static_cast<int>(t.controls.size())) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : modal, Qt::Key_Tab);
        ++tabs;
      }
      QWidget* edit = QApplication::focusWidget();
      QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
      QTest::keyClicks(edit, QStringLiteral("2"));
      QTest::keyClick(edit, Qt::Key_Return);
    });
    const int result = RunTemplateDialog(nullptr, t, buffer);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(buffer.text[id], "2") << "after " << tabs << " Tab";
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "1.234567e-06");
    // Whatever has the focus at the start is a control; an edit there is selected.
    EXPECT_TRUE(focusedAtStart.startsWith(QStringLiteral("control")));
    if (tabs == 0) EXPECT_TRUE(selectedAtStart);
    ++walked;
  }
  EXPECT_GT(walked, 20);
  std::printf("%d dialog templates walked by keys\n", walked);

  // The one-line input box: typing replaces the text it opens with.
  WhenModalOpens([](QWidget* modal) {
    EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  });
  EXPECT_EQ(AskText(nullptr, "caption", "prompt", "0.000001"), std::optional<std::string>("2"));
}

}  // namespace
}  // namespace tarmic
