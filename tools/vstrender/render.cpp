#include "tools/vstrender/render.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "tools/vstrender/errors.h"

namespace vstrender {

namespace {

// Shows progress on standard error once a render has taken half a second.
class Progress {
public:
    explicit Progress(bool enabled, std::uint64_t total) : enabled_(enabled && isatty(2)), total_(total) {}
    void update(std::uint64_t done) {
        if (!enabled_ || total_ == 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        const int width = 40, filled = static_cast<int>(width * done / total_);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(width - filled), '.').c_str(),
                     static_cast<int>(100 * done / total_));
    }
    ~Progress() {
        if (shown_) std::fprintf(stderr, "\r%60s\r", "");
    }

private:
    bool enabled_;
    std::uint64_t total_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_;
};

template <class Sample>
sf_count_t writeFrames(SNDFILE* file, const Sample* buffer, sf_count_t frames) {
    if constexpr (sizeof(Sample) == sizeof(float))
        return sf_writef_float(file, buffer, frames);
    else
        return sf_writef_double(file, buffer, frames);
}

// Streams the inputs through the plug-in in blocks: memory does not grow with the file. Stops
// where an input ends, which is before its header says when the file is damaged.
template <class Sample>
RenderResult render(vsthost::Plugin& plugin, Inputs& inputs, const Render& r) {
    const int ins = plugin.numInputs(), outs = plugin.numOutputs();
    const auto block = static_cast<std::size_t>(r.blockSize);
    auto channels = [&](int n) {
        return std::vector<std::vector<Sample>>(static_cast<std::size_t>(std::max(n, 1)), std::vector<Sample>(block));
    };
    auto in = channels(ins), outBuffers = channels(outs), plainBuffers = channels(outs);
    std::vector<Sample*> inPtr, outPtr, plainPtr, pickedPtr;
    for (auto& c : in) inPtr.push_back(c.data());
    for (auto& c : outBuffers) outPtr.push_back(c.data());
    for (auto& c : plainBuffers) plainPtr.push_back(c.data());
    for (int k : r.picked) pickedPtr.push_back(outBuffers[static_cast<std::size_t>(k)].data());
    std::vector<Sample> interleaved(block * r.picked.size());
    TakeReader<Sample> reader(inputs, ins, r.diShift);

    RenderResult result;
    result.clipped.assign(r.picked.size(), 0);
    const std::uint64_t total = static_cast<std::uint64_t>(inputs[0]->info.frames);
    Progress progress(!r.quiet, total);
    const auto started = std::chrono::steady_clock::now();
    while (result.frames < total) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, total - result.frames));
        n = reader.read(inPtr.data(), n);
        if (n == 0) break;
        plugin.process(inPtr.data(), outPtr.data(), static_cast<VstInt32>(n));
        if (r.plain) r.plain->process(inPtr.data(), plainPtr.data(), static_cast<VstInt32>(n));
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t c = 0; c < r.picked.size(); ++c) {
                const Sample v = pickedPtr[c][j];
                interleaved[j * r.picked.size() + c] = v;
                if (r.countClips && std::fabs(static_cast<double>(v)) > 1.0) ++result.clipped[c];
            }
        if (writeFrames(r.out, interleaved.data(), static_cast<sf_count_t>(n)) != static_cast<sf_count_t>(n))
            fail("cannot write the output: " + std::string(sf_strerror(r.out)));
        r.meters->add(pickedPtr.data(), n);
        if (r.scope && outs >= 2) r.scope->add(outPtr[0], outPtr[1], n);
        if (r.plainScope && outs >= 2) r.plainScope->add(plainPtr[0], plainPtr[1], n);
        result.frames += n;
        progress.update(result.frames);
        if (n < std::min<std::uint64_t>(block, total - (result.frames - n))) break;  // an input ended early
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

}  // namespace

RenderResult renderTake(vsthost::Plugin& plugin, Inputs& inputs, const Render& r, bool useDouble) {
    return useDouble ? render<double>(plugin, inputs, r) : render<float>(plugin, inputs, r);
}

}  // namespace vstrender
