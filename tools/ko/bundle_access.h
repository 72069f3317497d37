// How the host reaches a bundle through the public interface: an owned session and pipeline, the
// bundle's directory and its members under legacy or current names.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ko/ko.h"

namespace ko::cli {

struct SessionCloser {
  void operator()(ko_ctx* ctx) const { ko_destroy(ctx); }
};
using Session = std::unique_ptr<ko_ctx, SessionCloser>;

struct PriorCloser {
  void operator()(ko_prior* prior) const { ko_prior_close(prior); }
};
using Prior = std::unique_ptr<ko_prior, PriorCloser>;

struct PipelineCloser {
  void operator()(ko_utt* utt) const { ko_utt_destroy(utt); }
};
using Pipeline = std::unique_ptr<ko_utt, PipelineCloser>;

struct CarriageCloser {
  void operator()(ko_tessera_carriage* carriage) const { ko_tessera_carriage_close(carriage); }
};
using Carriage = std::unique_ptr<ko_tessera_carriage, CarriageCloser>;

struct MembersCloser {
  void operator()(ko_tessera_members* members) const { ko_tessera_members_close(members); }
};
using Members = std::unique_ptr<ko_tessera_members, MembersCloser>;

// The bundle's directory (a container is unpacked once); nullopt with the library's error set.
std::optional<std::string> bundleDirectory(const std::string& bundle);

// The path of a member asked for by its legacy name, and whether the file opens.
struct MemberPath {
  std::string path;
  bool present = false;
};
std::optional<MemberPath> memberPath(const std::string& bundle, const std::string& legacyName);

// The director networks in a bundle directory, sorted: "model_KEY.onnx" (loaded with --model KEY) and
// "render_model.*.onnx".
std::vector<std::string> directorNetworks(const std::string& dir);

// KEY of a "model_KEY.onnx" name; empty for any other name.
std::string directorKey(const std::string& network);

// The idle loop's source index per row ("drive/si.i32"): `rows` values, each checked against nt.
// nullopt, after printing why, when the member is missing, short or out of range.
std::optional<std::vector<int32_t>> idleLoopSources(const std::string& bundle, int rows, int nt);

}  // namespace ko::cli
