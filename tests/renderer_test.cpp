// The command-line renderer, run as a user runs it, on small files made here.
#include "far_values.h"
#include "effect/decoder_parameters.h"
#include "entry/embedded_decoder.h"
#include "entry/factory_presets.h"
#include "vst3/vst3_identity.h"
#include "vst3/vst3_preset_file.h"
#include "renderer_fixture.h"

namespace {

TEST_F(Renderer, OutputEqualsThePluginsOwnProcessing) {
    const int frames = 1500;
    const std::vector<float> take = writeTake("take.wav", 3, frames);
    const Outcome run =
        render("-i " + path("take.wav") + " -o " + path("out.wav") +
               " --param 'stereo width=-30' --param 5=-12 --param 'di pan to l/r=0.75:n' --block-size 100 --outputs 1,2,3");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("output 1: peak"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("correlation of outputs 1 and 2"), std::string::npos);
    SF_INFO info;
    const std::vector<float> rendered = readAll(path("out.wav"), info);
    ASSERT_EQ(info.channels, 3);
    ASSERT_EQ(info.frames, frames);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);  // the input's format is kept

    // The same frames through the plug-in, driven directly.
    std::string error;
    auto module = vsthost::Module::load(VINTREL_PLUGIN_PATH, error);
    ASSERT_TRUE(module) << error;
    vsthost::Plugin plugin;
    ASSERT_TRUE(plugin.instantiate(module->entry()));
    plugin.open();
    plugin.setSampleRate(48000.0f);
    plugin.resume();
    plugin.setParameter(3, 0.375f);           // -30
    plugin.setParameter(5, 138.0f / 162.0f);  // -12 dB
    plugin.setParameter(6, 0.75f);
    EXPECT_EQ(plugin.parameterDisplay(5), "-12.00");
    std::vector<float> in[3], out[3];
    float* inPtr[3];
    float* outPtr[3];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < frames; ++j) in[k].push_back(take[static_cast<std::size_t>(j * 3 + k)]);
        out[k].assign(frames, 0.0f);
        inPtr[k] = in[k].data();
        outPtr[k] = out[k].data();
    }
    plugin.process(inPtr, outPtr, frames);
    for (int j = 0; j < frames; ++j)
        for (int k = 0; k < 3; ++k)
            ASSERT_EQ(rendered[static_cast<std::size_t>(j * 3 + k)], out[k][static_cast<std::size_t>(j)])
                << "frame " << j << " channel " << k;
}

TEST_F(Renderer, ParametersByNameIndexDisplayValueAndNormalised) {
    const Outcome run =
        render("--save-preset " + path("p.fxp") +
               " --param 'Stereo Width=-30' --param '4=swapped' --param 'DI level=-12' --param 'output trim=-6 dB'"
               " --param 'active channels=MS only' --param 'mid channel trim=0.5:n' --param '10=2.5'");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<float> sliders = presetSliders(path("p.fxp"));
    ASSERT_EQ(sliders.size(), 65u);
    EXPECT_EQ(sliders[4], -30.0f);
    EXPECT_EQ(sliders[5], 1.0f);
    EXPECT_EQ(sliders[6], -12.0f);
    EXPECT_EQ(sliders[3], -6.0f);
    EXPECT_EQ(sliders[10], 1.0f);
    EXPECT_EQ(sliders[1], 0.0f);
    EXPECT_EQ(sliders[11], 2.5f);

    const Outcome listed = render("--list-params --param 'stereo width=12.5'");
    ASSERT_EQ(listed.status, 0);
    // The value stands in the table's value column.
    auto lineWith = [&](const std::string& text) {
        const std::size_t at = listed.output.find(text);
        if (at == std::string::npos) return std::string();
        const std::size_t start = listed.output.rfind('\n', at) + 1;
        return listed.output.substr(start, listed.output.find('\n', at) - start);
    };
    const std::string header = lineWith("value"), row = lineWith("stereo width");
    ASSERT_FALSE(row.empty()) << listed.output;
    EXPECT_EQ(row.find("12.50"), header.find("value")) << listed.output;
    EXPECT_NE(listed.output.find("mix DI with plugin output"), std::string::npos);
    // The DI's alignment of the other formats, with the options that set it here.
    const std::string delay = lineWith(" DI delay"), polarity = lineWith(" DI polarity");
    EXPECT_NE(delay.find("-10.0000 .. 10.0000"), std::string::npos) << listed.output;
    EXPECT_EQ(delay.find("0.0000"), header.find("value")) << listed.output;
    EXPECT_NE(polarity.find("switch"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("--di-delay"), std::string::npos);
}

TEST_F(Renderer, UnknownNamesAndUnreachableValuesAreRefused) {
    Outcome run = render("--list-params --param 'width=3'");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("unknown parameter \"width\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("3: stereo width"), std::string::npos);
    run = render("--list-params --param 'DI level=13'");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("nearest reachable value is 12.00"), std::string::npos) << run.output;
    run = render("--list-params --param 'L/R swap=sideways'");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("\"normal\" \"swapped\""), std::string::npos) << run.output;
}

