// The CLAP entry points driven by arbitrary bytes: parameter events with any id and value at
// any frame, texts to parse, values to show, state from streams of any size and content, and
// blocks in both precisions. Nothing may crash, and finite input must decode to finite output.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "clap/clap_api.h"
#include "fuzz_bytes.h"
#include "fuzz_channels.h"

extern "C" const clap_plugin_entry_t clap_entry;

using fuzzhost::Bytes;

namespace {

struct Events {
    std::vector<clap_event_param_value_t> list;
    clap_input_events_t in{this, [](const clap_input_events_t* l) {
                               return static_cast<std::uint32_t>(static_cast<Events*>(l->ctx)->list.size());
                           },
                           [](const clap_input_events_t* l, std::uint32_t i) -> const clap_event_header_t* {
                               return &static_cast<Events*>(l->ctx)->list[i].header;
                           }};
};

struct Stream {
    Bytes* bytes;
    std::uint8_t step;
};

const clap_host_t kHost = {CLAP_VERSION, nullptr, "fuzz", "", "", "",
                           [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                           [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = clap_entry.init("fuzz");
    if (!started) __builtin_trap();
    const auto* factory = static_cast<const clap_plugin_factory_t*>(clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* p = factory->create_plugin(factory, &kHost, factory->get_plugin_descriptor(factory, 0)->id);
    if (p == nullptr || !p->init(p)) __builtin_trap();
    p->activate(p, 44100.0, 1, 256);
    const auto* params = static_cast<const clap_plugin_params_t*>(p->get_extension(p, CLAP_EXT_PARAMS));
    const auto* state = static_cast<const clap_plugin_state_t*>(p->get_extension(p, CLAP_EXT_STATE));
    Bytes in{data, size};

    while (in.size > 0) {
        switch (in.take<std::uint8_t>() % 5) {
            case 0: {  // a block with events at any frame, in either precision
                const std::uint32_t frames = in.take<std::uint8_t>();
                Events events;
                const int count = in.take<std::uint8_t>() % 8;
                std::uint32_t at = 0;
                for (int i = 0; i < count; ++i) {
                    clap_event_param_value_t e{};
                    at += in.take<std::uint8_t>() % 64;  // in order of time, as hosts must give them
                    e.header = {sizeof e, at, in.take<std::uint8_t>() % 2 == 0 ? CLAP_CORE_EVENT_SPACE_ID : std::uint16_t{7},
                                static_cast<std::uint16_t>(in.take<std::uint8_t>() % 12), 0};
                    e.param_id = in.take<std::uint8_t>() % 14;
                    e.value = in.take<double>();
                    events.list.push_back(e);
                }
                const bool doubles = in.take<std::uint8_t>() & 1;
                fuzzhost::InPlaceChannels io(frames, 0.25f, -0.5);
                clap_audio_buffer_t buffer{};
                buffer.channel_count = 3;
                if (doubles)
                    buffer.data64 = io.dp;
                else
                    buffer.data32 = io.fp;
                clap_process_t call{};
                call.frames_count = frames;
                call.audio_inputs = &buffer;
                call.audio_outputs = &buffer;  // in place
                call.audio_inputs_count = call.audio_outputs_count = 1;
                call.in_events = &events.in;
                p->process(p, &call);
                io.requireFinite(doubles, frames);
                break;
            }
            case 1: {  // text to a value, and a value to text
                const clap_id id = in.take<std::uint8_t>() % 14;
                std::string text;
                for (int n = in.take<std::uint8_t>() % 16; n > 0 && in.size > 0; --n) text += static_cast<char>(in.take<std::uint8_t>());
                double v = 0;
                params->text_to_value(p, id, text.c_str(), &v);
                char shown[8];
                params->value_to_text(p, id, in.take<double>(), shown, 1 + in.take<std::uint8_t>() % sizeof shown);
                break;
            }
            case 2: {  // state from a stream of the rest, in steps of any size, maybe failing
                Stream s{&in, static_cast<std::uint8_t>(in.take<std::uint8_t>() % 9)};
                const clap_istream_t stream{&s, [](const clap_istream_t* st, void* buffer, std::uint64_t want) -> std::int64_t {
                                                auto* self = static_cast<Stream*>(st->ctx);
                                                if (self->step == 8) return -1;
                                                std::size_t n = self->step < want ? self->step : static_cast<std::size_t>(want);
                                                if (n > self->bytes->size) n = self->bytes->size;
                                                std::memcpy(buffer, self->bytes->data, n);
                                                self->bytes->data += n, self->bytes->size -= n;
                                                return static_cast<std::int64_t>(n);
                                            }};
                state->load(p, &stream);
                break;
            }
            case 3: {  // state saved into a stream that may refuse
                const std::uint8_t refuseAt = in.take<std::uint8_t>();
                std::size_t written = 0;
                struct Sink { std::size_t* written; std::uint8_t refuseAt; } sink{&written, refuseAt};
                const clap_ostream_t stream{&sink, [](const clap_ostream_t* st, const void*, std::uint64_t want) -> std::int64_t {
                                                auto* self = static_cast<Sink*>(st->ctx);
                                                if (*self->written >= self->refuseAt) return -1;
                                                *self->written += static_cast<std::size_t>(want);
                                                return static_cast<std::int64_t>(want);
                                            }};
                state->save(p, &stream);
                break;
            }
            default:
                p->deactivate(p);
                p->activate(p, 8000.0 + in.take<std::uint16_t>(), 1, 4096);
                break;
        }
    }
    p->deactivate(p);
    p->destroy(p);
    return 0;
}
