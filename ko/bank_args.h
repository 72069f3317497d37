// The donor bank as the teeth calls receive it from a host: raw arrays the stamp sizes. Both the
// offline run and the pipeline attach copy them into a bank record the same way.
#pragma once

#include <cstdint>

#include "tessera/tessera.h"

namespace ko {

struct BankArgs {
  const uint8_t* bank = nullptr;
  int32_t nDonors = 0;
  const double* cent = nullptr;
  const double* cCanon = nullptr;
  const double* aperture = nullptr;
};

// Copies n_donors stored patches (sized by the stamp), their centres and apertures, and the canonical
// centre; a non-positive count copies no donors.
tessera::BankData copyBank(const BankArgs& a, const tessera::GeometryStamp& stamp);

}  // namespace ko
