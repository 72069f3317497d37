#include "tessera/teeth_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "simd/half.h"
#include "tests/reference/simd_reference.h"
#include "tests/support/failure_text.h"
#include "tests/support/teeth_scene.h"
#include "tools/authoring/bank_sidecar.h"

namespace ko::tessera {
namespace {

using test::failureText;
using test::teethFrame;
using test::teethScene;

const std::string kDash = " \xe2\x80\x94 ";

float half(float v) {
  return half_bits::toFloat(f32ToF16(v));
}

size_t at(int32_t r, int32_t c, int32_t width) {
  return static_cast<size_t>(r) * static_cast<size_t>(width) + static_cast<size_t>(c);
}

// The retrieval written out plainly: every donor scored exactly by the same half-precision rules.
class BruteForce {
 public:
  BruteForce(const BankData& bank, const ServeConfig& config)
      : bank_(bank), config_(config), s_(bank.stamp) {}

  // Donor d's canonical window byte, black outside its stored patch.
  int donorByte(int32_t d, int32_t r, int32_t c, int32_t ch) const {
    const int32_t dy = static_cast<int32_t>(std::nearbyint(bank_.cent[2 * d + 1] - bank_.c_canon[1]));
    const int32_t dx = static_cast<int32_t>(std::nearbyint(bank_.cent[2 * d] - bank_.c_canon[0]));
    const int32_t sr = std::clamp(s_.pad + dy, 0, 2 * s_.pad) + r - (s_.band_r0 + s_.pad - s_.shift_margin);
    const int32_t sc = std::clamp(s_.pad + dx, 0, 2 * s_.pad) + c - (s_.band_c0 + s_.pad - s_.shift_margin);
    const int32_t storedH = s_.band_r1 - s_.band_r0 + 2 * s_.shift_margin;
    const int32_t storedW = s_.band_c1 - s_.band_c0 + 2 * s_.shift_margin;
    if (sr < 0 || sr >= storedH || sc < 0 || sc >= storedW) return 0;
    return bank_.bands[(static_cast<size_t>(d) * storedH * storedW + at(sr, sc, storedW)) * 3 + ch];
  }

  // The frame's window at the shift: crop bytes, pi and the teeth weights.
  void prepare(const test::TeethFrame& frame, FrameShift shift) {
    const int32_t H = s_.window_h, W = s_.window_w;
    q_.assign(static_cast<size_t>(H * W) * 3, 0);
    t_.assign(static_cast<size_t>(H * W), 0.0f);
    std::vector<bool> mouth(t_.size(), false);
    float teeth = 0;
    for (int32_t r = 0; r < H; ++r) {
      for (int32_t c = 0; c < W; ++c) {
        const int32_t y = s_.window_y0 + shift.sy + r, x = s_.window_x0 + shift.sx + c;
        if (y < 0 || x < 0 || y >= s_.canvas_h || x >= s_.canvas_w) continue;
        const size_t i = at(r, c, W);
        for (int ch = 0; ch < 3; ++ch) q_[i * 3 + ch] = frame.crop[at(y, x, s_.canvas_w) * 3 + ch];
        mouth[i] = frame.pi[at(y, x, s_.canvas_w)] >= 128;
        const int R = q_[i * 3], G = q_[i * 3 + 1], B = q_[i * 3 + 2];
        const bool bright = 0.299 * R + 0.587 * G + 0.114 * B >= config_.luma_min;
        t_[i] = mouth[i] && bright && std::abs(G - R) < config_.chroma_max ? 1.0f : 0.0f;
        teeth += t_[i];
      }
    }
    if (teeth < config_.min_teeth_px) {
      for (size_t i = 0; i < t_.size(); ++i) t_[i] = mouth[i] ? 1.0f : 0.0f;
    }
  }

  float pooledScore(int32_t d) const {
    const int32_t W = s_.window_w;
    float wp = 0;
    float sum = 0;
    for (int32_t y = 0; y < s_.window_h / 4; ++y) {
      for (int32_t x = 0; x < W / 4; ++x) {
        float a[3] = {0, 0, 0}, b[3] = {0, 0, 0}, weight = 0;
        for (int32_t r = 4 * y; r < 4 * y + 4; ++r) {
          for (int32_t c = 4 * x; c < 4 * x + 4; ++c) {
            for (int ch = 0; ch < 3; ++ch) {
              a[ch] += half(donorByte(d, r, c, ch) / 255.0f);
              b[ch] += q_[at(r, c, W) * 3 + ch] / 255.0f;
            }
            weight += t_[at(r, c, W)];
          }
        }
        const float w = half(weight / 16);
        wp += w;
        float m = 0;
        for (int ch = 0; ch < 3; ++ch) m += std::fabs(half(half(a[ch] / 16) - half(b[ch] / 16)));
        sum += half(half(m / 3) * w);
      }
    }
    return half(sum) / std::max(0.0001f, wp);
  }

