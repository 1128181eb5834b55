// qzflash-sim --replay: a D2XX trace, recorded on a real adapter or on the bench, played into
// the model; each answer the model gives is compared with the bytes the recorded reads returned.
#pragma once

#include <string>

#include "Bench.h"

namespace qzsim {

inline constexpr int kReplayAgrees = 0;
inline constexpr int kReplayDiffers = 1;
inline constexpr int kReplayUnusable = 2;

// Replays file on a bench of config with the flash of stateFile (none when empty; never saved).
// The verdict goes to standard output, a trace that cannot be replayed to standard error; the
// result is the exit status.
int ReplayTrace(const std::string& file, const BenchConfig& config, const std::string& stateFile);

}  // namespace qzsim
