// Sound effects: eight event categories (error, info, question, fit done,
// greeting, good-bye, ok, beer), each with its numbered variants beside the base
// file of the path table (sounds/ok.wav, sounds/ok2.wav, ...). A different
// variant is drawn at random each time, avoiding an immediate repeat. Nothing is
// played while bPlaySounds is clear, before InitSounds has run, when a category has
// no file, or when no platform backend is installed.
#pragma once

#include <string>

namespace tarmic {

// Sounds on when set; 0 until the preference file is read at start-up.
extern bool bPlaySounds;

enum class SoundCategory { Error, Info, Question, FitDone, Hi, Bye, Ok, Beer };

// Seeds the variant draws from the clock and counts the variant files of every
// category (variants 1, 2, ... that exist without a gap). Until it has run every
// play operation does nothing.
void InitSounds();

void PlayErrorSound();
void PlayInfoSound();
void PlayQuestionSound();
void PlayFitDoneSound();
void PlayHiSound();
// The good-bye sound plays synchronously: the call returns when it has ended.
void PlayByeSound();
void PlayOkSound();
void PlayBeerSound();
// Plays the info sound with probability 0.2.
void MaybePlayInfoSound();
// Does nothing (called where a box has just closed).
void SoundNoOp();

// Plays one file when bPlaySounds is set and the file exists; asynchronously or
// returning when the sound has ended.
void PlaySoundFile(const char* fileName);
void PlaySoundFileSync(const char* fileName);

// The file name of variant k of a base path: the base itself for k <= 1, else the
// number inserted before the extension (".../info.wav", 4 -> ".../info4.wav").
// Empty for an empty base path.
std::string MakeSoundVariantName(const std::string& basePath, int k);

// The number of variant files InitSounds found for the category.
int SoundVariantCount(SoundCategory category);

// Back to the state before InitSounds: no counts, no last variants, sounds off.
void ResetSounds();

}  // namespace tarmic
