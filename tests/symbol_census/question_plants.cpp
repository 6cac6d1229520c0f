// Planted in a scratch object for the census of the engine's questions: a Yes/No
// box asked directly, whose answer comes back past the one door (caught), and a
// question raised through it and a note (not counted).
#include "platform/types.h"
#include "services/engine_notice.h"

namespace tarmic {

bool PlantedDirectQuestion() { return RaiseBox("planted?", "PLANT", MB_YESNO, IDNO) == IDYES; }

bool PlantedQuestion() {
  RaiseNote("planted", "PLANT", MB_OK);
  return RaiseQuestion(QuestionId::SaveNewData, "planted?", "PLANT", MB_YESNO, IDNO) == IDYES;
}

}  // namespace tarmic
