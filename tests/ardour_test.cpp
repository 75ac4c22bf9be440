// The plug-in in a real host: Debian's Ardour, headless (ardour7-lua, dummy backend). A session
// with a 3-in/3-out track renders a take through the plug-in, is saved, reopened and renders
// it again; both renders must equal the VST 2 module's output of the same take within -80 dBFS
// (Ardour's own chain is not bit-transparent).
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "effect/guitar_decoder.h"
#include "entry/factory_presets.h"
#include "plugin_fixture.h"
#include "vst3/vst3_preset_file.h"

namespace {

namespace fs = std::filesystem;
using Settings = std::map<int, double>;  // parameter index to a value in display units
constexpr int kDiDelay = 11;             // ms, in the LV2 and VST 3 plug-ins after the eleven

constexpr int kFrames = 48000;
const double kTolerance = std::pow(10.0, -80.0 / 20.0);

// A signal generator as an Ardour Lua processor: the take is bounced from it, then laid on the
// track's playlist, so the session holds an ordinary recording.
constexpr char kGenerator[] = R"(ardour { ["type"] = "dsp", name = "Guitar Take Generator", category = "Utility",
  license = "MIT", author = "tests", description = [[three channels of test signal]] }
function dsp_ioconfig () return { { audio_in = 3, audio_out = 3 } } end
local pos = 0
function dsp_run (ins, outs, n)
  for c = 1, 3 do
    local buf = outs[c]:array()
    for s = 1, n do
      local t = pos + s - 1
      buf[s] = 0.45 * math.sin(t * (0.013 + 0.007 * c)) + 0.2 * math.sin(t * 0.0011 * c) + 0.1 * math.sin(t * 0.31 / c)
    end
  end
  pos = pos + n
end
)";

struct Host {
    fs::path home;
    std::string environment;  // variables for every Ardour run
};

bool runArdour(const Host& host, const std::string& script, std::string& output) {
    const fs::path file = host.home / "script.lua";
    std::ofstream(file) << script;
    const std::string command = host.environment + " timeout 300 ardour7-lua '" + file.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    char line[4096];
    output.clear();
    while (std::fgets(line, sizeof line, pipe)) output += line;
    return pclose(pipe) == 0;
}

std::vector<std::string> printed(const std::string& output, const std::string& tag) {
    std::vector<std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(tag, 0) == 0) values.push_back(line.substr(tag.size()));
    return values;
}

// Three mono files as three channels.
std::array<std::vector<float>, 3> readChannels(const std::vector<std::string>& paths) {
    std::array<std::vector<float>, 3> channels;
    for (std::size_t k = 0; k < 3 && k < paths.size(); ++k) {
        SF_INFO info{};
        SNDFILE* file = sf_open(paths[k].c_str(), SFM_READ, &info);
        if (!file) continue;
        channels[k].resize(static_cast<std::size_t>(info.frames));
        sf_readf_float(file, channels[k].data(), info.frames);
        sf_close(file);
    }
    return channels;
}

// The VST 2 module's decode of the take; a DI delay (parameter 11, whole samples at 48 kHz here)
// moves the DI before it, as the other formats' alignment does.
std::array<std::vector<float>, 3> renderVst2(const std::array<std::vector<float>, 3>& take, const Settings& settings) {
    static const TVintrelEffect table;
    Decoder fx;
    fx.start(48000.0f, 1024);
    std::ptrdiff_t diDelay = 0;
    for (const auto& [index, value] : settings) {
        if (index == kDiDelay) {
            diDelay = std::lround(value * 48);
            continue;
        }
        const CVintrelSlider& row = table.SliderInfos[static_cast<std::size_t>(index)];
        fx.setParameter(index, static_cast<float>((value - row.Min) / (row.Max - row.Min)));
    }
    Channels3<float> io(take[0].size());
    for (int k = 0; k < 3; ++k) io.in[k] = take[static_cast<std::size_t>(k)];
    for (std::size_t j = 0; j < io.in[2].size(); ++j)
        io.in[2][j] = static_cast<std::ptrdiff_t>(j) >= diDelay ? take[2][j - static_cast<std::size_t>(diDelay)] : 0.0f;
    for (int k = 0; k < 3; ++k) io.inputs[k] = io.in[k].data();
    fx.process(io.inputs, io.outputs, static_cast<VstInt32>(take[0].size()));
    return {io.out[0], io.out[1], io.out[2]};
}