  float exactScore(int32_t d) const {
    const auto v = [](int byte) { return half(byte / 255.0f); };
    float sum = 0, wsum = 0;
    for (size_t i = 0; i < t_.size(); ++i) {
      wsum += t_[i];
      if (t_[i] == 0) continue;
      const int32_t r = static_cast<int32_t>(i) / s_.window_w, c = static_cast<int32_t>(i) % s_.window_w;
      float e = 0;
      for (int ch = 0; ch < 3; ++ch) e += std::fabs(half(v(donorByte(d, r, c, ch)) - v(q_[i * 3 + ch])));
      sum += half(e / 3) * t_[i];
    }
    return sum / std::max(1.0f, wsum);
  }

 private:
  const BankData& bank_;
  const ServeConfig& config_;
  const GeometryStamp& s_;
  std::vector<uint8_t> q_;
  std::vector<float> t_;
};

std::vector<int32_t> ascending(const std::vector<float>& scores) {
  std::vector<int32_t> order(scores.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return scores[a] < scores[b]; });
  return order;
}

TEST(TeethPass, RefusesABankTheStampOrTheConfigurationCannotServe) {
  const test::TeethScene base = teethScene(3, 1);
  const size_t expected = 3 * 16 * 28 * 3;
  struct Case {
    const char* name;
    void (*change)(BankData&, ServeConfig&);
    std::string text;
  };
  const Case cases[] = {
      {"incoherent stamp", [](BankData& b, ServeConfig&) { b.stamp.pad = 0; },
       "teeth: GeometryStamp incoherent: pad/shift_margin must be positive;"},
      {"odd window", [](BankData& b, ServeConfig&) { b.stamp.window_w = 31; },
       "teeth: stamp window 16x31 has an odd side" + kDash +
           "the blend head works at half size and needs even sides"},
      {"no donors", [](BankData& b, ServeConfig&) { b.n_donors = 0; },
       "teeth: the bank holds no donors (n_donors=0)"},
      {"short bands", [](BankData& b, ServeConfig&) { b.bands.pop_back(); },
       "teeth: reference track is " + std::to_string(expected - 1) + " bytes, the stamp requires " +
           std::to_string(expected) + " (n * stored_h * stored_w * 3)" + kDash +
           "a decoder that delivered a different pixel format would land here"},
      {"apertures", [](BankData& b, ServeConfig&) { b.aperture.pop_back(); },
       "teeth: bank sidecar arrays disagree with n_donors"},
      {"centres", [](BankData& b, ServeConfig&) { b.cent.push_back(1.0); },
       "teeth: bank sidecar arrays disagree with n_donors"},
      {"no candidates", [](BankData&, ServeConfig& c) { c.K = 0; },
       "teeth: serving config K=0, kshort=8 leaves no candidate to blend (K must be 1..1024, kshort at least "
       "1)"},
  };
  for (const Case& c : cases) {
    BankData bank = base.bank;
    ServeConfig config = base.config;
    c.change(bank, config);
    EXPECT_EQ(failureText([&] { TeethPass(bank, base.weights, config); }), c.text) << c.name;
  }
}

TEST(TeethPass, RetrievalAgreesWithEveryDonorScoredPlainly) {
  test::TeethScene scene = teethScene(24, 7);
  struct Case {
    const char* name;
    FrameShift shift;
    double apertureTol;
    int32_t cut;
  };
  const Case cases[] = {{"centred", {0, 0}, 0.3, 6},
                        {"shifted", {-3, 4}, 0.3, 6},
                        {"only the best passes", {1, -2}, 0.0, 6},
                        {"nothing walked", {0, 0}, 0.3, 0}};
  for (const Case& c : cases) {
    scene.config.aperture_tol = c.apertureTol;
    scene.config.cut = c.cut;
    TeethPass pass(scene.bank, scene.weights, scene.config);
    const test::TeethFrame frame = teethFrame(scene.bank, c.shift, 11);
    const Retrieval got = pass.retrieve(pass.retrievePrepare(frame.crop.data(), frame.pi.data(), c.shift));

    BruteForce plain(scene.bank, scene.config);
    plain.prepare(frame, c.shift);
    std::vector<float> pooled(24);
    for (int32_t d = 0; d < 24; ++d) pooled[d] = plain.pooledScore(d);
    EXPECT_EQ(got.pooled, pooled) << c.name;
    std::vector<int32_t> shortlist = ascending(pooled);
    shortlist.resize(8);
    ASSERT_EQ(got.shortlist, shortlist) << c.name;
    std::vector<float> exact;
    for (int32_t d : shortlist) exact.push_back(plain.exactScore(d));
    EXPECT_EQ(got.exact, exact) << c.name;

    const std::vector<int32_t> byExact = ascending(exact);
    const int32_t best = shortlist[byExact[0]];
    const double a0 = scene.bank.aperture[best];
    std::vector<int32_t> kept;
    for (int32_t i = 0; i < std::min<int32_t>(c.cut, 8) && kept.size() < 4; ++i) {
      const int32_t d = shortlist[byExact[i]];
      if (std::fabs(scene.bank.aperture[d] - a0) <= std::max(1e-6, a0) * c.apertureTol) kept.push_back(d);
    }
    if (kept.empty()) kept.push_back(best);
    kept.resize(4, kept.back());
    EXPECT_EQ(got.selected, kept) << c.name;
    if (c.apertureTol == 0.0 || c.cut == 0) {
      EXPECT_EQ(got.selected, std::vector<int32_t>(4, best)) << c.name;
    }
  }
}

TEST(TeethPass, TeethWeightsFallBackToTheMouthAndDecayFromFrameToFrame) {
  const test::TeethScene scene = teethScene(2, 3);
  TeethPass pass(scene.bank, scene.weights, scene.config);
  const GeometryStamp& s = scene.bank.stamp;
  const size_t pixels = static_cast<size_t>(s.canvas_w * s.canvas_h);
  std::vector<uint8_t> crop(pixels * 3, 20);  // too dark for teeth anywhere
  std::vector<uint8_t> pi(pixels, 0);
  const size_t mouth = at(s.window_y0 + 8, s.window_x0 + 10, s.canvas_w);
  for (size_t c = 0; c < 12; ++c) pi[mouth + c] = 200;
  const RetrievalQuery first = pass.retrievePrepare(crop.data(), pi.data(), {0, 0});
  EXPECT_EQ(std::accumulate(first.teeth.begin(), first.teeth.end(), 0.0f), 12.0f);
  EXPECT_EQ(first.teeth[at(8, 10, s.window_w)], 1.0f);
  EXPECT_EQ(first.r0, 8);
  EXPECT_EQ(first.r1, 9);
  EXPECT_EQ(first.wsum, 12.0f);

  std::fill(pi.begin(), pi.end(), 0);
  const RetrievalQuery second = pass.retrievePrepare(crop.data(), pi.data(), {0, 0});
  EXPECT_EQ(second.teeth[at(8, 10, s.window_w)], static_cast<float>(0.6 * 1.0f));
  EXPECT_FLOAT_EQ(second.wsum, 12 * 0.6f);
}

TEST(TeethPass, ShiftsComeFromPiUnlessGivenAndStayWithinThePad) {
  const test::TeethScene scene = teethScene(2, 3);
  const TeethPass pass(scene.bank, scene.weights, scene.config);
  const test::TeethFrame frame = teethFrame(scene.bank, {2, -3}, 5);
  const std::vector<uint8_t> empty(frame.pi.size(), 127);
  struct Case {
    const std::vector<uint8_t>* pi;
    const FrameShift* given;
    bool ok;
    FrameShift shift;
    const char* reason;
  };
  const FrameShift atPad{4, -4}, pastPadY{5, 0}, pastPadX{0, -5};
  const Case cases[] = {{&frame.pi, nullptr, true, {2, -3}, ""},
                        {&empty, nullptr, false, {}, "empty-pi"},
                        {&empty, &atPad, true, atPad, ""},
                        {&frame.pi, &pastPadY, false, {}, "shift-out-of-range"},
                        {&frame.pi, &pastPadX, false, {}, "shift-out-of-range"}};
  for (const Case& c : cases) {
    FrameShift shift;
    std::string reason;
    EXPECT_EQ(pass.deriveShift(c.pi->data(), c.given, shift, reason), c.ok) << c.reason;
    EXPECT_EQ(reason, c.reason);
    if (c.ok) {
      EXPECT_EQ(std::make_pair(shift.sy, shift.sx), std::make_pair(c.shift.sy, c.shift.sx));
    }
  }
}

// The head's candidate branch in plain loops: pooling, the 7-channel input, three zero-padded
// convolutions (the scalar reference), the half-pixel upsample, softmax and the blend.
struct PlainHead {
  const HeadWeights& wt;
  int32_t H, W;

