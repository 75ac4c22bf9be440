// A synthetic three-channel acoustic-guitar take: plucked strings strummed in chords, heard
// by a mid and a side microphone and by the pickup (DI).
#pragma once

#include <string>

namespace vstrender {

bool writeDemoTake(const std::string& path, int sampleRate, double seconds, std::string& error);

}  // namespace vstrender
