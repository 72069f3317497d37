// `ko info`: what a bundle holds and how the library reads it. The figures and members come from the
// C interface; the library itself reports its driver source, its decoders and, with --model, what
// its load-time rewrites did to the director, as lines on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ko/bundle_access.h"
#include "tools/ko/commands.h"

namespace ko::cli {
namespace {

constexpr const char* kInfoHelp =
    "usage: ko info BUNDLE [--model KEY]\n"
    "Prints the bundle's figures (source frames, frame size, crop, idle-loop rows), every member the\n"
    "library reads with the name it was found under (legacy or current), the director networks, the\n"
    "prior's backend, whether a lip template shapes the mouth's compose and, with --model KEY, loads that\n"
    "director so the library reports its backend and load-time rewrites (the compose path among them).\n"
    "It lists the four teeth members and says whether the borrow would arm, or why it is refused.\n"
    "The library's own reports go to standard error.\n";

// The members a session reads, by legacy name; the library maps each to its current name.
constexpr const char* kMembers[] = {
    "manifest.json", "P.f16",        "P_hevc.mov",        "fs_red.f16",          "pooled64.f16",
    "M.f32",         "mask_512.u8",  "drive/xs.f32",      "drive/xd.f32",        "drive/si.i32",
    "xs_target.bin", "a2x_dec.onnx", "target_frames.mp4", "a2x_enc_stream.onnx", "lip_template.v1.json"};

std::string relativeTo(const std::string& dir, const std::string& path) {
  return path.starts_with(dir + "/") ? path.substr(dir.size() + 1) : path;
}

void printMembers(const std::string& bundle, const std::string& dir) {
  std::printf("members\n");
  for (const char* legacy : kMembers) {
    const std::optional<MemberPath> member = memberPath(bundle, legacy);
    if (!member || !member->present) continue;
    const std::string stored = relativeTo(dir, member->path);
    std::printf("  %-20s %s\n", legacy, stored == legacy ? "(legacy name)" : stored.c_str());
  }
}

void printDirectors(const std::string& dir) {
  const std::vector<std::string> networks = directorNetworks(dir);
  std::printf("directors\n");
  for (const std::string& name : networks) {
    const std::string key = directorKey(name);
    std::printf("  %-28s %s\n", name.c_str(), key.empty() ? "" : ("--model " + key).c_str());
  }
  if (networks.empty()) std::printf("  (none)\n");
}

void printPrior(const std::string& bundle) {
  const Prior prior(ko_prior_open(bundle.c_str(), 1, 0));
  if (prior) {
    std::printf("prior      movie, decoded by %s\n", ko_prior_backend(prior.get()));
    return;
  }
  for (const char* raw : {"P.f16", "fs_red.f16"}) {
    const std::optional<MemberPath> member = memberPath(bundle, raw);
    if (member && member->present) {
      std::printf("prior      %s, mapped half-float tensors\n", raw);
      return;
    }
  }
  std::printf("prior      none\n");
}

void printCompose(const std::string& bundle) {
  const std::optional<MemberPath> lips = memberPath(bundle, "lip_template.v1.json");
  if (lips && lips->present) {
    std::printf(
        "compose    lip_template.v1.json: the director's compose alpha follows the identity's lip contour; "
        "with --model the library reports whether it spliced the template's compose v2 graph or bound the "
        "contour to the graph's alpha\n");
    return;
  }
  std::printf("compose    no lip template: the director composes the mouth with its own ellipse\n");
}

// The four teeth members and whether the borrow would arm: all four loaded and cross-checked, or the
// library's refusal sentence.
void printTeeth(const std::string& bundle, const std::string& dir) {
  const Carriage owned(ko_tessera_carriage_open(bundle.c_str()));
  ko_tessera_carriage* carriage = owned.get();
  std::printf("teeth\n");
  for (int slot = 0; slot < ko_tessera_slot_count(); ++slot) {
    const char* key = ko_tessera_slot_key(slot);
    bool present = true;
    for (int i = 0; i < ko_tessera_carriage_missing_count(carriage); ++i) {
      present = present && std::string(ko_tessera_carriage_missing(carriage, i)) != key;
    }
    std::printf("  %-20s %s%s\n", key, relativeTo(dir, ko_tessera_carriage_path(carriage, key)).c_str(),
                present ? "" : " (missing)");
  }
  char err[2048];
  const Members members(ko_tessera_members_open(bundle.c_str(), err, sizeof err));
  if (!members) {
    std::printf("borrow     refused: %s\n", err);
    return;
  }
  std::printf("borrow     arms: %d donors, stored patch %dx%d, bank %s %s in %s\n",
              ko_tessera_members_n_donors(members.get()), ko_tessera_members_band_w(members.get()),
              ko_tessera_members_band_h(members.get()), ko_tessera_members_bank_codec(members.get()),
              ko_tessera_members_bank_pix_fmt(members.get()),
              ko_tessera_members_bank_container(members.get()));
}

// Building the renderer is what makes the library report its backend and rewrites.
int loadDirector(ko_ctx* ctx, const std::string& model) {
  std::printf("director   model_%s.onnx: loading; the library's report follows on standard error\n",
              model.c_str());
  std::fflush(stdout);
  if (ko_drive_frames(ctx) > 0) {
    if (!ko_render_drive_crop(ctx, 0)) return libraryError();
  } else {
    const std::vector<float> still(static_cast<size_t>(3 * ko_host_kp_rows()), 0.0f);
    if (!ko_render_kp_crop(ctx, 0, still.data(), still.data())) return libraryError();
  }
  std::printf("director   model_%s.onnx: renders\n", model.c_str());
  return 0;
}

int runInfo(const std::vector<std::string>& args) {
  const std::optional<Arguments> parsed = parseArguments(args, {"model"});
  if (!parsed || parsed->positional.size() != 1) return usageError(kInfoHelp);
  const std::string& bundle = parsed->positional[0];
  const std::optional<std::string> dir = bundleDirectory(bundle);
  if (!dir) return libraryError();
  const auto model = parsed->options.find("model");
  const std::string key = model == parsed->options.end() ? "" : model->second;
  std::printf("bundle     %s\n", dir->c_str());
  std::fflush(stdout);
  const Session session(ko_create(bundle.c_str(), key.c_str(), 1, nullptr));
  if (!session) return libraryError();
  ko_ctx* ctx = session.get();
  std::printf("frames     %d source frames of %dx%d, crop %d, idle loop of %d rows\n", ko_nt(ctx),
              ko_width(ctx), ko_height(ctx), ko_crop(ctx), ko_drive_frames(ctx));
  printMembers(bundle, *dir);
  printDirectors(*dir);
  printPrior(bundle);
  printCompose(bundle);
  printTeeth(bundle, *dir);
  return key.empty() ? 0 : loadDirector(ctx, key);
}

}  // namespace

const Command kInfoCommand{"info", kInfoHelp, runInfo};

}  // namespace ko::cli
