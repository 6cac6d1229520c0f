// The disclaimer dialog as a template: its texts and the two buttons.
#include "app/disclaimer.h"

namespace tarmic {

namespace {

DialogTemplate MakeDisclaimerDialog() {
  DialogTemplate d;
  d.name = "302";
  d.caption = "About";
  d.width = 260;
  d.height = 150;
  auto text = [&d](const char* label, int y, int height) {
    DialogControl c;
    c.id = -1;
    c.kind = ControlKind::Static;
    c.label = label;
    c.x = 10;
    c.y = y;
    c.width = 240;
    c.height = height;
    d.controls.push_back(c);
  };
  text("TARMIC - sedimentation analysis", 8, 10);
  text("version 1.0 (Nov 2013)", 20, 10);
  text("This program is provided as it is, without warranty of any kind, express or "
       "implied. The user alone is responsible for the use of the program and for the "
       "results obtained with it; in no event shall the authors be liable for any damage "
       "arising from its use.",
       36, 60);
  text("Do you agree to use the program under these conditions?", 100, 12);
  auto button = [&d](int id, const char* label, int x, bool isDefault) {
    DialogControl c;
    c.id = id;
    c.kind = ControlKind::PushButton;
    c.label = label;
    c.x = x;
    c.y = 124;
    c.width = 70;
    c.height = 16;
    c.isDefault = isDefault;
    d.controls.push_back(c);
  };
  button(kDisclaimerAgree, "agree", 50, true);
  button(kDisclaimerDisagree, "don't agree", 140, false);
  return d;
}

}  // namespace

const DialogTemplate& DisclaimerDialog() {
  static const DialogTemplate dialog = MakeDisclaimerDialog();
  return dialog;
}

}  // namespace tarmic