double largestDifference(const std::array<std::vector<float>, 3>& a, const std::array<std::vector<float>, 3>& b) {
    double worst = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        if (a[k].size() != b[k].size()) return INFINITY;
        for (std::size_t j = 0; j < a[k].size(); ++j) {
            const double d = std::fabs(static_cast<double>(a[k][j]) - static_cast<double>(b[k][j]));
            worst = std::max(worst, d);
        }
    }
    return worst;
}

// How a format's plug-in is found and named in Ardour.
struct Format {
    const char* name;         // for messages
    const char* pluginType;   // ARDOUR.PluginType
    std::string pluginId;     // as new_plugin takes it
    std::string pathVariable; // LV2_PATH or VST3_PATH
    std::string path;
    // Run before Ardour starts (a scan), and on the saved session file before it is reopened.
    std::function<bool(const Host&)> prepare = [](const Host&) { return true; };
    std::function<void(const fs::path& sessionFile)> editSession = [](const fs::path&) {};
};

std::string setParameters(const Settings& settings) {
    std::string lua;
    for (const auto& [index, value] : settings)
        lua += "ARDOUR.LuaAPI.set_processor_param(p, " + std::to_string(index) + ", " + std::to_string(value) + ")\n";
    return lua;
}

// Renders, saves, reopens and renders again; `afterReopen` is Lua run on the reopened session
// (the plug-in as `p`), whose printed output comes back in `reopenOutput`.
void renderSaveReopenRender(const Format& format, const Settings& settings, const std::string& afterReopen = "",
                            std::string* reopenOutput = nullptr) {
    if (std::system("command -v ardour7-lua >/dev/null 2>&1") != 0) {
        if (std::getenv("REQUIRE_ARDOUR")) FAIL() << "ardour7-lua is not installed";
        GTEST_SKIP() << "ardour7-lua is not installed (Debian: ardour)";
    }
    Host host;
    host.home = fs::temp_directory_path() / ("ardour-" + std::string(format.name) + "-" + std::to_string(::getpid()));
    fs::remove_all(host.home);
    fs::create_directories(host.home / "config/ardour7/scripts");
    std::ofstream(host.home / "config/ardour7/scripts/_guitar_take.lua") << kGenerator;
    host.environment = "XDG_CACHE_HOME='" + (host.home / "cache").string() + "' XDG_CONFIG_HOME='" +
                       (host.home / "config").string() + "' HOME='" + host.home.string() + "' " +
                       format.pathVariable + "='" + format.path + "'";
    ASSERT_TRUE(format.prepare(host));
    const fs::path session = host.home / "session";
    const std::string start = "AudioEngine:set_backend(\"None (Dummy)\", \"\", \"\")\nAudioEngine:start(false)\n";
    const std::string frames = std::to_string(kFrames);

    std::string output;
    const bool created = runArdour(host, start + "create_session('" + session.string() + R"(', 'take', 48000)
local track = Session:new_audio_track(3, 3, nil, 1, "guitar", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
local gen = ARDOUR.LuaAPI.new_luaproc(Session, "Guitar Take Generator")
track:add_processor_by_index(gen, 0, nil, true)
local take = track:bounce_range(0, )" + frames + R"(, ARDOUR.InterThreadInfo(), gen, true, "take")
track:remove_processor(gen, nil, true)
take:to_audioregion():set_fade_in_active(false)  -- the take as recorded, without Ardour's short edge fades
take:to_audioregion():set_fade_out_active(false)
track:playlist():add_region(take, Temporal.timepos_t(0), 1, false, 0, 0, false)
local p = ARDOUR.LuaAPI.new_plugin(Session, ")" + format.pluginId + R"(", ARDOUR.PluginType.)" + format.pluginType + R"(, "")
assert(not p:isnil(), "the plug-in was not found")
track:add_processor_by_index(p, 0, nil, true)
)" + setParameters(settings) + R"(
local out = track:bounce_range(0, )" + frames + R"(, ARDOUR.InterThreadInfo(), p, true, "decoded")
for i = 0, 2 do print("take: " .. take:source(i):to_filesource():path()) end
for i = 0, 2 do print("decoded: " .. out:source(i):to_filesource():path()) end
Session:save_state("", false, false, false, false, false)
close_session()
)",
                                     output);
    ASSERT_TRUE(created) << output;
    const auto takePaths = printed(output, "take: "), firstPaths = printed(output, "decoded: ");
    ASSERT_EQ(takePaths.size(), 3u) << output;
    ASSERT_EQ(firstPaths.size(), 3u) << output;

    format.editSession(session / "take.ardour");
    const bool reopened = runArdour(host, start + "load_session('" + session.string() + R"(', 'take')
local track = Session:route_by_name("guitar"):to_track()
local p = track:nth_plugin(0)
assert(not p:isnil(), "the plug-in did not come back")
local out = track:bounce_range(0, )" + frames + R"(, ARDOUR.InterThreadInfo(), p, true, "again")
for i = 0, 2 do print("again: " .. out:source(i):to_filesource():path()) end
)" + afterReopen + R"(
close_session()
)",
                                    output);
    ASSERT_TRUE(reopened) << output;
    if (reopenOutput) *reopenOutput = output;
    const auto againPaths = printed(output, "again: ");
    ASSERT_EQ(againPaths.size(), 3u) << output;

    const auto take = readChannels(takePaths);
    ASSERT_EQ(take[0].size(), static_cast<std::size_t>(kFrames));
    const auto expected = renderVst2(take, settings);
    const auto first = readChannels(firstPaths), again = readChannels(againPaths);
    EXPECT_LE(largestDifference(first, expected), kTolerance) << format.name << ": first render";
    EXPECT_LE(largestDifference(again, expected), kTolerance) << format.name << ": render after reopening";
    // The settings must have been heard: the decode differs from the defaults'.
    EXPECT_GT(largestDifference(expected, renderVst2(take, {})), 0.01);
    if (!::testing::Test::HasFailure()) fs::remove_all(host.home);
}