  static std::vector<float> conv(const std::vector<float>& in, int32_t cin, int32_t h, int32_t w,
                                 const std::vector<float>& k, const std::vector<float>& bias, int32_t cout,
                                 bool relu) {
    std::vector<float> out(static_cast<size_t>(cout * h * w));
    reference::conv3x3Range(in.data(), 1, cin, h, w, k.data(), bias.data(), cout, out.data(), 0, cout);
    if (relu) {
      for (float& v : out) v = std::max(v, 0.0f);
    }
    return out;
  }

  std::vector<float> logit(const float* cand, const float* query) const {
    const int32_t h = H / 2, w = W / 2;
    std::vector<float> in(static_cast<size_t>(7 * h * w));
    const auto pooled = [&](const float* plane, int32_t y, int32_t x) {
      return (plane[at(2 * y, 2 * x, W)] + plane[at(2 * y, 2 * x + 1, W)] + plane[at(2 * y + 1, 2 * x, W)] +
              plane[at(2 * y + 1, 2 * x + 1, W)]) *
             0.25f;
    };
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        float diff = 0;
        for (int32_t ch = 0; ch < 3; ++ch) {
          const float a = pooled(cand + ch * H * W, y, x), b = pooled(query + ch * H * W, y, x);
          in[(ch * h + y) * w + x] = a;
          in[((ch + 3) * h + y) * w + x] = b;
          diff += std::fabs(a - b);
        }
        in[(6 * h + y) * w + x] = diff / 3;
      }
    }
    const std::vector<float> l = conv(
        conv(conv(in, 7, h, w, wt.cand0_w, wt.cand0_b, 16, true), 16, h, w, wt.cand2_w, wt.cand2_b, 16, true),
        16, h, w, wt.cand4_w, wt.cand4_b, 1, false);
    std::vector<float> up(static_cast<size_t>(H * W));
    for (int32_t oy = 0; oy < H; ++oy) {
      for (int32_t ox = 0; ox < W; ++ox) {
        const float sy = std::max(0.0f, (oy + 0.5f) * 0.5f - 0.5f),
                    sx = std::max(0.0f, (ox + 0.5f) * 0.5f - 0.5f);
        const int32_t y0 = static_cast<int32_t>(sy), x0 = static_cast<int32_t>(sx);
        const int32_t y1 = std::min(y0 + 1, h - 1), x1 = std::min(x0 + 1, w - 1);
        const float fy = sy - y0, fx = sx - x0;
        const float top = l[at(y0, x0, w)] * (1 - fx) + l[at(y0, x1, w)] * fx;
        const float bottom = l[at(y1, x0, w)] * (1 - fx) + l[at(y1, x1, w)] * fx;
        up[at(oy, ox, W)] = top * (1 - fy) + bottom * fy;
      }
    }
    return up;
  }
};

