// Every dialog template of the program (those made at run time among them) on screens from a full-HD one down to a
// 1280 x 720 screen at scale 2 (640 x 360 logical pixels): the dialog and its frame
// fit the screen, the first value field has the focus with its value selected, and
// Tab brings each field into view, where a click could reach it; Esc leaves the
// values as they were.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <string>

#include "commands/global_equilibrium_commands.h"
#include "engine/equilibrium.h"
#include "platform/dialog_layout.h"
#include "platform/qt/qt_dialogs.h"
#include "resources/dialogs.h"
#include "tests/gui/qt_test_app.h"

namespace tarmic {
namespace {

using gui_test::WhenModalOpens;

// The frame and title a window manager adds, at most (as the dialogs allow for).
constexpr int kFrameWidth = 16, kFrameHeight = 48;

// The templates made at run time: the values dialog of the global equilibrium
// analysis for each model, with the rows the window gives it on the shipped example.
std::vector<DialogTemplate> RunTimeTemplates() {
  std::vector<engine::DataSet> sets;
  std::string error;
  const std::string dir = std::string(TARMIC_SOURCE_DIR) + "/examples/global_equilibrium/";
  EXPECT_TRUE(engine::ReadEquilibriumRun({dir + "cell1_280.xp", dir + "cell2_280.xp"}, &sets, &error)) << error;
  std::vector<DialogTemplate> templates;
  for (const std::string& model : engine::EquilibriumModelNames()) {
    engine::EquilibriumModelSpec spec;
    engine::Problem p;
    EXPECT_TRUE(engine::ParseEquilibriumModel(model, 2, &spec, &error, 4)) << error;
    EXPECT_TRUE(engine::BuildEquilibriumProblem(sets, spec, {}, 2, &p, &error)) << error;
    if (p.locals.empty()) continue;
    templates.push_back(GlobalEqValuesTemplate(GlobalEqValueLabels(p.globals), GlobalEqValueLabels(p.locals[0]),
                                               GlobalEqOptionRowsOf(p)));
  }
  EXPECT_EQ(templates.size(), engine::EquilibriumModelNames().size());
  return templates;
}

TEST(DialogRoomQt, EveryTemplateFitsEveryScreenAndShowsEachFieldItsFocusReaches) {
  gui_test::TestApplication();
  const QSize rooms[] = {{1920, 1050}, {1280, 690}, {960, 510}, {640, 330}};
  std::vector<const DialogTemplate*> all;
  for (const std::string& name : DialogTemplateNames()) all.push_back(&GetDialogTemplate(name));
  const std::vector<DialogTemplate> runTime = RunTimeTemplates();
  for (const DialogTemplate& t : runTime) all.push_back(&t);
  int scrolled = 0, walked = 0;
  for (const QSize& room : rooms) {
    SetDialogRoomForTesting(room);
    for (std::size_t index = 0; index < all.size(); ++index) {
      const DialogTemplate& t = *all[index];
      const std::string name = t.name + " (" + std::to_string(index) + ")";
      SCOPED_TRACE(name + " on " + std::to_string(room.width()) + " x " + std::to_string(room.height()));
      TransferBuffer buffer;
      int edits = 0;
      for (const DialogControl& c : t.controls)
        if (c.kind == ControlKind::Edit) {
          buffer.text[c.id] = "1.25";
          ++edits;
        }
      const TransferBuffer opened = buffer;
      int reached = 0;
      WhenModalOpens([&](QWidget* modal) {
        EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
        EXPECT_LE(modal->width(), room.width() - kFrameWidth);
        EXPECT_LE(modal->height(), room.height() - kFrameHeight);
        QWidget* first = QApplication::focusWidget();
        if (edits > 0) {
          auto* edit = qobject_cast<QLineEdit*>(first);
          EXPECT_TRUE(edit != nullptr) << (first ? first->objectName().toStdString() : "nothing");
          if (edit) EXPECT_EQ(edit->selectedText(), edit->text());
        }
        // Each control the focus reaches is within the dialog's visible part.
        for (std::size_t k = 0; k < t.controls.size(); ++k) {
          QWidget* f = QApplication::focusWidget();
          if (f && f != modal) {
            const QRect shown(f->mapTo(modal, QPoint(0, 0)), f->size());
            EXPECT_TRUE(modal->rect().intersects(shown)) << f->objectName().toStdString();
            EXPECT_TRUE(f->visibleRegion().boundingRect().height() > 0) << f->objectName().toStdString();
            reached += qobject_cast<QLineEdit*>(f) != nullptr;
          }
          QTest::keyClick(f ? f : modal, Qt::Key_Tab);
        }
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : modal, Qt::Key_Escape);
      });
      EXPECT_EQ(RunTemplateDialog(nullptr, t, buffer), IDCANCEL);
      EXPECT_EQ(buffer.text, opened.text);
      EXPECT_GE(reached, edits > 0 ? 1 : 0);
      ++walked;
      // A template larger than the room scrolls.
      const DialogPixelLayout layout = LayOutDialog(t, buffer, DialogFontMeasures{});
      scrolled += layout.client.cy > room.height();
    }
  }
  SetDialogRoomForTesting(std::nullopt);
  EXPECT_GT(walked, 80);
  EXPECT_GT(scrolled, 0) << "no template needed the scrolling room";
}

}  // namespace
}  // namespace tarmic