const Settings kSessionSettings = {{3, 40}, {5, -6}, {6, -30}, {2, -3.5}, {10, 2}};

TEST(Ardour, Lv2SessionRendersSavesReopensAndRendersTheSame) {
    Format lv2{"lv2", "LV2", "urn:brelvander:guitar-decoder", "LV2_PATH", VINTREL_PLUGINS "/lv2"};
    renderSaveReopenRender(lv2, kSessionSettings);
}

// The VST 3 plug-in as Ardour finds it: a scanned copy of the bundle; every value Ardour keeps of
// its own is taken out of the saved session, so only the plug-in's state restores it.
Format vst3Format(const fs::path& plugins) {
    // A copy of the bundle, its files dated an hour back: Ardour takes a scan made within the
    // same second as the module's build for stale, and a test run right after a build would
    // then find no plug-in.
    Format vst3{"vst3", "VST3", "Brelvander_3-channel acoustic guit decoder MS + DI", "VST3_PATH", plugins.string()};
    // Ardour's session tool reads only its scan cache: the scanner runs first, in the same home.
    vst3.prepare = [plugins](const Host& host) {
        fs::remove_all(plugins);
        fs::create_directories(plugins);
        fs::copy(VINTREL_PLUGINS "/vst3/GuitarDecoder.vst3", plugins / "GuitarDecoder.vst3", fs::copy_options::recursive);
        const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (const auto& entry : fs::recursive_directory_iterator(plugins)) fs::last_write_time(entry.path(), past);
        const std::string scan = host.environment +
                                 " LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 /usr/lib/ardour7/ardour-vst3-scanner -f '" +
                                 (plugins / "GuitarDecoder.vst3").string() + "' >/dev/null 2>&1";
        return std::system(scan.c_str()) == 0;
    };
    // Every parameter value Ardour keeps of its own goes: only the plug-in's state is left.
    vst3.editSession = [](const fs::path& file) {
        std::ifstream in(file);
        std::string kept, line;
        int removed = 0;
        const std::regex portValue(R"(^\s*<Port id="\d+" value="[^"]*"/>\s*$)");
        const std::regex controllable(R"(^\s*<Controllable name="[^"]*" id="\d+" flags="[^"]*" value="[^"]*" parameter="\d+"/>\s*$)");
        while (std::getline(in, line)) {
            if (std::regex_match(line, portValue) || std::regex_match(line, controllable)) {
                ++removed;
                continue;
            }
            kept += line + "\n";
        }
        in.close();
        std::ofstream(file) << kept;
        EXPECT_EQ(removed, 30) << "the session file did not hold the values where expected";  // two for each parameter
    };
    return vst3;
}

TEST(Ardour, Vst3SessionRestoresFromThePluginsOwnState) {
    const fs::path plugins = fs::temp_directory_path() / ("ardour-vst3-plugins-" + std::to_string(::getpid()));
    renderSaveReopenRender(vst3Format(plugins), kSessionSettings);
    fs::remove_all(plugins);
}

// The DI's alignment in Ardour: a DI delay renders as the DI moved (and comes back with the
// session); a negative one is reported to Ardour as latency, 48 samples for -1 ms at 48 kHz.
const Settings kDelaySettings = {{3, 20}, {5, 0}, {7, 1}, {kDiDelay, 1.0}};
const char kNegativeDelay[] = R"(ARDOUR.LuaAPI.set_processor_param(p, 11, -1.0)
track:bounce_range(0, 4800, ARDOUR.InterThreadInfo(), p, true, "latency")
print("latency: " .. p:to_insert():signal_latency())
)";

void expectLatency(const std::string& output) {
    const auto latency = printed(output, "latency: ");
    ASSERT_EQ(latency.size(), 1u) << output;
    EXPECT_EQ(latency[0], "48");
}

TEST(Ardour, Lv2RendersADiDelayAndReportsTheLatencyOfANegativeOne) {
    Format lv2{"lv2-delay", "LV2", "urn:brelvander:guitar-decoder", "LV2_PATH", VINTREL_PLUGINS "/lv2"};
    std::string output;
    renderSaveReopenRender(lv2, kDelaySettings, kNegativeDelay, &output);
    if (!::testing::Test::IsSkipped()) expectLatency(output);
}

TEST(Ardour, Vst3RendersADiDelayAndReportsTheLatencyOfANegativeOne) {
    const fs::path plugins = fs::temp_directory_path() / ("ardour-vst3-delay-plugins-" + std::to_string(::getpid()));
    Format vst3 = vst3Format(plugins);
    vst3.name = "vst3-delay";
    std::string output;
    renderSaveReopenRender(vst3, kDelaySettings, kNegativeDelay, &output);
    if (!::testing::Test::IsSkipped()) expectLatency(output);
    fs::remove_all(plugins);
}


// A session whose track holds the take, with the plug-in `newPlugin` makes as `p` and its
// Plugin as `plugin`; `body` is Lua run then, and the take's files are printed as "take: ".
std::string presetSession(const Host& host, const std::string& newPlugin, const std::string& body) {
    return "AudioEngine:set_backend(\"None (Dummy)\", \"\", \"\")\nAudioEngine:start(false)\ncreate_session('" +
           (host.home / "session").string() + R"(', 'take', 48000)
local track = Session:new_audio_track(3, 3, nil, 1, "guitar", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front()
local gen = ARDOUR.LuaAPI.new_luaproc(Session, "Guitar Take Generator")
track:add_processor_by_index(gen, 0, nil, true)
local take = track:bounce_range(0, )" + std::to_string(kFrames) + R"(, ARDOUR.InterThreadInfo(), gen, true, "take")
track:remove_processor(gen, nil, true)
take:to_audioregion():set_fade_in_active(false)
take:to_audioregion():set_fade_out_active(false)
track:playlist():add_region(take, Temporal.timepos_t(0), 1, false, 0, 0, false)
for i = 0, 2 do print("take: " .. take:source(i):to_filesource():path()) end
local p = )" + newPlugin + R"(
assert(not p:isnil(), "the plug-in was not found")
track:add_processor_by_index(p, 0, nil, true)
local plugin = p:to_insert():plugin(0)
local function render(tag)
  local out = track:bounce_range(0, )" + std::to_string(kFrames) + R"(, ARDOUR.InterThreadInfo(), p, true, "preset")
  for i = 0, 2 do print(tag .. ": " .. out:source(i):to_filesource():path()) end
end
)" + body + "\nclose_session()\n";
}

// Each preset's render, printed under "TAG NAME: ", against the VST 2 module's render of the
// preset's settings.
void expectEveryPresetRendered(const std::string& output, const std::string& tag) {
    const auto take = readChannels(printed(output, "take: "));
    ASSERT_EQ(take[0].size(), static_cast<std::size_t>(kFrames)) << output;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        SCOPED_TRACE(tag + " " + preset.name);
        const auto paths = printed(output, tag + " " + std::string(preset.name) + ": ");
        ASSERT_EQ(paths.size(), 3u) << output;
        Settings settings;
        for (std::size_t i = 0; i < preset.values.size(); ++i) settings[static_cast<int>(i)] = preset.values[i];
        EXPECT_LE(largestDifference(readChannels(paths), renderVst2(take, settings)), kTolerance);
    }
}

