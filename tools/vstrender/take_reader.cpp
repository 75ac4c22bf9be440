#include "tools/vstrender/take_reader.h"

#include <algorithm>
#include <cmath>

#include "tools/vstrender/errors.h"

namespace vstrender {

namespace {

constexpr int kDiChannel = 2;  // mid, side, DI

template <class Sample>
sf_count_t readFrames(SNDFILE* file, Sample* buffer, sf_count_t frames) {
    if constexpr (sizeof(Sample) == sizeof(float))
        return sf_readf_float(file, buffer, frames);
    else
        return sf_readf_double(file, buffer, frames);
}

}  // namespace

template <class Sample>
ShiftedChannel<Sample>::ShiftedChannel(const InputFile& input, int channel, const DiShift& shift)
    : channels_(input.info.channels), channel_(channel), matchTone_(shift.matchTone) {
    tone_.set(shift.tone);
    SF_INFO info{};
    file_ = sf_open(input.path.c_str(), SFM_READ, &info);
    if (!file_) fail("cannot read " + input.name + " again for the DI: " + sf_strerror(nullptr));
    const double rate = input.info.samplerate;
    aligner_.prepare(rate, std::max(align::DiAligner::kLongestDelayMilliseconds, std::abs(shift.delaySamples) * 1000.0 / rate + 1));
    aligner_.jumpTo(shift.delaySamples, shift.invert);
    // The latency's samples at the start, which a host's delay compensation leaves out.
    std::vector<Sample> leftOut(static_cast<std::size_t>(aligner_.latency()));
    next(leftOut.data(), leftOut.size());
}

template <class Sample>
ShiftedChannel<Sample>::~ShiftedChannel() {
    sf_close(file_);
}

template <class Sample>
void ShiftedChannel<Sample>::readDi(std::size_t count) {
    frames_.assign(count * static_cast<std::size_t>(channels_), Sample(0));
    const auto got = static_cast<std::size_t>(
        std::max<sf_count_t>(readFrames(file_, frames_.data(), static_cast<sf_count_t>(count)), 0));
    di_.resize(count);
    for (std::size_t j = 0; j < count; ++j)
        di_[j] = j < got ? frames_[j * static_cast<std::size_t>(channels_) + static_cast<std::size_t>(channel_)] : Sample(0);
}

template <class Sample>
void ShiftedChannel<Sample>::next(Sample* out, std::size_t frames) {
    // Only the DI matters here: the microphones' channels go in silent and come out unused.
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min<std::size_t>(frames - done, 4096);
        readDi(n);
        silence_.assign(n, Sample(0));
        microphones_.resize(2 * n);
        const Sample* in[] = {silence_.data(), silence_.data(), di_.data()};
        Sample* aligned[] = {microphones_.data(), microphones_.data() + n, out + done};
        aligner_.process(in, aligned, static_cast<std::int32_t>(n));
        if (matchTone_) tone_.process(out + done, n);
        done += n;
    }
}

bool findDi(const Inputs& inputs, std::size_t& input, int& channel) {
    int before = 0;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        if (kDiChannel < before + inputs[k]->info.channels) {
            input = k;
            channel = kDiChannel - before;
            return true;
        }
        before += inputs[k]->info.channels;
    }
    return false;
}

template <class Sample>
TakeReader<Sample>::TakeReader(Inputs& inputs, int channels, const DiShift& shift) : inputs_(inputs), channels_(channels) {
    std::size_t input = 0;
    int channel = 0;
    if (shift.any()) {
        if (!findDi(inputs, input, channel)) refuse("the DI is moved, but the inputs have no third channel");
        di_ = std::make_unique<ShiftedChannel<Sample>>(*inputs[input], channel, shift);
    }
}

template <class Sample>
std::size_t TakeReader<Sample>::read(Sample* const* channels, std::size_t n) {
    int channel = 0;
    for (auto& input : inputs_) {
        const auto width = static_cast<std::size_t>(input->info.channels);
        fileBlock_.assign(n * width, Sample(0));
        const sf_count_t got = readFrames(input->file, fileBlock_.data(), static_cast<sf_count_t>(n));
        n = std::min(n, static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
        for (std::size_t c = 0; c < width; ++c, ++channel)
            if (channel < channels_)
                for (std::size_t j = 0; j < n; ++j) channels[channel][j] = fileBlock_[j * width + c];
    }
    if (di_ && n > 0) di_->next(channels[kDiChannel], n);
    return n;
}

void rewind(Inputs& inputs) {
    for (auto& input : inputs)
        if (sf_seek(input->file, 0, SEEK_SET) != 0) fail("cannot read " + input->name + " a second time");
}

template class ShiftedChannel<float>;
template class ShiftedChannel<double>;
template class TakeReader<float>;
template class TakeReader<double>;

}  // namespace vstrender
