// The effect runtime: one class per concern of an effect, chained from memory to the hooks
// through which the host adapter drives it. A concrete effect derives from TVintrel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/shared_double.h"
#include "runtime/slider.h"

class CVeST;

class CVintrelVeST : public CVintrelMemory {
public:
    CVeST* VeST = nullptr;  // the host adapter; not owned
};

class CVintrelSliders : public CVintrelVeST {
public:
    virtual ~CVintrelSliders() = default;
    virtual void DoSlider() {}
    // After a host set the one slider at `index`: an effect that knows what depends on it may
    // recompute only that; by default everything is.
    virtual void DoSliderChanged(std::int32_t /*index*/) { DoSlider(); }

    // Set on the host's threads while the audio thread reads them.
    std::array<vintrel::SharedDouble, 128> Sliders{};
};

class CVintrelSamples : public CVintrelSliders {
public:
    virtual void DoBlock() {}
    virtual void DoSample() {}

    std::array<double, 64> Samples{};
};

class CVintrelDescription : public CVintrelSamples {
public:
    // Appends a parameter row and returns its host index.
    std::int32_t AddParameter(std::int32_t index, double* mirror, double defaultValue, double min, double max,
                              double step, const std::string& path, const std::string& description,
                              const std::string& label, const std::string& name);

    // The host's parameter operations, by host index. An index outside the table reads
    // as 0.0, sets nothing and leaves text buffers untouched.
    const CVintrelSlider* SliderAt(std::int32_t hostIndex) const;
    double GetNormalized(std::int32_t hostIndex) const;
    void SetNormalized(std::int32_t hostIndex, double normalized);
    void DisplayText(std::int32_t hostIndex, char* buffer, std::size_t capacity) const;

    std::vector<CVintrelSlider> SliderInfos;
    std::string EffectName;
    std::string ProductString;
    std::string VendorString;
    std::string ProgramName;
    std::int32_t VendorVersion = 0;
    std::int32_t UniqueId = 0;
    std::int32_t Channels = 0;

private:
    void listDataFiles(CVintrelSlider& slider);
};

class CVintrelStrings : public CVintrelDescription {
public:
    std::map<std::int32_t, std::string> StringTable;
    std::map<std::int32_t, std::string> WorkStrings;  // for effects that build strings at run time
    double StringCount = 0.0;
};

class CVintrelFiles : public CVintrelStrings {
public:
    std::vector<CVintrelFile> Files = std::vector<CVintrelFile>(1);
};

// Editor-side state: no editor is ever created, so these only live and die with the object.
class CVintrelFonts : public CVintrelFiles {
public:
    std::map<std::int32_t, std::string> FontTable;
    double FontSize = 0.0;
};

class CVintrelGraphics : public CVintrelFonts {
public:
    std::map<std::int32_t, std::string> ImageTable;
    double DrawX = 0.0;
    double DrawY = 0.0;
    double GfxRate = 0.0;  // redraw rate in hertz; 0 or less switches redraw pacing off
};

class CVintrelMouse : public CVintrelGraphics {
public:
    double MouseCap = 0.0;
    double MouseX = 0.0;
    double MouseY = 0.0;
};

class TVintrel : public CVintrelMouse {
public:
    static constexpr float StateMarker = -1000.0f;

    ~TVintrel() override = default;

    virtual void DoReset();
    virtual void DoClose() {}
    virtual void DoSuspend() {}
    virtual void DoResume() {
        DoInit();
        DoSlider();
    }
    virtual void DoInit() {}
    virtual void DoInitOnce() {
        if (InitCount == 0) DoInit();
        ++InitCount;
    }
    virtual void DoGfx() {}
    virtual void DoIdle();
    virtual void DoSerialize() {}
    // Both answer a byte count: the size consumed, or the size of the chunk handed out.
    virtual std::int32_t LoadState(const void* data, std::int32_t byteSize, bool isPreset);
    virtual std::int32_t SaveState(void** data, bool isPreset);
    // Every parameter row's value at the nearest end of its range when a load left it outside.
    void HoldRowsInRange();

    std::int32_t IdleStamp = 0;
    std::int32_t InitCount = 0;
};
