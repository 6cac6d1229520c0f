// The number prompt: every number it takes lies within the range of the quantity
// it asks for, and no other door asks the user for a number.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/headless/headless_backend.h"
#include "prompts/number_prompt.h"

namespace tarmic {
namespace {

constexpr Quantity kAnyNumber{"value", "", Closed(-3.4e38, 3.4e38)};
constexpr Quantity kPositiveNumber{"value", "", Closed(0.0, 3.4e38)};

// The scripted backend, also recording the text each input box started with.
class InputRecorder : public HeadlessBackend {
 public:
  std::optional<std::string> ModalInputText(std::string_view caption, std::string_view prompt,
                                       std::string_view initial) override {
    initialTexts.emplace_back(initial);
    return HeadlessBackend::ModalInputText(caption, prompt, initial);
  }
  std::vector<std::string> initialTexts;
};

class NumberInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = HasBackend() ? &GetBackend() : nullptr;
    SetBackend(&backend);
  }
  void TearDown() override { SetBackend(previous_); }
  InputRecorder backend;

 private:
  Backend* previous_ = nullptr;
};


TEST_F(NumberInputTest, ValidEntryIsStored) {
  backend.QueueInput("7.5");
  float value = 1.0f;
  EXPECT_TRUE(InputFloat(&value, 0.5f, true, "rotor speed", "SPEED", kAnyNumber));
  EXPECT_EQ(value, 7.5f);
  ASSERT_EQ(backend.Transcript().size(), 1u);
  EXPECT_EQ(backend.Transcript()[0].text, "rotor speed");
  EXPECT_EQ(backend.BeepCount(), 0);
}

// A text that is no number is refused as a number out of range is: a beep and one
// sentence with what was typed (blanks for a zero byte, cut when long), the
// quantity and its range; the box asks again with the typed text. A current value
// the prompt would refuse is not proposed; the zeros the files take are numbers.
TEST_F(NumberInputTest, InvalidEntriesAreNamedWithTheQuantityAndAskedAgain) {
  const Quantity speed{"rotor speed", "rpm", Closed(1.0, 100000.0)};
  const std::string range = " must lie between 1 and 100000 rpm";
  const std::pair<std::string, std::string> typed[] = {
      {"nan", "the rotor speed \"nan\" is no number: it" + range},
      {"1.5x", "the rotor speed \"1.5x\" is no number: it" + range},
      {"0x10", "the rotor speed \"0x10\" is no number: it" + range},
      {std::string("1\0 5", 4), "the rotor speed \"1  5\" is no number: it" + range},
      {std::string(100000, 'x'), "the rotor speed \"" + std::string(40, 'x') + "...\" is no number: it" + range},
      {"  ", "the rotor speed is empty: it" + range},
      {"-0", "the rotor speed 0 rpm" + range},
  };
  for (const auto& t : typed) {
    backend.QueueInput(t.first);
    backend.QueueMessageBox(IDOK, "SPEED");
  }
  backend.QueueInput("4e4");
  float value = 0.0f;
  EXPECT_TRUE(InputFloat(&value, 0.0f, true, "rotor speed", "SPEED", speed));
  EXPECT_EQ(value, 40000.0f);
  EXPECT_EQ(backend.BeepCount(), 7);
  std::vector<std::string> boxes;
  for (const auto& e : backend.Transcript())
    if (e.kind == "MessageBox") boxes.push_back(e.text);
  ASSERT_EQ(boxes.size(), std::size(typed));
  for (std::size_t k = 0; k < boxes.size(); ++k) EXPECT_EQ(boxes[k], typed[k].second);
  ASSERT_EQ(backend.initialTexts.size(), 8u);
  EXPECT_EQ(backend.initialTexts[0], "") << "0 rpm is not proposed";
  EXPECT_EQ(backend.initialTexts[2], "1.5x");

  for (const char* zero : {"-0", "+0", ".0", "-0.000000"}) {
    backend.QueueInput(zero);
    value = 1.0f;
    EXPECT_TRUE(InputFloat(&value, 2.0f, true, nullptr, nullptr, kAnyNumber)) << zero;
    EXPECT_EQ(value, 0.0f);
  }
}

