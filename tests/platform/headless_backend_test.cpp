// The scripted backend: answers, transcript, unexpected boxes, window and menus.
#include <gtest/gtest.h>

#include "platform/events.h"
#include "platform/headless/headless_backend.h"
#include "platform/system.h"
#include "pixel_helpers.h"
#include "resources/command_ids.h"

namespace tarmic {
namespace {

MenuResource TestMenu() {
  MenuResource m;
  m.name = "MENU_TEST";
  MenuItem file{0, "&File", "", true, false, {}};
  file.children.push_back(MenuItem{kCmLoadNewFiles, "&Load\t^L", "^L", false, false, {}});
  file.children.push_back(MenuItem{0, "", "", false, true, {}});
  file.children.push_back(MenuItem{kCmBufferSedimentation, "&Blank", "^B", false, false, {}});
  MenuItem view{0, "&View", "", true, false, {}};
  view.children.push_back(MenuItem{kCmSuppressBaselineCorrelation, "&Grid", "", false, false, {}});
  m.items = {file, view};
  return m;
}

AcceleratorTable TestAccelerators() {
  AcceleratorTable t;
  t.id = 303;
  t.entries = {{'L', MK_CONTROL, 200}, {'F', MK_ALT, 915}, {'F', MK_CONTROL, 215},
               {'L', MK_CONTROL, 999}};
  return t;
}

std::vector<Event> DrainUi() {
  std::vector<Event> out;
  while (auto e = UiEvents().Take()) out.push_back(*e);
  return out;
}

// ---------------------------------------------------------------- installation

TEST(Backend, GetBackendWithoutOneFailsLoudly) {
  Backend* before = HasBackend() ? &GetBackend() : nullptr;
  SetBackend(nullptr);
  EXPECT_FALSE(HasBackend());
  EXPECT_THROW(GetBackend(), std::logic_error);
  SetBackend(before);
}

TEST(Backend, ScopedHeadlessBackendInstallsAndRestores) {
  SetBackend(nullptr);
  {
    ScopedHeadlessBackend outer;
    EXPECT_EQ(&GetBackend(), &*outer);
    EXPECT_TRUE(IsUiThread());
    {
      ScopedHeadlessBackend inner(320, 200);
      EXPECT_EQ(&GetBackend(), &*inner);
      EXPECT_EQ(GetBackend().MainWindow().ClientSize(), (Size{320, 200}));
    }
    EXPECT_EQ(&GetBackend(), &*outer);
  }
  EXPECT_FALSE(HasBackend());
}

// ---------------------------------------------------------------- boxes and the script

TEST(HeadlessScript, MessageBoxAnswersComeInOrder) {
  ScopedHeadlessBackend hb;
  hb->QueueMessageBox(IDYES);
  hb->QueueMessageBox(IDNO, "SET PREFERENCE");
  hb->QueueMessageBox(IDOK);
  EXPECT_FALSE(hb->AllAnswersUsed());
  Backend& b = GetBackend();
  EXPECT_EQ(b.MessageBox("save new data?", "", MB_YESNO), IDYES);
  EXPECT_EQ(b.MessageBox("use absorbance?", "SET PREFERENCE", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(b.MessageBox("\n\adone", "Error", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_TRUE(hb->AllAnswersUsed());
  EXPECT_EQ(hb->MessageBoxCaptions(), (std::vector<std::string>{"", "SET PREFERENCE", "Error"}));
  const auto& t = hb->Transcript();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].text, "use absorbance?");
  EXPECT_EQ(t[1].style, MB_YESNO | MB_ICONQUESTION);
}

TEST(HeadlessScript, ABoxWithoutAnAnswerThrowsUnexpectedBoxWithCaptionAndText) {
  ScopedHeadlessBackend hb;
  try {
    GetBackend().MessageBox("could not open scan file", "LOAD ERROR", MB_OK);
    FAIL() << "no exception";
  } catch (const UnexpectedBox& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("MessageBox"), std::string::npos) << what;
    EXPECT_NE(what.find("LOAD ERROR"), std::string::npos) << what;
    EXPECT_NE(what.find("could not open scan file"), std::string::npos) << what;
  }
  // The box is in the transcript even so.
  ASSERT_EQ(hb->Transcript().size(), 1u);
  EXPECT_EQ(hb->Transcript()[0].caption, "LOAD ERROR");
}

TEST(HeadlessScript, ACaptionMismatchThrowsUnexpectedBox) {
  ScopedHeadlessBackend hb;
  hb->QueueMessageBox(IDYES, "RECALIBRATE RADIUS");
  try {
    GetBackend().MessageBox("offset?", "TIME OFFSET", MB_YESNO);
    FAIL() << "no exception";
  } catch (const UnexpectedBox& e) {
    std::string what = e.what();
    EXPECT_NE(what.find("TIME OFFSET"), std::string::npos) << what;
    EXPECT_NE(what.find("RECALIBRATE RADIUS"), std::string::npos) << what;
    EXPECT_NE(what.find("offset?"), std::string::npos) << what;
  }
  EXPECT_FALSE(hb->AllAnswersUsed());
}

TEST(HeadlessScript, InputFileAndDialogAnswers) {
  ScopedHeadlessBackend hb;
  hb->QueueInput("3.5");
  hb->QueueInput(std::nullopt);
  hb->QueueOpenFiles({"/data/a.ip1", "/data/b.ip1"});
  hb->QueueSaveFile(std::string("/data/average.ip1"));
  Backend& b = GetBackend();
  EXPECT_EQ(b.InputText("rotor speed", "enter rpm", "0.0"), std::optional<std::string>("3.5"));
  EXPECT_EQ(b.InputText("rotor speed", "enter rpm", "0.0"), std::nullopt);
  FileDialogOptions open;
  open.title = "select files";
  open.multiSelect = true;
  EXPECT_EQ(b.OpenFileDialog(open).size(), 2u);
  FileDialogOptions save;
  save.title = "select filename for averaged scan";
  save.defaultName = "average.ip1";
  EXPECT_EQ(b.SaveFileDialog(save), std::optional<std::string>("/data/average.ip1"));
  EXPECT_THROW(b.OpenFileDialog(open), UnexpectedBox);
  EXPECT_THROW(b.InputText("x", "y", ""), UnexpectedBox);

  ASSERT_EQ(hb->Transcript().size(), 6u);
  EXPECT_EQ(hb->Transcript()[3].caption, "select filename for averaged scan");
}

TEST(HeadlessScript, DialogMergesTheTypedValuesOnOkOnly) {
  ScopedHeadlessBackend hb;
  DialogTemplate d;
  d.name = "DLG_FIT";
  d.caption = "Fit options";
  d.controls = {{101, ControlKind::Edit, "", 0, 0, 10, 10, 0, false},
                {201, ControlKind::RadioButton, "a", 0, 0, 10, 10, 1, false},
                {202, ControlKind::RadioButton, "b", 0, 0, 10, 10, 1, false},
                {301, ControlKind::CheckBox, "c", 0, 0, 10, 10, 0, false}};
  TransferBuffer buf;
  buf.text[101] = "10";
  buf.checked[201] = true;
  buf.checked[301] = true;
  TransferBuffer typed;
  typed.text[101] = "25";
  typed.checked[202] = true;
  hb->QueueDialog(IDCANCEL, typed);
  hb->QueueDialog(IDOK, typed);
  EXPECT_EQ(GetBackend().RunDialog(d, buf), IDCANCEL);
  EXPECT_EQ(buf.text[101], "10");
  EXPECT_EQ(GetBackend().RunDialog(d, buf), IDOK);
  EXPECT_EQ(buf.text[101], "25");
  EXPECT_TRUE(buf.checked[202]);
  EXPECT_FALSE(buf.checked[201]);  // the other button of the group
  EXPECT_TRUE(buf.checked[301]);   // untouched
  EXPECT_THROW(GetBackend().RunDialog(d, buf), UnexpectedBox);
}

TEST(HeadlessScript, ClipboardSoundPrinterAndViewerAreRecorded) {
  ScopedHeadlessBackend hb;
  Backend& b = GetBackend();
  EXPECT_TRUE(b.SetClipboardText("a\tb\n"));
  EXPECT_EQ(b.ClipboardText(), "a\tb\n");
  MetaFileDC rec;
  rec.TextOut(0, 0, "plot");
  auto pic = rec.Close();
  EXPECT_TRUE(b.SetClipboardPicture(*pic, Size{1399, 1000}));
  ASSERT_TRUE(hb->ClipboardPicture());
  EXPECT_EQ(hb->ClipboardPicture()->Texts(), (std::vector<std::string>{"plot"}));
  EXPECT_TRUE(b.SetClipboardBitmap(Image(3, 2)));
  ASSERT_TRUE(hb->ClipboardBitmap());
  EXPECT_EQ(hb->ClipboardBitmap()->Width(), 3);

  b.PlaySound("error1.wav", true);
  b.Beep(MB_ICONINFORMATION);
  ASSERT_EQ(hb->PlayedSounds().size(), 1u);
  EXPECT_EQ(hb->BeepCount(), 1);

  Size seen;
  EXPECT_TRUE(b.Print(PrintRequest{"Tarmic Printout", ""}, [&](DC& dc, Size page) {
    seen = page;
    dc.SelectBrush(SolidBrush(kBlack));
    dc.Rectangle(0, 0, page.cx / 2, page.cy / 2);
  }));
  EXPECT_EQ(hb->PrintedPages(), 1);
  ASSERT_EQ(hb->PrintedImages().size(), 1u);
  EXPECT_EQ(seen, (Size{hb->PrintedImages()[0].Width(), hb->PrintedImages()[0].Height()}));
  EXPECT_EQ(hb->PrintedImages()[0].Pixel(1, 1), kBlack);
  hb->SetPrintAccepted(false);
  EXPECT_FALSE(b.Print(PrintRequest{}, [](DC&, Size) {}));
  EXPECT_EQ(hb->PrintedPages(), 1);

  EXPECT_FALSE(b.ShowTextFile("/no/such/file.txt"));
  EXPECT_EQ(hb->Transcript().back().text, "/no/such/file.txt");
}

// ---------------------------------------------------------------- window

TEST(HeadlessWindowTest, InvalidatePostsOnePaint) {
  ScopedHeadlessBackend hb;
  Window& w = GetBackend().MainWindow();
  w.Invalidate();
  w.Invalidate();
  auto events = DrainUi();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, EventType::Paint);
}

TEST(HeadlessWindowTest, WaitEventsReportsWhetherEventsAreWaiting) {
  ScopedHeadlessBackend hb;
  EXPECT_FALSE(GetBackend().WaitEvents(-1));  // a finished script: no more events
  UiEvents().Post(Event::TimerTick(1));
  EXPECT_TRUE(GetBackend().WaitEvents(1000));
}

TEST(HeadlessWindowTest, ClientDCDrawsIntoTheScreen) {
  ScopedHeadlessBackend hb(200, 100);
  Window& w = GetBackend().MainWindow();
  EXPECT_EQ(w.ClientRect(), (Rect{0, 0, 200, 100}));
  auto dc = w.ClientDC();
  dc->MoveTo(10, 10);
  dc->LineTo(11, 11);
  EXPECT_EQ(w.Screen().Pixel(10, 10), kBlack);
  w.Refresh();
  EXPECT_EQ(hb->Headless().RefreshCount(), 1);
  hb->Headless().Resize(300, 150);
  EXPECT_EQ(w.ClientSize(), (Size{300, 150}));
  EXPECT_EQ(w.Screen().Pixel(10, 10), kBlack);  // kept
  auto events = DrainUi();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, EventType::Size);
  EXPECT_EQ(events[0].width, 300);
}

TEST(HeadlessMenu, CheckEnableInsertAndDeleteByIdentifier) {
  ScopedHeadlessBackend hb;
  Window& w = GetBackend().MainWindow();
  w.AttachMenu(TestMenu());
  EXPECT_TRUE(w.CheckMenuItem(kCmSuppressBaselineCorrelation, true));
  EXPECT_TRUE(w.IsMenuItemChecked(kCmSuppressBaselineCorrelation));
  EXPECT_FALSE(w.CheckMenuItem(kCmIntegrationRangesFromFile, true));  // not in this menu
  EXPECT_FALSE(w.IsMenuItemChecked(kCmIntegrationRangesFromFile));
  EXPECT_TRUE(w.EnableMenuItem(kCmLoadNewFiles, false));
  EXPECT_FALSE(w.IsMenuItemEnabled(kCmLoadNewFiles));
  EXPECT_FALSE(w.EnableMenuItem(kCmSaveIntensityAsAbsorbance, false));

  EXPECT_TRUE(w.InsertMenuItemBefore(kCmBufferSedimentation, kCmFloTools, "FloTools"));
  const auto& file = hb->Headless().Menu().items[0].children;
  ASSERT_EQ(file.size(), 4u);
  EXPECT_EQ(file[2].id, 915);
  EXPECT_EQ(file[3].id, 552);
  EXPECT_FALSE(w.InsertMenuItemBefore(4711, 916, "nowhere"));
  EXPECT_FALSE(w.HasMenuItem(916));

  EXPECT_TRUE(w.CheckMenuItem(kCmFloTools, true));
  EXPECT_TRUE(w.DeleteMenuItem(kCmFloTools));
  EXPECT_FALSE(w.HasMenuItem(kCmFloTools));
  EXPECT_FALSE(w.IsMenuItemChecked(kCmFloTools));
  EXPECT_FALSE(w.DeleteMenuItem(kCmFloTools));
  EXPECT_EQ(MenuCommandIds(hb->Headless().Menu()), (std::vector<int>{200, 552, 829}));

  // Attaching another menu starts from its own items without check marks.
  w.CheckMenuItem(kCmSuppressBaselineCorrelation, true);
  w.AttachMenu(TestMenu());
  EXPECT_FALSE(w.IsMenuItemChecked(kCmSuppressBaselineCorrelation));
}

TEST(HeadlessKeys, PressKeyPostsKeyDownCharAndKeyUp) {
  ScopedHeadlessBackend hb;
  HeadlessWindow& w = hb->Headless();
  w.PressKey(VK_RETURN);
  w.PressKey(VK_LEFT);
  w.PressKey('S');
  auto e = DrainUi();
  ASSERT_EQ(e.size(), 8u);  // arrows give no character
  EXPECT_EQ(e[0].key, VK_RETURN);
  EXPECT_EQ(e[1].ch, 13);
  EXPECT_EQ(e[4].type, EventType::KeyUp);
  EXPECT_EQ(e[6].ch, 's');
}

TEST(HeadlessKeys, AcceleratorTurnsTheKeyPressIntoACommand) {
  ScopedHeadlessBackend hb;
  HeadlessWindow& w = hb->Headless();
  w.SetAccelerators(TestAccelerators());
  w.PressKey('L', MK_CONTROL);  // the command need not be in the attached menu
  w.PressKey('L');              // no accelerator: an ordinary key
  auto e = DrainUi();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].type, EventType::Command);
  EXPECT_EQ(e[0].command, 200);
  EXPECT_EQ(e[1].type, EventType::KeyUp);
  EXPECT_EQ(e[2].type, EventType::KeyDown);
  EXPECT_EQ(e[3].ch, 'l');
}

