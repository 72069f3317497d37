#include "tools/demo/demo_motion.h"

#include "tools/authoring/speech_models.h"
#include "tools/demo/demo_a2x.h"
#include "tools/demo/demo_keypoints.h"

namespace ko::demo {

// Every source frame paints the face at its neutral geometry (only the light and the paste transform
// change from frame to frame), and the idle loop drives every row from the neutral keypoints
// (drive/xs.f32). So source frame r's idle keypoints are the neutral ones whatever r is: rendered with
// source = driving = row r it shows its own prior, the face driver frame r is pasted with, and a delta
// added to the row moves the painted feature its keypoint names. The idle loop's own lip motion stays
// out of the rows: it would put the driving lips where the prior has none.
std::vector<float> idleTargets(const DemoRecipe& recipe) {
  const std::vector<float> neutral = neutralKeypoints();
  std::vector<float> rows;
  for (int r = 0; r < recipe.NT; ++r) rows.insert(rows.end(), neutral.begin(), neutral.end());
  return rows;
}

std::vector<float> mouthReach() {
  IdlePose open;
  open.mouth = 1.0;
  std::vector<float> reach = posedKeypoints(open);
  const std::vector<float> neutral = neutralKeypoints();
  for (size_t i = 0; i < reach.size(); ++i) reach[i] -= neutral[i];
  return reach;
}

void writeDemoMotion(const DemoRecipe& recipe, const std::string& dir) {
  const authoring::SpeechRecipe speech{};
  authoring::writeSpeechEncoderFiles(dir, speech, authoring::kWindowPairNames);
  authoring::A2xMotionFiles files = demoA2xFiles(authoring::speechSilenceRow(speech), mouthReach());
  files.xsTarget = idleTargets(recipe);
  authoring::writeA2xMotionFiles(dir, files);
}

}  // namespace ko::demo
