// Sound effects with random variants.
#include "services/sounds.h"

#include <ctime>
#include <mutex>
#include <random>

#include "services/file_exists.h"
#include "services/path_table.h"
#include "platform/backend.h"
#include "platform/system.h"

namespace tarmic {

bool bPlaySounds = false;

namespace {

constexpr int kCategories = 8;

struct SoundState {
  std::mutex mutex;
  bool initialised = false;
  int count[kCategories] = {};
  int last[kCategories] = {-1, -1, -1, -1, -1, -1, -1, -1};
  // Non-negative 31-bit draws; the module's own generator, so that the sounds
  // neither disturb nor depend on any other random sequence of the program. It is
  // seeded once, by InitSounds: seeding it from the clock's second at every play
  // would repeat the same draws within one second (the 0.2 chance of
  // MaybePlayInfoSound would become all or nothing).
  std::minstd_rand random;
};

SoundState& State() {
  static SoundState state;
  return state;
}

int Index(SoundCategory c) { return static_cast<int>(c); }

const std::string& BasePath(SoundCategory c) {
  switch (c) {
    case SoundCategory::Error: return szErrorSound;
    case SoundCategory::Info: return szInfoSound;
    case SoundCategory::Question: return szQuestionSound;
    case SoundCategory::FitDone: return szFitDoneSound;
    case SoundCategory::Hi: return szHiSound;
    case SoundCategory::Bye: return szByeSound;
    case SoundCategory::Ok: return szOkSound;
    case SoundCategory::Beer: return szBeerSound;
  }
  return szErrorSound;
}

void Seed(std::minstd_rand& random) {
  random.seed(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
}

long Draw(std::minstd_rand& random) { return static_cast<long>(random()); }

void PlayCategory(SoundCategory category, bool greeting) {
  if (!bPlaySounds) return;
  SoundState& s = State();
  std::string file;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.initialised) return;
    const int i = Index(category);
    const int count = s.count[i];
    if (greeting) {
      // The greeting first burns a random number of draws.
      for (int k = 1;; ++k) {
        const long b = Draw(s.random) % 10;
        if (k > b) break;
        Draw(s.random);
      }
    }
    long v = count > 0 ? Draw(s.random) % count : 0;
    if (v == s.last[i]) v = count > 0 ? Draw(s.random) % count : 0;
    s.last[i] = static_cast<int>(v);
    // With no variant file at all there is nothing to hear.
    if (count == 0) return;
    file = MakeSoundVariantName(BasePath(category), static_cast<int>(v) + 1);
  }
  if (!HasBackend()) return;
  GetBackend().PlaySound(file, category != SoundCategory::Bye);
}

void PlayFile(const char* fileName, bool async) {
  if (!bPlaySounds || !fileName || !FileExists(fileName) || !HasBackend()) return;
  GetBackend().PlaySound(fileName, async);
}

}  // namespace

std::string MakeSoundVariantName(const std::string& basePath, int k) {
  if (basePath.empty()) return {};
  if (k <= 1) return basePath;
  PathParts parts = SplitPath(basePath);
  parts.name += std::to_string(k);
  return MergePath(parts);
}

void InitSounds() {
  SoundState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  Seed(s.random);
  for (SoundCategory c : {SoundCategory::Error, SoundCategory::Beer, SoundCategory::Info,
                          SoundCategory::Question, SoundCategory::FitDone, SoundCategory::Hi,
                          SoundCategory::Bye, SoundCategory::Ok}) {
    const std::string& base = BasePath(c);
    int count = 0;
    if (!base.empty()) {
      while (FileExists(MakeSoundVariantName(base, count + 1).c_str())) ++count;
    }
    s.count[Index(c)] = count;
  }
  s.initialised = true;
}

void PlayErrorSound() { PlayCategory(SoundCategory::Error, false); }
void PlayInfoSound() { PlayCategory(SoundCategory::Info, false); }
void PlayQuestionSound() { PlayCategory(SoundCategory::Question, false); }
void PlayFitDoneSound() { PlayCategory(SoundCategory::FitDone, false); }
void PlayHiSound() { PlayCategory(SoundCategory::Hi, true); }
void PlayByeSound() { PlayCategory(SoundCategory::Bye, false); }
void PlayOkSound() { PlayCategory(SoundCategory::Ok, false); }
void PlayBeerSound() { PlayCategory(SoundCategory::Beer, false); }

void MaybePlayInfoSound() {
  float p;
  {
    SoundState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    p = static_cast<float>(static_cast<double>(Draw(s.random) % 100 + 1) * 0.01);
  }
  if (p <= 0.2f) PlayInfoSound();
}

void SoundNoOp() {}

void PlaySoundFile(const char* fileName) { PlayFile(fileName, true); }
void PlaySoundFileSync(const char* fileName) { PlayFile(fileName, false); }

int SoundVariantCount(SoundCategory category) {
  SoundState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.count[Index(category)];
}

void ResetSounds() {
  SoundState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.initialised = false;
  for (int i = 0; i < kCategories; ++i) {
    s.count[i] = 0;
    s.last[i] = -1;
  }
  bPlaySounds = false;
}

}  // namespace tarmic