TEST_F(NumberInputTest, CancelAfterRefusedNegativeEntryLeavesTheValue) {
  backend.QueueInput("-2");
  backend.QueueMessageBox(IDOK, "t");
  backend.QueueInput(std::nullopt);
  float value = 3.0f;
  EXPECT_FALSE(InputFloat(&value, 1.0f, true, "p", "t", kPositiveNumber));
  EXPECT_EQ(value, 3.0f);
  EXPECT_EQ(backend.BeepCount(), 1);
}

TEST_F(NumberInputTest, HugeCurrentValueIsShownInFull) {
  backend.QueueInput(std::nullopt);
  backend.QueueInput(std::nullopt);
  float value = 0.0f;
  InputFloat(&value, 12000000.0f, true, nullptr, nullptr, kAnyNumber);
  InputFloat(&value, 3.0e38f, true, nullptr, nullptr, kAnyNumber);
  ASSERT_EQ(backend.initialTexts.size(), 2u);
  EXPECT_EQ(backend.initialTexts[0], "12000000.000000");
  EXPECT_EQ(backend.initialTexts[1].size(), 46u);
  EXPECT_EQ(backend.initialTexts[1].substr(0, 4), "3000");
}

TEST_F(NumberInputTest, FreeTextIsCutToTheBuffer) {
  backend.QueueInput(std::string(20000, 'a'));
  std::vector<char> out(kInputTextSize, 'x');
  EXPECT_TRUE(InputText(out.data(), nullptr, nullptr));
  EXPECT_EQ(std::strlen(out.data()), static_cast<std::size_t>(kInputTextSize - 1));
  EXPECT_EQ(backend.Transcript()[0].caption, "enter float");
}


// A number outside the range beeps, says in one sentence which quantity and which
// range (under the box's caption), and is asked again with the typed text; the
// ends themselves pass. The rotor speed of generated scans: 1e-30 rpm is written
// as 0 rpm, which no scan reader takes.
TEST_F(NumberInputTest, NumbersOutsideTheRangeAreRefusedNamingQuantityAndRange) {
  const Quantity speed{"rotor speed", "rpm", Closed(1.0, 100000.0)};
  backend.QueueInput("1e-30");
  backend.QueueMessageBox(IDOK, "GENERATE");
  backend.QueueInput("1.5e5");
  backend.QueueMessageBox(IDOK, "GENERATE");
  backend.QueueInput("100000");
  float value = 0.0f;
  EXPECT_TRUE(InputFloat(&value, 40000.0f, true, "rotor speed (rpm)", "GENERATE", speed));
  EXPECT_EQ(value, 100000.0f);
  EXPECT_TRUE(backend.AllAnswersUsed());
  std::vector<std::string> boxes;
  for (const auto& e : backend.Transcript())
    if (e.kind != "Input") boxes.push_back(e.text);
  EXPECT_EQ(boxes, (std::vector<std::string>{"the rotor speed 1e-30 rpm must lie between 1 and 100000 rpm",
                                             "the rotor speed 150000 rpm must lie between 1 and 100000 rpm"}));
  ASSERT_EQ(backend.initialTexts.size(), 3u);
  EXPECT_EQ(backend.initialTexts[1], "1e-30");
  EXPECT_EQ(backend.BeepCount(), 2);
  // A quantity that takes 0 for "not set" takes it between refused values.
  const Quantity limit{"limit", "cm", ZeroOr(Closed(1e-4, 1e6))};
  backend.QueueInput("-1");
  backend.QueueMessageBox(IDOK);
  backend.QueueInput("0");
  value = 5.0f;
  EXPECT_TRUE(InputFloat(&value, 5.0f, true, nullptr, nullptr, limit));
  EXPECT_EQ(value, 0.0f);
  EXPECT_EQ(backend.Transcript().back().caption, "enter positive float");
}

// A count takes whole numbers only: 2.5 scans is no number of scans (the integer
// part would be a guess). Its ends are inclusive.
TEST_F(NumberInputTest, ACountRefusesAFraction) {
  const Quantity scans{"number of simulated scans", "", Count(1.0, 1000.0)};
  EXPECT_EQ(PromptRefusal(scans, 2.5), "the number of simulated scans 2.5 must be a whole number between 1 and 1000");
  EXPECT_EQ(PromptRefusal(scans, 1000.0), "");
  EXPECT_EQ(PromptRefusal(scans, 1.0), "");
  EXPECT_NE(PromptRefusal(scans, 1001.0), "");
  EXPECT_NE(PromptRefusal(scans, 0.0), "");
  backend.QueueInput("2.5");
  backend.QueueMessageBox(IDOK);
  backend.QueueInput("3");
  float value = 0.0f;
  EXPECT_TRUE(InputFloat(&value, 10.0f, true, "number of simulated scans", "GENERATE", scans));
  EXPECT_EQ(value, 3.0f);
  EXPECT_TRUE(backend.AllAnswersUsed());
}