TEST_F(Renderer, ProgramFilesHaveTheStandardLayoutAndLoadBack) {
    ASSERT_EQ(render("--save-preset " + path("a.fxp") + " --param 'stereo width=40' --param 'L/R swap=swapped'").status,
              0);
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(vstrender::readFile(path("a.fxp"), bytes, error));
    ASSERT_EQ(bytes.size(), 60u + 260u);
    auto big = [&](std::size_t at) {
        return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
               (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    };
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "CcnK");
    EXPECT_EQ(big(4), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "FPCh");
    EXPECT_EQ(big(12), 1u);  // format version
    EXPECT_EQ(big(16), 0u);  // the decoder's unique id
    EXPECT_EQ(big(20), 1u);  // its version
    EXPECT_EQ(big(24), 1u);  // one program
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[28])), "Brelvander_3-channel ac");
    EXPECT_EQ(bytes[28 + 27], 0);
    EXPECT_EQ(big(56), 260u);
    float marker = 0.0f;
    std::memcpy(&marker, &bytes[60], 4);
    EXPECT_EQ(marker, -1000.0f);

    ASSERT_EQ(render("--preset " + path("a.fxp") + " --save-preset " + path("b.fxp")).status, 0);
    std::vector<std::uint8_t> again;
    ASSERT_TRUE(vstrender::readFile(path("b.fxp"), again, error));
    EXPECT_EQ(again, bytes);

    std::ofstream(path("junk.fxp")) << "not a preset at all, but long enough to have a header........";
    const Outcome junk = render("--preset " + path("junk.fxp") + " --list-params");
    EXPECT_EQ(junk.status, 2);
    EXPECT_NE(junk.output.find("CcnK"), std::string::npos) << junk.output;
}

// Every factory preset renders what its settings, given one by one, render; it is listed with
// its situation; and a name that is neither a file nor a preset is refused in words.
TEST_F(Renderer, FactoryPresetsAreListedAndRenderTheirSettings) {
    writeTake("take.wav", 3, 3000);
    const Outcome listed = render("--list-presets");
    ASSERT_EQ(listed.status, 0) << listed.output;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        EXPECT_NE(listed.output.find(preset.name), std::string::npos);
        EXPECT_NE(listed.output.find(preset.situation), std::string::npos);
        std::string settings;
        for (std::size_t i = 0; i < preset.values.size(); ++i) {
            const decoder::Parameter& row = decoder::kParameters[i];
            const std::string value = row.isSwitch() ? row.labels[static_cast<std::size_t>(preset.values[i])]
                                                     : std::to_string(preset.values[i]);
            settings += " --param '" + std::to_string(i) + "=" + value + "'";
        }
        const std::string outputs = " --outputs 1,2,3 --overwrite -q -i " + path("take.wav") + " -o ";
        ASSERT_EQ(render("--preset \"" + std::string(preset.name) + "\"" + outputs + path("a.wav")).status, 0);
        ASSERT_EQ(render(settings.substr(1) + outputs + path("b.wav")).status, 0);
        SF_INFO info;
        const std::vector<float> a = readAll(path("a.wav"), info), b = readAll(path("b.wav"), info);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
    }
    // Any case; a preset's name is no file.
    EXPECT_EQ(render("--preset 'wide' --list-params").status, 0);
    const Outcome unknown = render("--preset 'Extra wide' --list-params");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("nor is it a factory preset"), std::string::npos) << unknown.output;
}

