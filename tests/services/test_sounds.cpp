// Sound effects: variant files, random variants, silence without files or sounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "services/error_box.h"
#include "services/path_table.h"
#include "services/sounds.h"
#include "platform/headless/headless_backend.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;

class SoundsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    programDir_ = fs::path(TARMIC_TEST_OUTPUT_DIR) /
                  ("sounds_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(programDir_);
    fs::create_directories(programDir_ / "sounds");
    SetupPathTable(programDir_.string(), "");
    ResetSounds();
  }
  void TearDown() override {
    ResetSounds();
    ResetPathTable();
  }
  void AddSound(const std::string& name) {
    std::ofstream(programDir_ / "sounds" / name) << "RIFF";
  }
  std::string SoundPath(const std::string& name) const {
    return (programDir_ / "sounds" / name).string();
  }

  fs::path programDir_;
  ScopedHeadlessBackend backend;
};

TEST(SoundNames, VariantNumberGoesBeforeTheExtension) {
  EXPECT_EQ(MakeSoundVariantName("/prog/sounds/info.wav", 4), "/prog/sounds/info4.wav");
  EXPECT_EQ(MakeSoundVariantName("/prog/sounds/info.wav", 1), "/prog/sounds/info.wav");
  EXPECT_EQ(MakeSoundVariantName("", 3), "");
}

TEST_F(SoundsTest, VariantsAreCountedUpToTheFirstGap) {
  AddSound("ok.wav");
  AddSound("ok2.wav");
  AddSound("ok3.wav");
  AddSound("info.wav");
  AddSound("info3.wav");
  AddSound("error2.wav");
  InitSounds();
  EXPECT_EQ(SoundVariantCount(SoundCategory::Ok), 3);
  EXPECT_EQ(SoundVariantCount(SoundCategory::Info), 1);
  EXPECT_EQ(SoundVariantCount(SoundCategory::Error), 0);
  EXPECT_EQ(SoundVariantCount(SoundCategory::Beer), 0);
}

TEST_F(SoundsTest, SilentWhenTheFilesAreMissingOrSoundsAreOff) {
  AddSound("ok.wav");
  bPlaySounds = true;
  InitSounds();
  PlayErrorSound();
  PlayByeSound();
  bPlaySounds = false;
  PlayOkSound();
  PlaySoundFile(SoundPath("ok.wav").c_str());
  EXPECT_TRUE(backend->PlayedSounds().empty());
}

// A single variant (ok3 without ok2) always plays the base file.
TEST_F(SoundsTest, EveryPlayedVariantExists) {
  AddSound("info.wav");
  AddSound("info2.wav");
  AddSound("info3.wav");
  AddSound("ok.wav");
  AddSound("ok3.wav");
  InitSounds();
  bPlaySounds = true;
  for (int i = 0; i < 5; ++i) PlayOkSound();
  for (const auto& s : backend->PlayedSounds()) EXPECT_EQ(s.path, SoundPath("ok.wav"));
  for (int i = 0; i < 30; ++i) PlayInfoSound();
  const std::set<std::string> allowed = {SoundPath("info.wav"), SoundPath("info2.wav"),
                                         SoundPath("info3.wav")};
  ASSERT_EQ(backend->PlayedSounds().size(), 35u);
  for (std::size_t i = 5; i < 35; ++i)
    EXPECT_TRUE(allowed.count(backend->PlayedSounds()[i].path)) << backend->PlayedSounds()[i].path;
}

TEST_F(SoundsTest, ErrorBoxPlaysTheErrorSoundFirst) {
  AddSound("error.wav");
  InitSounds();
  bPlaySounds = true;
  backend->QueueMessageBox(IDOK, "Error");
  ShowError("something failed", false);
  ASSERT_EQ(backend->PlayedSounds().size(), 1u);
  EXPECT_EQ(backend->PlayedSounds()[0].path, SoundPath("error.wav"));
}

TEST_F(SoundsTest, MaybeInfoSoundPlaysSometimesButNotAlways) {
  AddSound("info.wav");
  InitSounds();
  bPlaySounds = true;
  for (int i = 0; i < 400; ++i) MaybePlayInfoSound();
  // One chance in five per call: 400 calls give about 80.
  const std::size_t played = backend->PlayedSounds().size();
  EXPECT_GT(played, 20u);
  EXPECT_LT(played, 200u);
}

}  // namespace
}  // namespace tarmic