// The list prompt: every value of the list within the range, or the whole list is
// asked again with the reason; a text that is no list of numbers says how to
// write one.
TEST_F(NumberInputTest, AListTakesOnlyNumbersWithinTheRange) {
  const Quantity speed{"rotor speed", "rpm", Closed(1.0, 100000.0)};
  std::string text = "50000";
  backend.QueueInput("40000 abc");
  backend.QueueMessageBox(IDOK, "ERROR");
  backend.QueueInput("40000 1e-30");
  backend.QueueMessageBox(IDOK, "ERROR");
  backend.QueueInput("  ");
  backend.QueueMessageBox(IDOK, "ERROR");
  backend.QueueInput("40000 60000");
  const std::optional<std::vector<float>> speeds = InputFloatList(&text, "rotor speeds", "SERIES", speed);
  ASSERT_TRUE(speeds.has_value());
  EXPECT_EQ(*speeds, (std::vector<float>{40000.0f, 60000.0f}));
  EXPECT_EQ(text, "40000 60000");
  std::vector<std::string> boxes;
  for (const auto& e : backend.Transcript())
    if (e.kind != "Input") boxes.push_back(e.text);
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], "the rotor speed \"abc\" is no number: it must lie between 1 and 100000 rpm\n"
                      "enter numbers separated by blanks");
  EXPECT_EQ(boxes[1], "the rotor speed 1e-30 rpm must lie between 1 and 100000 rpm");
  EXPECT_EQ(boxes[2], "the rotor speed is empty: it must lie between 1 and 100000 rpm\n"
                      "enter numbers separated by blanks");
  EXPECT_EQ(backend.initialTexts[0], "50000");
  // Cancel leaves the text as it was.
  backend.QueueInput(std::nullopt);
  EXPECT_FALSE(InputFloatList(&text, "rotor speeds", "SERIES", speed).has_value());
  EXPECT_EQ(text, "40000 60000");
}

// ------------------------------------------------------------ the doors

// Every box that asks the user for a number goes through this library: no
// production source outside it and the platform calls the platform's text input
// itself (whose answer would reach the program unjudged). The doors that do go
// through it pass a quantity, which the compiler requires of each; they are
// counted here so that the count can be compared as the program grows.
TEST(PromptDoors, NoSourceAsksForTextOutsideThePrompts) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(TARMIC_TEST_DATA_DIR).parent_path().parent_path();
  ASSERT_TRUE(fs::exists(root / "prompts" / "number_prompt.cpp")) << root;
  const std::regex rawInput(R"(\bInputText\s*\()");
  const std::regex promptCall(R"(\b(InputFloat|InputFloatList|AskFloat)\s*\()");
  std::vector<std::string> outside;
  int promptCalls = 0, files = 0;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::directory_entry& e = *it;
    const fs::path rel = fs::relative(e.path(), root);
    const std::string top = rel.begin()->string();
    if (top == "tests" || top == "bench" || top == "fuzz" || top == "platform" || top.rfind("build", 0) == 0 ||
        top[0] == '.') {
      if (e.is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (!e.is_regular_file()) continue;
    const std::string ext = e.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    std::ifstream in(e.path());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      const std::string code = line.substr(0, line.find("//"));
      if (code.find("Input") == std::string::npos && code.find("AskFloat") == std::string::npos) continue;
      if (top != "prompts" && std::regex_search(code, rawInput))
        outside.push_back(rel.string() + ":" + std::to_string(number) + ": " + line);
      for (auto it = std::sregex_iterator(code.begin(), code.end(), promptCall); it != std::sregex_iterator(); ++it)
        ++promptCalls;
    }
  }
  EXPECT_GT(files, 300);
  for (const std::string& o : outside) ADD_FAILURE() << "asks for text outside the prompts: " << o;
  // Declarations and definitions of the prompt functions count too; the call sites
  // are far more.
  EXPECT_GT(promptCalls, 60);
  std::cout << "number prompt calls: " << promptCalls << std::endl;
}

}  // namespace
}  // namespace tarmic