Host presetHost(const std::string& name, const std::string& pathVariable) {
    Host host;
    host.home = fs::temp_directory_path() / ("ardour-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(host.home);
    fs::create_directories(host.home / "config/ardour7/scripts");
    std::ofstream(host.home / "config/ardour7/scripts/_guitar_take.lua") << kGenerator;
    host.environment = "XDG_CACHE_HOME='" + (host.home / "cache").string() + "' XDG_CONFIG_HOME='" +
                       (host.home / "config").string() + "' HOME='" + host.home.string() + "' " + pathVariable;
    return host;
}

bool haveArdour() { return std::system("command -v ardour7-lua >/dev/null 2>&1") == 0; }

// The factory presets in Ardour: each LV2 preset found by its name through Ardour's Lua API,
// applied, and the take rendered through it, as the VST 2 module renders the preset's settings.
TEST(Ardour, Lv2FindsAndAppliesEveryFactoryPreset) {
    if (!haveArdour()) {
        if (std::getenv("REQUIRE_ARDOUR")) FAIL() << "ardour7-lua is not installed";
        GTEST_SKIP() << "ardour7-lua is not installed (Debian: ardour)";
    }
    const Host host = presetHost("presets", "LV2_PATH='" VINTREL_PLUGINS "/lv2'");
    std::string names;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) names += "[==[" + std::string(preset.name) + "]==],";
    std::string output;
    ASSERT_TRUE(runArdour(host, presetSession(host, R"(ARDOUR.LuaAPI.new_plugin(Session, "urn:brelvander:guitar-decoder", ARDOUR.PluginType.LV2, ""))", R"(
for _, name in ipairs({)" + names + R"(}) do
  local preset = plugin:preset_by_label(name)
  if preset and plugin:load_preset(preset) then render("preset " .. name) else print("missing: " .. name) end
end)"),
                           output))
        << output;
    expectEveryPresetRendered(output, "preset");
    if (!::testing::Test::HasFailure()) fs::remove_all(host.home);
}

