// The object behind a ko_utt handle, for the calls that wrap it and the tests that check them.
#pragma once

#include "utt/utt.h"

struct ko_utt {
  ko_utt(const ko::utt::SessionParts& session, const ko::utt::UttRequest& request)
      : pipeline(session, request) {}
  ko::utt::UttPipeline pipeline;
};