// The factory presets' VST 3 preset files, as installed: each renders what the preset renders by
// name; one saved by a host with a DI alignment moves the DI as --di-delay does; bad files and
// another plug-in's are refused in words.
TEST_F(Renderer, Vst3PresetFilesRenderTheirPresetAndTheirAlignment) {
    writeTake("take.wav", 3, 3000);
    const std::string outputs = " --outputs 1,2,3 --overwrite -q -i " + path("take.wav") + " -o ";
    SF_INFO info;
    const auto& identity = vintrel::EmbeddedDecoder::identity();
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        const std::string file = std::string(VINTREL_VST3_PRESETS) + "/" + identity.vendor + "/" + identity.name + "/" +
                                 vst3preset::folderName(preset.name) + ".vstpreset";
        const Outcome byFile = render("--preset \"" + file + "\"" + outputs + path("a.wav"));
        ASSERT_EQ(byFile.status, 0) << byFile.output;
        ASSERT_EQ(render("--preset \"" + std::string(preset.name) + "\"" + outputs + path("b.wav")).status, 0);
        const std::vector<float> a = readAll(path("a.wav"), info), b = readAll(path("b.wav"), info);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));
    }
    // A state with an alignment, as a host saves one after APPLY: 1.5 ms, inverted.
    std::vector<std::uint8_t> state = vintrel::EmbeddedDecoder::stateOf(vintrel::kFactoryPresets[4]);
    {
        auto d = vintrel::EmbeddedDecoder::create(48000.0, 512);
        ASSERT_TRUE(d->loadState(state.data(), state.size()));
        d->setValue(vintrel::kDiDelay, 1.5);
        d->setValue(vintrel::kDiPolarity, 1);
        state = d->saveState();
    }
    vst3preset::PresetFile aligned;
    aligned.classId = vst3::uidText(vst3::kClassId.bytes);
    aligned.component = state;
    const auto bytes = vst3preset::encode(aligned);
    std::ofstream(path("aligned.vstpreset"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                     static_cast<std::streamsize>(bytes.size()));
    ASSERT_EQ(render("--preset " + path("aligned.vstpreset") + outputs + path("a.wav")).status, 0);
    ASSERT_EQ(render("--preset \"" + std::string(vintrel::kFactoryPresets[4].name) + "\" --di-delay 1.5ms --di-polarity invert" +
                     outputs + path("b.wav"))
                  .status,
              0);
    const std::vector<float> a = readAll(path("a.wav"), info), b = readAll(path("b.wav"), info);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(float)));

    aligned.classId = "00000000000000000000000000000001";
    const auto other = vst3preset::encode(aligned);
    std::ofstream(path("other.vstpreset"), std::ios::binary).write(reinterpret_cast<const char*>(other.data()),
                                                                   static_cast<std::streamsize>(other.size()));
    const Outcome refused = render("--preset " + path("other.vstpreset") + " --list-params");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.output.find("was saved for another plug-in"), std::string::npos) << refused.output;
    std::ofstream(path("cut.vstpreset"), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 60);
    const Outcome cut = render("--preset " + path("cut.vstpreset") + " --list-params");
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.output.find("is not a VST 3 preset file this renderer reads: its chunk list lies outside the file"),
              std::string::npos)
        << cut.output;
}

