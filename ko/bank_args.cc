#include "ko/bank_args.h"

#include <cstddef>

namespace ko {

tessera::BankData copyBank(const BankArgs& a, const tessera::GeometryStamp& stamp) {
  tessera::BankData bank;
  bank.stamp = stamp;
  bank.n_donors = a.nDonors;
  const size_t n = a.nDonors > 0 ? static_cast<size_t>(a.nDonors) : 0;
  const size_t storedH =
      static_cast<size_t>(stamp.band_r1 - stamp.band_r0) + 2 * static_cast<size_t>(stamp.shift_margin);
  const size_t storedW =
      static_cast<size_t>(stamp.band_c1 - stamp.band_c0) + 2 * static_cast<size_t>(stamp.shift_margin);
  bank.bands.assign(a.bank, a.bank + storedH * storedW * 3 * n);
  bank.cent.assign(a.cent, a.cent + 2 * n);
  bank.aperture.assign(a.aperture, a.aperture + n);
  bank.c_canon[0] = a.cCanon[0];
  bank.c_canon[1] = a.cCanon[1];
  return bank;
}

}  // namespace ko
