// The keyboard of the scripted backend's dialogs, over every dialog template: the
// first edit field, which has the focus as the dialog opens (and is reached again by
// Tab and Shift+Tab from it), is replaced by what is typed; Ctrl+C
// copies the whole value the field was given. And the values a field shows with
// fewer digits keep their whole value for that copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modelfit/transfer_fields.h"
#include "platform/headless/headless_backend.h"
#include "resources/dialogs.h"
#include "text/number_token.h"

namespace tarmic {
namespace {

TEST(DialogKeyboard, TypingReplacesTheFirstEditOfEveryTemplate) {
  ScopedHeadlessBackend backend;
  int walked = 0;
  for (const std::string& name : DialogTemplateNames()) {
    SCOPED_TRACE(name);
    const DialogTemplate& t = GetDialogTemplate(name);
    // The first edit field and the control after it, in the template's order;
    // statics and frames take no focus.
    int first = -1, after = -1;
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
      const ControlKind k = t.controls[i].kind;
      if (k == ControlKind::Static || k == ControlKind::GroupBox) continue;
      if (first >= 0) {
        after = static_cast<int>(i);
        break;
      }
      if (k == ControlKind::Edit) first = t.controls[i].id;
    }
    if (first < 0) continue;
    ASSERT_GE(after, 0) << "no control after the first edit";
    for (const bool backwards : {false, true}) {
      TransferBuffer buffer;
      for (const DialogControl& c : t.controls)
        if (c.kind == ControlKind::Edit) {
          buffer.text[c.id] = "0.0000";
          buffer.exactText[c.id] = "1.234567e-06";
        }
      // The dialog opens on its first edit field: typed keys go there at once, and
      // Tab then Shift+Tab come back to it.
      std::vector<DialogKey> keys;
      if (backwards) {
        keys.push_back(PressedKey(VK_TAB));
        keys.push_back(PressedKey(VK_TAB, MK_SHIFT));
      }
      keys.push_back(PressedKey('C', MK_CONTROL));
      for (const DialogKey& k : TypedKeys("2.5")) keys.push_back(k);
      keys.push_back(PressedKey(VK_BACK));
      keys.push_back(PressedKey(VK_RETURN));
      backend->QueueDialogKeys(keys);
      EXPECT_EQ(backend->RunDialog(t, buffer), IDOK);
      EXPECT_EQ(buffer.text[first], "2.") << (backwards ? "Shift+Tab" : "Tab");
      EXPECT_EQ(backend->ClipboardTextValue(), "1.234567e-06");
    }
    // Esc leaves the record as it was.
    TransferBuffer kept;
    kept.text[first] = "7";
    std::vector<DialogKey> keys;
    keys.push_back(TypedKeys("9").front());
    keys.push_back(PressedKey(VK_ESCAPE));
    backend->QueueDialogKeys(keys);
    EXPECT_EQ(backend->RunDialog(t, kept), IDCANCEL);
    EXPECT_EQ(kept.text[first], "7");
    ++walked;
  }
  EXPECT_EQ(walked, static_cast<int>(DialogTemplateNames().size()));
}

// A field keeps its whole value beside the text it shows when that text reads
// back as another number, in the precision the value is held in; a field whose
// text is the value, and one given a text, keep none.
TEST(DialogKeyboard, AFieldShownWithFewerDigitsKeepsItsWholeValue) {
  struct Case {
    const char* format;
    double value;
    bool kept;
  };
  const Case cases[] = {
      {"%.4f", 6.05f, false},          {"%.4f", 6.0500123f, true},
      {"%.5f", 0.5f, false},           {"%.5f", 0.000001f, true},
      {"%.3e", 1.2345e-7, true},       {"%.0f", 76.0, false},
      {"%.4f", 6.050000000001, true},  {"%.2f", -0.004, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.value));
    TransferBuffer record;
    SetFieldValue(record, 435, c.format, c.value);
    ASSERT_EQ(record.exactText.count(435), c.kept ? 1u : 0u);
    if (!c.kept) continue;
    const bool isFloat = static_cast<double>(static_cast<float>(c.value)) == c.value;
    const std::optional<double> back =
        NumberOf(record.exactText[435], isFloat ? NumberWidth::kFloat : NumberWidth::kDouble);
    ASSERT_TRUE(back.has_value()) << record.exactText[435];
    EXPECT_EQ(isFloat ? static_cast<float>(*back) : *back, c.value) << record.exactText[435];
    SetFieldText(record, 435, "3");
    EXPECT_EQ(record.exactText.count(435), 0u);
  }
}

}  // namespace
}  // namespace tarmic
