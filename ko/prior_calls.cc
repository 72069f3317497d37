// The exported prior family: a bundle's movie-backed warp prior read row by row without a session.
#include <memory>
#include <string>

#include "bundle/bundle.h"
#include "driver/driver.h"
#include "ko/ko.h"
#include "ko/last_error.h"

struct ko_prior {
  ko::Manifest manifest;
  std::unique_ptr<ko::DriverCursor> cursor;
  std::string backend;  // kept so ko_prior_backend can hand out a stable pointer
};

using ko::ErrorFamily;

extern "C" {

KO_API ko_prior* ko_prior_open(const char* bundle_dir, int ahead, int hist) {
  ko::clearLastError(ErrorFamily::Session);
  if (!bundle_dir) {
    ko::setLastError(ErrorFamily::Session, "ko_prior_open", "NULL bundle_dir");
    return nullptr;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_prior_open", static_cast<ko_prior*>(nullptr), [&] {
    auto prior = std::make_unique<ko_prior>();
    prior->manifest = ko::loadManifest(bundle_dir);
    prior->cursor = ko::openBundlePrior(prior->manifest, ahead >= 1 ? ahead : 2, hist >= 0 ? hist : 0);
    prior->backend = prior->cursor->name();
    return prior.release();
  });
}

KO_API int ko_prior_row(ko_prior* prior, int index, uint16_t* out, size_t cap) {
  ko::clearLastError(ErrorFamily::Session);
  if (!prior || !out) {
    ko::setLastError(ErrorFamily::Session, "ko_prior_row", "NULL prior/out");
    return 0;
  }
  return ko::guardedCall(ErrorFamily::Session, "ko_prior_row", 0, [&] {
    const size_t rowBytes = prior->cursor->frameBytes();
    if (cap < rowBytes)
      throw std::invalid_argument("cap " + std::to_string(cap) + " < row bytes " + std::to_string(rowBytes));
    prior->cursor->pullAt(index, reinterpret_cast<uint8_t*>(out));
    return 1;
  });
}

KO_API size_t ko_prior_row_bytes(const ko_prior* prior) {
  return prior ? prior->cursor->frameBytes() : 0;
}

KO_API const char* ko_prior_backend(const ko_prior* prior) {
  return prior ? prior->backend.c_str() : "";
}

KO_API void ko_prior_close(ko_prior* prior) {
  delete prior;
}

}  // extern "C"