TEST(TeethPass, HeadForwardMatchesAPlainConvolutionAndBlendsOnlyValidPixels) {
  const test::TeethScene scene = teethScene(5, 9);
  const TeethPass pass(scene.bank, scene.weights, scene.config);
  const int32_t H = 16, W = 32, kc = 3;
  const size_t full = H * W;
  const std::vector<int32_t> donors = {4, 1, 2};
  const std::vector<float> cands = pass.gatherWindowsU8(donors, {1, -2});
  std::vector<float> query(3 * full);
  for (size_t i = 0; i < query.size(); ++i) query[i] = static_cast<float>((i * 37) % 256) / 255.0f;
  std::vector<uint8_t> valid(full, 1);
  for (size_t i = 0; i < full; i += 5) valid[i] = 0;
  std::vector<float> Y(3 * full), w((kc + 1) * full);
  pass.headForward(cands.data(), kc, query.data(), valid.data(), Y.data(), w.data());

  const PlainHead plain{scene.weights, H, W};
  std::vector<std::vector<float>> logits;
  for (int32_t k = 0; k < kc; ++k) logits.push_back(plain.logit(cands.data() + k * 3 * full, query.data()));
  for (size_t i = 0; i < full; ++i) {
    const float top = std::max({logits[0][i], logits[1][i], logits[2][i]});
    float sum = 0, total = 0;
    for (int32_t k = 0; k < kc; ++k) sum += std::exp(logits[k][i] - top);
    for (int32_t k = 0; k < kc; ++k) {
      EXPECT_NEAR(w[k * full + i], std::exp(logits[k][i] - top) / sum, 1e-5) << "pixel " << i;
      total += w[k * full + i];
    }
    EXPECT_NEAR(total, 1.0f, 1e-5);
    EXPECT_EQ(w[kc * full + i], 0.0f);
    for (size_t ch = 0; ch < 3; ++ch) {
      float blended = 0;
      for (int32_t k = 0; k < kc; ++k) blended += w[k * full + i] * cands[(k * 3 + ch) * full + i];
      if (valid[i]) {
        EXPECT_NEAR(Y[ch * full + i], blended, 1e-6);
      } else {
        EXPECT_EQ(Y[ch * full + i], query[ch * full + i]);
      }
    }
  }
}

