// One host-visible parameter: where its value lives in Sliders, its range, step and texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CVintrelSlider {
public:
    std::vector<std::string> Labels;
    bool Resolved = false;
    std::int32_t Index = 0;
    double* Mirror = nullptr;  // not owned
    double Default = 0.0;
    double Min = 0.0;
    double Max = 1.0;
    double Step = 1.0;
    std::string Path;
    std::string Description;  // kept with the row; nothing reads it
    std::string Label;
    std::string Name;
};