// The VST 3 plug-in's presets in Ardour: the nine factory programs of its program list, each
// applied (Ardour does not hang) and rendered; and the installed preset files, found in the
// user's ~/.vst3/presets, each loaded and rendered as its preset.
TEST(Ardour, Vst3ListsAndAppliesEveryFactoryProgramAndPresetFile) {
    if (!haveArdour()) {
        if (std::getenv("REQUIRE_ARDOUR")) FAIL() << "ardour7-lua is not installed";
        GTEST_SKIP() << "ardour7-lua is not installed (Debian: ardour)";
    }
    const fs::path plugins = fs::temp_directory_path() / ("ardour-vst3-presets-plugins-" + std::to_string(::getpid()));
    Format vst3 = vst3Format(plugins);
    const Host host = presetHost("vst3-presets", "VST3_PATH='" + plugins.string() + "'");
    ASSERT_TRUE(vst3.prepare(host));
    fs::create_directories(host.home / ".vst3/presets");
    fs::copy(VINTREL_VST3_PRESETS, host.home / ".vst3/presets", fs::copy_options::recursive);
    // Ardour's names for a program of the list: the class id, then the index in four digits.
    const auto programUri = [](std::size_t k) {
        char uri[96];
        std::snprintf(uri, sizeof uri, "VST3-P:8C3E51A24D7B4F19A6E2C3D45B9F1E07:%04zu", k);
        return std::string(uri);
    };
    std::string lua = R"(
local function settle() track:bounce_range(0, 4800, ARDOUR.InterThreadInfo(), p, true, "settle") end
-- Ardour sends no program that is the one chosen last: start from the last.
plugin:load_preset(plugin:preset_by_uri(")" + programUri(vintrel::kFactoryPresets.size() - 1) + R"("))
local files = {}
for preset in plugin:get_info():get_presets(false):iter() do
  print("file preset: " .. preset.label)
  files[preset.label] = preset.uri
end
)";
    for (std::size_t k = 0; k < vintrel::kFactoryPresets.size(); ++k) {
        const std::string name = vintrel::kFactoryPresets[k].name;
        const std::string uri = programUri(k);
        // Elsewhere first (a width, a DI delay), and heard, so that Ardour has no change of its
        // own left to send. (A negative delay's latency would be told only at the next edit:
        // Ardour 7.3 hangs when told from inside its program change.)
        lua += "ARDOUR.LuaAPI.set_processor_param(p, 3, 100)\nARDOUR.LuaAPI.set_processor_param(p, 11, 1.0)\nsettle()\n"
               "do local preset = plugin:preset_by_uri('" + uri + "')\n"
               "  if preset then print('program: ' .. preset.label) end\n"
               "  if preset and plugin:load_preset(preset) then render([==[program " + name + "]==]) end\n"
               "  local file = files[ [==[" + vst3preset::folderName(name) + "]==] ]\n"
               "  ARDOUR.LuaAPI.set_processor_param(p, 3, -100)\n  settle()\n"
               "  local fromFile = file and plugin:preset_by_uri(file)\n"
               "  if fromFile and plugin:load_preset(fromFile) then render([==[file " + name + "]==]) end\nend\n";
    }
    std::string output;
    ASSERT_TRUE(runArdour(host, presetSession(host, "ARDOUR.LuaAPI.new_plugin(Session, \"" + vst3.pluginId + "\", ARDOUR.PluginType.VST3, \"\")", lua), output))
        << output;
    std::vector<std::string> programs, files;
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        programs.push_back(preset.name);
        files.push_back(vst3preset::folderName(preset.name));
    }
    EXPECT_EQ(printed(output, "program: "), programs);
    auto listed = printed(output, "file preset: ");
    std::sort(listed.begin(), listed.end());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(listed, files);
    expectEveryPresetRendered(output, "program");
    expectEveryPresetRendered(output, "file");
    if (!::testing::Test::HasFailure()) fs::remove_all(host.home), fs::remove_all(plugins);
}

}  // namespace
