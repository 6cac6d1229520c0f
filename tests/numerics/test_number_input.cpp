// The number input box and the number checks.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "numerics/number_input.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

// The scripted backend, also recording the text each input box started with.
class InputRecorder : public HeadlessBackend {
 public:
  std::optional<std::string> InputText(std::string_view caption, std::string_view prompt,
                                       std::string_view initial) override {
    initialTexts.emplace_back(initial);
    return HeadlessBackend::InputText(caption, prompt, initial);
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

// ----------------------------------------------------------------- the checks

TEST(NumberChecks, ZeroMustBeTypedWithALeadingZero) {
  EXPECT_TRUE(IsValidFloat("0"));
  EXPECT_TRUE(IsValidFloat("0.0"));
  EXPECT_TRUE(IsValidFloat("0e5"));
  EXPECT_FALSE(IsValidFloat(".0"));
  EXPECT_FALSE(IsValidFloat("-0"));
  EXPECT_FALSE(IsValidFloat(""));
  EXPECT_FALSE(IsValidFloat(nullptr));
}

TEST(NumberChecks, OrdinaryNumbersAreValid) {
  EXPECT_TRUE(IsValidFloat("2.5"));
  EXPECT_TRUE(IsValidFloat("-7"));
  EXPECT_TRUE(IsValidFloat("+3"));
  EXPECT_TRUE(IsValidFloat(".5"));
  EXPECT_TRUE(IsValidFloat("1e7"));
  EXPECT_TRUE(IsValidFloat("6.5E-3"));
  EXPECT_TRUE(IsValidFloat(" 12 "));
  EXPECT_FALSE(IsValidPositiveFloat("-7"));
  EXPECT_TRUE(IsValidPositiveFloat("0"));
  EXPECT_TRUE(IsValidPositiveFloat("3.25"));
}

TEST(NumberChecks, NonNumbersAndTrailingTextAreInvalid) {
  for (const char* text : {"nan", "NaN", "inf", "-inf", "infinity", "0x10", "1.5x", "2.5kg",
                           "0abc", "abc", "1e", "1e+", "--1", "1 2", "1,5", "e5", "."}) {
    EXPECT_FALSE(IsValidFloat(text)) << text;
    EXPECT_FALSE(IsValidPositiveFloat(text)) << text;
  }
}

TEST(NumberChecks, ValuesBeyondAFloatAreInvalid) {
  EXPECT_FALSE(IsValidFloat("1e39"));
  EXPECT_FALSE(IsValidFloat("1e400"));
  EXPECT_TRUE(IsValidFloat("3e38"));
}

TEST(NumberChecks, ParseGivesTheValueOfValidTextOnly) {
  float v = 1.0f;
  EXPECT_TRUE(ParseFloatText("2.5e3", &v));
  EXPECT_EQ(v, 2500.0f);
  EXPECT_FALSE(ParseFloatText("2.5kg", &v));
  EXPECT_EQ(v, 2500.0f);
}

TEST(NumberChecks, CurrentValueTextFollowsItsSize) {
  EXPECT_EQ(FormatInputValue(0.5f), "0.500000");
  EXPECT_EQ(FormatInputValue(0.01f), "1.000000e-02");
  EXPECT_EQ(FormatInputValue(-3.0f), "-3.000000e+00");
  EXPECT_EQ(FormatInputValue(0.0f), "0.000000e+00");
}

// -------------------------------------------------------------- the input box

TEST_F(NumberInputTest, ValidEntryIsStored) {
  backend.QueueInput("7.5");
  float value = 1.0f;
  EXPECT_TRUE(InputFloat(&value, 0.5f, true, "rotor speed", "SPEED"));
  EXPECT_EQ(value, 7.5f);
  ASSERT_EQ(backend.Transcript().size(), 1u);
  EXPECT_EQ(backend.Transcript()[0].caption, "SPEED");
  EXPECT_EQ(backend.Transcript()[0].text, "rotor speed");
  EXPECT_EQ(backend.initialTexts[0], "0.500000");
  EXPECT_EQ(backend.BeepCount(), 0);
}

TEST_F(NumberInputTest, InvalidEntriesBeepAndAskAgainWithTheTypedText) {
  for (const char* text : {"nan", "inf", "1.5x", "0x10", "", "abc"}) backend.QueueInput(text);
  backend.QueueInput("0.25");
  float value = 1.0f;
  EXPECT_TRUE(InputFloat(&value, 0.0f, false, nullptr, nullptr));
  EXPECT_EQ(value, 0.25f);
  EXPECT_EQ(backend.BeepCount(), 6);
  ASSERT_EQ(backend.initialTexts.size(), 7u);
  EXPECT_EQ(backend.initialTexts[0], "");
  EXPECT_EQ(backend.initialTexts[1], "nan");
  EXPECT_EQ(backend.initialTexts[3], "1.5x");
  EXPECT_EQ(backend.initialTexts[6], "abc");
}

TEST_F(NumberInputTest, CancelAfterInvalidEntryLeavesTheValue) {
  backend.QueueInput("abc");
  backend.QueueInput(std::nullopt);
  float value = 3.0f;
  EXPECT_FALSE(InputFloat(&value, 1.0f, true, "p", "t"));
  EXPECT_EQ(value, 3.0f);
  EXPECT_EQ(backend.BeepCount(), 1);
  EXPECT_EQ(backend.initialTexts[1], "abc");
}

TEST_F(NumberInputTest, PositiveInputRefusesNegativeNumbers) {
  backend.QueueInput("-2");
  backend.QueueInput("2");
  float value = 0.0f;
  EXPECT_TRUE(InputPositiveFloat(&value, 0.0f, false, nullptr, nullptr));
  EXPECT_EQ(value, 2.0f);
  EXPECT_EQ(backend.BeepCount(), 1);
}

TEST_F(NumberInputTest, HugeCurrentValueIsShownInFull) {
  backend.QueueInput(std::nullopt);
  backend.QueueInput(std::nullopt);
  float value = 0.0f;
  InputFloatWithParent(&backend.MainWindow(), &value, 12000000.0f, true, nullptr, nullptr);
  InputFloat(&value, 3.0e38f, true, nullptr, nullptr);
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

}  // namespace
}  // namespace tarmic