// A donor listed more than once is convolved once; the result is that of every copy run through.
TEST(TeethPass, RepeatedCandidatesBlendAsIfEachRanThroughTheHead) {
  const test::TeethScene scene = teethScene(5, 9);
  const TeethPass pass(scene.bank, scene.weights, scene.config);
  const size_t full = 16 * 32;
  const std::vector<int32_t> slots = {0, 1, 0, 2, 1};
  const std::vector<float> distinct = pass.gatherWindowsU8({3, 0, 4}, {0, 1});
  const std::vector<float> expanded = pass.gatherWindowsU8({3, 0, 3, 4, 0}, {0, 1});
  std::vector<float> query(3 * full, 0.4f);
  const std::vector<uint8_t> valid(full, 1);
  std::vector<float> Y1(3 * full), Y2(3 * full), w1(6 * full), w2(6 * full);
  pass.headForwardDistinct(distinct.data(), 3, slots, query.data(), valid.data(), Y1.data(), w1.data());
  pass.headForward(expanded.data(), 5, query.data(), valid.data(), Y2.data(), w2.data());
  EXPECT_EQ(Y1, Y2);
  EXPECT_EQ(w1, w2);
}

TEST(TeethPass, EmitsEachFrameWhenTheNextArrivesAndCarriesItsMostUsedDonors) {
  const test::TeethScene scene = teethScene(24, 13);
  TeethPass pass(scene.bank, scene.weights, scene.config);
  const test::TeethFrame frames[] = {teethFrame(scene.bank, {0, 0}, 1), teethFrame(scene.bank, {1, 1}, 2),
                                     teethFrame(scene.bank, {0, 0}, 3)};
  FrameResult result;
  EXPECT_FALSE(pass.flush(result));
  EXPECT_FALSE(pass.push(0, frames[0].crop.data(), frames[0].pi.data(), nullptr, result));
  EXPECT_EQ(pass.carriedFrame(), -2);

  // Frame 0's candidates and weights, worked out before the pass emits it on the next push.
  TeethPass probe(scene.bank, scene.weights, scene.config);
  const auto listOf = [&](const test::TeethFrame& f) {
    FrameShift shift;
    std::string reason;
    EXPECT_TRUE(probe.deriveShift(f.pi.data(), nullptr, shift, reason));
    return std::make_pair(probe.retrieve(probe.retrievePrepare(f.crop.data(), f.pi.data(), shift)).selected,
                          shift);
  };
  const auto [list0, shift0] = listOf(frames[0]);
  const auto [list1, shift1] = listOf(frames[1]);
  const std::vector<int32_t> cands = probe.candidateSet(0, list0, &list1);
  const size_t full = 16 * 32;
  std::vector<float> query(3 * full);
  const GeometryStamp& s = scene.bank.stamp;
  for (size_t i = 0; i < full; ++i) {
    for (size_t ch = 0; ch < 3; ++ch) {
      query[ch * full + i] =
          frames[0].crop[(at(s.window_y0 + i / 32, s.window_x0 + i % 32, 64)) * 3 + ch] / 255.0f;
    }
  }
  std::vector<float> Y(3 * full), w((cands.size() + 1) * full);
  probe.headForward(probe.gatherWindowsU8(cands, shift0).data(), static_cast<int32_t>(cands.size()),
                    query.data(), pass.bandMask().data(), Y.data(), w.data());
  std::vector<float> usage;
  for (size_t k = 0; k < cands.size(); ++k)
    usage.push_back(-std::accumulate(w.begin() + k * full, w.begin() + (k + 1) * full, 0.0f));
  std::vector<int32_t> mostUsed;
  for (int32_t k : ascending(usage)) mostUsed.push_back(cands[k]);
  mostUsed.resize(2);

  ASSERT_TRUE(pass.push(1, frames[1].crop.data(), frames[1].pi.data(), nullptr, result));
  EXPECT_FALSE(result.skipped);
  EXPECT_EQ(result.window.size(), full * 3);
  EXPECT_EQ(result.n_chosen, static_cast<int32_t>(cands.size()));
  EXPECT_EQ(pass.carriedSet(), mostUsed);
  EXPECT_EQ(pass.carriedFrame(), 0);

  // The next frame starts from the carried set; a frame that does not follow it starts afresh.
  const std::vector<int32_t> next = {20, 21};
  const std::vector<int32_t> following = pass.candidateSet(1, list1, &next);
  EXPECT_TRUE(std::equal(mostUsed.begin(), mostUsed.end(), following.begin()));
  std::vector<int32_t> fresh = {20, 21};
  for (int32_t d : list1) {
    if (d != 20 && d != 21) fresh.push_back(d);
  }
  fresh.resize(std::min<size_t>(fresh.size(), 4));
  EXPECT_EQ(pass.candidateSet(5, list1, &next), fresh);

  EXPECT_TRUE(pass.push(3, frames[2].crop.data(), frames[2].pi.data(), nullptr, result));
  EXPECT_TRUE(pass.flush(result));
  EXPECT_FALSE(result.skipped);
  EXPECT_FALSE(pass.flush(result));
  EXPECT_EQ(pass.stats().frames, 3);
}

