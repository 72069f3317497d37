// Borrowed teeth for a speaking pipeline, armed from the bundle's own teeth members the way any host
// does it through the public interface: open the members, decode the bank with the library's
// decoder, attach.
#pragma once

#include <string>

#include "ko/ko.h"

namespace ko::cli {

struct TeethArming {
  std::string refusal;  // empty once the pipeline is armed
  int donors = 0;
};

// Opens the teeth members of a bundle directory, decodes the bank and attaches the borrow to utt.
TeethArming attachBundleTeeth(ko_utt* utt, const std::string& dir);

// Auto: arm the teeth when the bundle declares them, and speak without them if it refuses (saying
// why). Required: a refusal stops the run. Off: never arm them.
enum class TeethChoice { Auto, Required, Off };

// False only when teeth were required and could not be armed; every refusal is printed.
bool armTeeth(ko_utt* utt, const std::string& bundle, TeethChoice choice);

// "teeth      applied N frames ..." for a run that had them armed; nothing otherwise.
void printTeethSummary(ko_utt* utt);

}  // namespace ko::cli
