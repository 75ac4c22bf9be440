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
    : channels_(input.info.channels), channel_(channel), invert_(shift.invert) {
    SF_INFO info{};
    file_ = sf_open(input.path.c_str(), SFM_READ, &info);
    if (!file_) fail("cannot read " + input.name + " again for the DI: " + sf_strerror(nullptr));
    const double nearest = std::round(shift.delaySamples);
    fractional_ = std::abs(shift.delaySamples - nearest) > DiShift::kWholeTolerance;
    whole_ = static_cast<std::int64_t>(fractional_ ? std::floor(shift.delaySamples) : nearest);
    if (fractional_) taps_ = take::fractionTaps(shift.delaySamples - std::floor(shift.delaySamples));
}

template <class Sample>
ShiftedChannel<Sample>::~ShiftedChannel() {
    sf_close(file_);
}

template <class Sample>
void ShiftedChannel<Sample>::cover(std::int64_t first, std::int64_t last) {
    const std::int64_t windowEnd = windowStart_ + static_cast<std::int64_t>(window_.size());
    if (window_.empty() || first >= windowEnd) {  // positions only move on: the window starts afresh
        window_.clear();
        windowStart_ = first;
    } else if (first > windowStart_) {
        window_.erase(window_.begin(), window_.begin() + (first - windowStart_));
        windowStart_ = first;
    }
    std::int64_t at = windowStart_ + static_cast<std::int64_t>(window_.size());
    for (; at <= last && at < 0; ++at) window_.push_back(0.0);  // before the take
    if (at > last) return;
    if (at != fileFrame_) {
        if (sf_seek(file_, at, SEEK_SET) < 0) {
            window_.resize(window_.size() + static_cast<std::size_t>(last - at + 1), 0.0);  // past the end
            return;
        }
        fileFrame_ = at;
    }
    const auto count = static_cast<std::size_t>(last - at + 1);
    frames_.assign(count * static_cast<std::size_t>(channels_), Sample(0));
    const auto got = static_cast<std::size_t>(
        std::max<sf_count_t>(readFrames(file_, frames_.data(), static_cast<sf_count_t>(count)), 0));
    fileFrame_ += static_cast<std::int64_t>(got);
    // The DI's own samples turned over when asked; the silence around them stays silence (+0).
    for (std::size_t j = 0; j < count; ++j) {
        const auto v = static_cast<double>(frames_[j * static_cast<std::size_t>(channels_) + static_cast<std::size_t>(channel_)]);
        window_.push_back(j >= got ? 0.0 : invert_ ? -v : v);
    }
}

template <class Sample>
void ShiftedChannel<Sample>::next(Sample* out, std::size_t frames) {
    const std::int64_t first = position_ - whole_, last = first + static_cast<std::int64_t>(frames) - 1;
    if (!fractional_) {
        // Whole samples: the DI's own values, moved.
        cover(first, last);
        for (std::size_t j = 0; j < frames; ++j)
            out[j] = static_cast<Sample>(window_[static_cast<std::size_t>(first - windowStart_) + j]);
    } else {
        constexpr std::int64_t before = take::kSincTaps - 1 + take::FractionTaps::kFirstTap;
        cover(first - before, last - take::FractionTaps::kFirstTap);
        for (std::size_t j = 0; j < frames; ++j) {
            // y[n] = sum of taps[t] * x[n - whole - t - kFirstTap]
            const std::size_t newest = static_cast<std::size_t>(first - take::FractionTaps::kFirstTap - windowStart_) + j;
            double sum = 0.0;
            for (std::size_t t = 0; t < take::kSincTaps; ++t) sum += taps_.taps[t] * window_[newest - t];
            out[j] = static_cast<Sample>(sum);
        }
    }
    position_ += static_cast<std::int64_t>(frames);
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