// F10 is the menu bar's key, as on the screen: the program receives nothing of it;
// with Shift it is an ordinary key.
TEST(HeadlessKeys, F10GoesToTheMenuBar) {
  ScopedHeadlessBackend hb;
  HeadlessWindow& w = hb->Headless();
  w.PressKey(VK_F10);
  EXPECT_TRUE(DrainUi().empty());
  EXPECT_EQ(w.MenuBarKeys(), 1);
  w.PressKey(VK_F10, MK_SHIFT);
  auto e = DrainUi();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].type, EventType::KeyDown);
  EXPECT_EQ(e[0].key, VK_F10);
  EXPECT_EQ(w.MenuBarKeys(), 1);
}

TEST(HeadlessMouse, DoubleClickSequenceIsDownUpDoubleUp) {
  ScopedHeadlessBackend hb;
  hb->Headless().Click(10, 20, false, MK_CONTROL, true);
  auto e = DrainUi();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].type, EventType::LButtonDown);
  EXPECT_EQ(e[0].mods, MK_LBUTTON | MK_CONTROL);
  EXPECT_EQ(e[1].type, EventType::LButtonUp);
  EXPECT_EQ(e[2].type, EventType::LButtonDblClk);
  EXPECT_EQ(e[3].type, EventType::LButtonUp);
  EXPECT_EQ(e[3].x, 10);
  EXPECT_EQ(e[3].y, 20);
}

// ---------------------------------------------------------------- resources

TEST(Resources, TranslateAcceleratorMatchesKeyAndModifiersExactly) {
  AcceleratorTable t = TestAccelerators();
  EXPECT_EQ(TranslateAccelerator(t, 'L', MK_CONTROL), std::optional<int>(200));  // first match
  EXPECT_EQ(TranslateAccelerator(t, 'l', MK_CONTROL), std::optional<int>(200));
  EXPECT_EQ(TranslateAccelerator(t, 'F', MK_ALT), std::optional<int>(915));
  EXPECT_EQ(TranslateAccelerator(t, 'F', MK_CONTROL), std::optional<int>(215));
  EXPECT_EQ(TranslateAccelerator(t, 'F', 0), std::nullopt);
  EXPECT_EQ(TranslateAccelerator(t, 'L', MK_CONTROL | MK_SHIFT), std::nullopt);
  EXPECT_EQ(TranslateAccelerator(t, 'X', MK_CONTROL), std::nullopt);
  // Mouse button bits in the word do not matter.
  EXPECT_EQ(TranslateAccelerator(t, 'L', MK_CONTROL | MK_LBUTTON), std::optional<int>(200));
}

}  // namespace
}  // namespace tarmic
