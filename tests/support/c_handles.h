// Owning wrappers for the C interface's handles, so a failing assertion never leaks a session.
#pragma once

#include <memory>

#include "ko/ko.h"

namespace ko::test {

struct SessionCloser {
  void operator()(ko_ctx* ctx) const { ko_destroy(ctx); }
};
using SessionHandle = std::unique_ptr<ko_ctx, SessionCloser>;

struct PriorCloser {
  void operator()(ko_prior* prior) const { ko_prior_close(prior); }
};
using PriorHandle = std::unique_ptr<ko_prior, PriorCloser>;

}  // namespace ko::test
