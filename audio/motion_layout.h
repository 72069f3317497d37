// The fixed shapes of the motion model: its audio windows, its feature and motion rows, and where
// each value sits in the motion-parameter rows of its tables.
#pragma once

#include <cstdint>

#include "audio/frame_layout.h"

namespace ko::motion {

// One analysis window serves 5 video frames and starts 2000 samples before the first of them.
inline constexpr int kWindowFrames = 5;
inline constexpr int kWindowSamples = 6480;
inline constexpr int kWindowLead = 2000;
inline constexpr int kReflectPad = 256;
inline constexpr int kFftSize = 512;
inline constexpr int kHop = 320;
inline constexpr int kHops = 21;
inline constexpr int kFftBins = kFftSize / 2 + 1;  // 257 non-negative frequencies
inline constexpr int kMelBands = 80;

// The speech student: 80 x 21 log-mel values in, 20 frames of 1024 features out, of which frames
// 6 .. 15 pair up into the window's 5 video frames.
inline constexpr int kStudentFrames = 20;
inline constexpr int kSpeechFeatures = 1024;
inline constexpr int kStudentSkip = 6;

// A feature row: speech features, emotion, eye-open, eye-ball and sc channels.
inline constexpr int kEmotionValues = 8;
inline constexpr int kEyeOpenValues = 2;
inline constexpr int kEyeBallValues = 6;
inline constexpr int kScValues = 63;
inline constexpr int kFeatureValues =
    kSpeechFeatures + kEmotionValues + kEyeOpenValues + kEyeBallValues + kScValues;
static_assert(kFeatureValues == 1103);

// A generator chunk covers 80 frames; the next one starts 70 frames later.
inline constexpr int kChunkFrames = 80;
inline constexpr int kChunkAdvance = 70;
inline constexpr int kBlendFrames = kChunkFrames - kChunkAdvance;

inline constexpr int kBins = 66;
inline constexpr int kKeypoints = 21;

// A motion row (generator output): scale - 1, pitch, yaw and roll bins, t, exp.
namespace row {
inline constexpr int kScale = 0;
inline constexpr int kPitch = 1;
inline constexpr int kYaw = kPitch + kBins;
inline constexpr int kRoll = kYaw + kBins;
inline constexpr int kT = kRoll + kBins;
inline constexpr int kExp = kT + 3;
inline constexpr int kSmoothed = kExp;  // scale, rotations and translation are smoothed; exp is not
inline constexpr int kWidth = kExp + kKeypointValues;
static_assert(kWidth == 265 && kSmoothed == 202);
}  // namespace row

// A motion-parameter row of "ch_xs_info.bin" and "src_xs_info.bin": exp, kp, pitch, roll, scale, t,
// yaw.
namespace params {
inline constexpr int kExp = 0;
inline constexpr int kKp = kExp + kKeypointValues;
inline constexpr int kPitch = kKp + kKeypointValues;
inline constexpr int kRoll = kPitch + kBins;
inline constexpr int kScale = kRoll + kBins;
inline constexpr int kT = kScale + 1;
inline constexpr int kYaw = kT + 3;
inline constexpr int kWidth = kYaw + kBins;
static_assert(kWidth == 328);
}  // namespace params

}  // namespace ko::motion