// A damaged preset holding far values, one parameter at a time: the renderer's output stays
// within the loudest gain the ranges allow, and the preset it saves again holds the range's end.
TEST_F(Renderer, FarValuesInAPresetAreHeldAtTheRangeEnds) {
    const std::vector<float> take = writeTake("take.wav", 3, 512);
    ASSERT_EQ(render("--save-preset " + path("fresh.fxp")).status, 0);
    std::vector<std::uint8_t> fresh;
    std::string error;
    ASSERT_TRUE(vstrender::readFile(path("fresh.fxp"), fresh, error)) << error;
    for (std::size_t p = 0; p < decoder::kParameters.size(); ++p)
        for (float extreme : {1e6f, -3.4e38f}) {
            SCOPED_TRACE(testing::Message() << decoder::kParameters[p].name << " at " << extreme);
            std::vector<std::uint8_t> damaged = fresh;
            std::memcpy(&damaged[60 + 4 * (p + 1)], &extreme, 4);
            std::ofstream(path("far.fxp"), std::ios::binary)
                .write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
            const Outcome run = render("-q -i " + path("take.wav") + " -o " + path("out.wav") + " --overwrite --outputs 1,2,3 --preset " +
                                       path("far.fxp") + " --save-preset " + path("again.fxp"));
            ASSERT_EQ(run.status, 0) << run.output;
            SF_INFO info;
            const std::vector<float> out = readAll(path("out.wav"), info);
            ASSERT_EQ(out.size(), take.size());
            std::vector<float> in[3], decoded[3];
            for (std::size_t j = 0; j < 512; ++j)
                for (int k = 0; k < 3; ++k) in[k].push_back(take[j * 3 + k]), decoded[k].push_back(out[j * 3 + k]);
            const float* inputs[3] = {in[0].data(), in[1].data(), in[2].data()};
            const float* outputs[3] = {decoded[0].data(), decoded[1].data(), decoded[2].data()};
            EXPECT_TRUE(withinTheLoudestGain(inputs, outputs, 512));
            EXPECT_EQ(presetSliders(path("again.fxp"))[p + 1], static_cast<float>(heldAt(p, extreme)));
        }
}

TEST_F(Renderer, RefusalsSayWhatWasFoundAndLeaveNoFile) {
    writeTake("take.wav", 3, 100);
    writeTake("stereo.wav", 2, 100);
    writeTake("mono.wav", 1, 100);
    writeTake("mono44.wav", 1, 100, 44100);
    writeTake("short.wav", 1, 90);
    const std::string out = path("out.wav");
    struct Case {
        std::string arguments, message;
    };
    const Case cases[] = {
        {"-i " + path("stereo.wav"), "the inputs have 2 channels, the plug-in needs 3"},
        {"-i " + path("stereo.wav") + " -i " + path("mono44.wav"), "44100 Hz"},
        {"-i " + path("stereo.wav") + " -i " + path("short.wav"), "90 frames long"},
        {"-i " + path("take.wav") + " --outputs 1,4", "the plug-in has outputs 1 to 3"},
        {"-i " + path("take.wav") + " --format flac --bits float", "--format flac contradicts the name"},
        {"-i " + path("missing.wav"), "cannot read"},
    };
    for (const Case& c : cases) {
        const Outcome run = render(c.arguments + " -o " + out);
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
        EXPECT_FALSE(fs::exists(out)) << c.arguments;
        EXPECT_FALSE(fs::exists(out + ".partial")) << c.arguments;
    }

    // Two files whose channels add up to three are fine; an existing output is kept.
    ASSERT_EQ(render("-i " + path("stereo.wav") + " -i " + path("mono.wav") + " -o " + out + " --outputs 1,2 --bits 16")
                  .status,
              0);
    SF_INFO info;
    readAll(out, info);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const auto size = fs::file_size(out);
    const Outcome again = render("-i " + path("take.wav") + " -o " + out);
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.output.find("exists; add --overwrite"), std::string::npos);
    EXPECT_EQ(fs::file_size(out), size);
    EXPECT_EQ(render("-i " + path("take.wav") + " -o " + out + " --overwrite").status, 0);
}

TEST_F(Renderer, DemoWritesTheTakeTheResultAndAScope) {
    const Outcome run = render("--demo -o " + path("decoded.flac") + " --scope " + path("scope.png") + " --double");
    ASSERT_EQ(run.status, 0) << run.output;
    SF_INFO take, decoded;
    readAll(path("demo-take.wav"), take);
    const std::vector<float> samples = readAll(path("decoded.flac"), decoded);
    EXPECT_EQ(take.channels, 3);
    EXPECT_EQ(decoded.frames, take.frames);
    EXPECT_EQ(decoded.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    float peak = 0.0f;
    for (float v : samples) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.05f);
    std::ifstream png(path("scope.png"), std::ios::binary);
    char signature[8] = {};
    png.read(signature, 8);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
}

}  // namespace