TEST(TeethPass, SkipsAFrameWithoutAMouthAndGoesOn) {
  const test::TeethScene scene = teethScene(6, 2);
  TeethPass pass(scene.bank, scene.weights, scene.config);
  const test::TeethFrame mouth = teethFrame(scene.bank, {0, 0}, 1);
  const std::vector<uint8_t> noPi(mouth.pi.size(), 0);
  const FrameShift outside{0, 5};
  FrameResult result;
  pass.push(0, mouth.crop.data(), noPi.data(), nullptr, result);
  ASSERT_TRUE(pass.push(1, mouth.crop.data(), mouth.pi.data(), &outside, result));
  EXPECT_TRUE(result.skipped);
  EXPECT_EQ(result.reason, "empty-pi");
  EXPECT_TRUE(result.window.empty());
  ASSERT_TRUE(pass.push(2, mouth.crop.data(), mouth.pi.data(), nullptr, result));
  EXPECT_EQ(result.reason, "shift-out-of-range");
  ASSERT_TRUE(pass.flush(result));
  EXPECT_FALSE(result.skipped);
}

// Windows flush with the crop's edges: every shift within the pad reads only inside the crop and the
// stored patches (run under AddressSanitizer to see it).
TEST(TeethPass, ExtremeShiftsAtTheCropEdgeStayInsideTheirBuffers) {
  GeometryStamp edge = authoring::BankSidecarSpec::smallStamp();
  edge.window_x0 = 0;
  edge.window_y0 = 48;
  const test::TeethScene scene = teethScene(6, 4, edge);
  TeethPass pass(scene.bank, scene.weights, scene.config);
  const test::TeethFrame frame = teethFrame(scene.bank, {0, 0}, 1);
  const int32_t pad = edge.pad;
  int32_t frameNo = 0;
  FrameResult result;
  int32_t written = 0;
  for (int32_t sy : {-pad, pad}) {
    for (int32_t sx : {-pad, pad}) {
      const FrameShift shift{sy, sx};
      if (pass.push(frameNo++, frame.crop.data(), frame.pi.data(), &shift, result))
        written += !result.skipped;
    }
  }
  if (pass.flush(result)) written += !result.skipped;
  EXPECT_EQ(written, 4);
}

}  // namespace
}  // namespace ko::tessera
