// The renderer as engineers expect a command-line audio tool to behave: clipping said aloud,
// refusals before any work and in the user's terms, no half files, standard streams, the
// usual conventions; each through the built program, with its status, its words and the files
// it leaves.
#include <png.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "renderer_fixture.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::uint8_t> bytesOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A take whose mid and side both peak near full scale: the decoded pair reaches about +6 dBFS.
void writeHotTake(const Renderer& r, const std::string& name, int frames, float peak = 0.98f) {
    std::vector<float> samples(static_cast<std::size_t>(frames) * 3);
    for (int j = 0; j < frames; ++j)
        for (int k = 0; k < 3; ++k)
            samples[static_cast<std::size_t>(j * 3 + k)] = peak * std::sin(0.01f * static_cast<float>(j) * (k + 1));
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 3;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(r.path(name).c_str(), SFM_WRITE, &info);
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
}

class RendererHabits : public Renderer {
public:
    using Renderer::path;
};

TEST_F(RendererHabits, ClippingIsCountedAndSaidOrRefusedButFloatFilesKeepIt) {
    RendererHabits& self = *this;
    writeHotTake(self, "hot.wav", 4800);
    Outcome run = render("-i " + path("hot.wav") + " -o " + path("out16.wav") + " --bits 16");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "output 1: ")) << run.output;
    EXPECT_TRUE(contains(run.output, "samples clipped")) << run.output;
    EXPECT_TRUE(contains(run.output, "dB of headroom is missing")) << run.output;
    EXPECT_TRUE(fs::exists(path("out16.wav")));

    run = render("-i " + path("hot.wav") + " -o " + path("out.flac") + " --on-clip=error");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "would clip")) << run.output;
    EXPECT_FALSE(fs::exists(path("out.flac")));
    EXPECT_FALSE(fs::exists(path("out.flac.partial")));

    run = render("-i " + path("hot.wav") + " -o " + path("float.wav") + " --bits float --on-clip error");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_FALSE(contains(run.output, "clipped")) << run.output;
    EXPECT_TRUE(contains(run.output, "output 1 peaks at 4.")) << run.output;
    EXPECT_TRUE(contains(run.output, "a float file keeps it as it is")) << run.output;

    run = render("-i " + path("hot.wav") + " -o " + path("quiet.wav") + " --bits 24 --param 'main output trim=-8'");
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(contains(run.output, "clipped")) << run.output;
    EXPECT_EQ(render("-i " + path("hot.wav") + " -o " + path("x.wav") + " --on-clip sometimes").status, 2);
}

TEST_F(RendererHabits, ParameterValuesOutOfRangeBetweenStepsAndMinusInfinity) {
    Outcome run = render("--list-params --param 3=1.5:n");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "normalised values run from 0 to 1")) << run.output;
    EXPECT_EQ(render("--list-params --param 3=-0.1:n").status, 2);

    run = render("--save-preset " + path("p.fxp") + " --param 'DI level=-inf' --param 'stereo width=40.04'" +
                 " --param 'output trim=-inf' --param 'mid channel trim=-3 dB'");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "\"stereo width\" moves in steps: 40.04 is set to 40.00")) << run.output;
    const std::vector<float> sliders = presetSliders(path("p.fxp"));
    ASSERT_EQ(sliders.size(), 65u);
    EXPECT_EQ(sliders[6], -150.0f);
    EXPECT_EQ(sliders[3], -150.0f);
    EXPECT_EQ(sliders[4], 40.0f);
    EXPECT_EQ(sliders[1], -3.0f);

    run = render("--list-params --param 'mid channel trim=-inf'");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "\"mid channel trim\" has no -inf: its range ends at -12.00 dB")) << run.output;

    run = render("--list-params");
    ASSERT_EQ(run.status, 0);
    for (const char* column : {"name", "value", "range", "step", "default", "unit"})
        EXPECT_TRUE(contains(run.output, column)) << column;
    EXPECT_TRUE(contains(run.output, "-150.00 .. 12.00")) << run.output;
    EXPECT_TRUE(contains(run.output, "values: all | MS only | DI only")) << run.output;
    const std::size_t di = run.output.find("DI level");
    ASSERT_NE(di, std::string::npos);
    const std::string row = run.output.substr(di, run.output.find('\n', di) - di);
    EXPECT_TRUE(contains(row, "0.1")) << row;  // the step
    EXPECT_TRUE(contains(row, "dB")) << row;   // a level, though the plug-in's label is blank
}

TEST_F(RendererHabits, OutputTypesComeFromTheNameAndMustAgreeWithFormat) {
    writeTake("take.wav", 3, 480);
    struct Case {
        std::string output, extra, message;
    };
    const Case refused[] = {
        {"take.xyz", "", "cannot write .xyz files; vstrender writes .wav"},
        {"take", "", "has no extension to name its format"},
        {"x.wav", "--format flac", "--format flac contradicts the name"},
        {"x.ogg", "--bits 16", "--bits does not apply to .ogg"},
        {"x.flac", "--bits float", "cannot hold"},
    };
    for (const Case& c : refused) {
        const Outcome run = render("-i " + path("take.wav") + " -o " + path(c.output) + " " + c.extra);
        EXPECT_EQ(run.status, 2) << c.output;
        EXPECT_TRUE(contains(run.output, c.message)) << c.output << ": " << run.output;
        EXPECT_FALSE(fs::exists(path(c.output)));
    }
    SF_INFO info;
    ASSERT_EQ(render("-i " + path("take.wav") + " -o " + path("named") + " --format flac").status, 0);
    readAll(path("named"), info);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_FLAC);
    ASSERT_EQ(render("-i " + path("take.wav") + " -o " + path("take.opus")).status, 0);
    readAll(path("take.opus"), info);
    EXPECT_EQ(info.format, SF_FORMAT_OGG | SF_FORMAT_OPUS);
    EXPECT_EQ(info.channels, 2);  // the decoded pair by default
}

TEST_F(RendererHabits, ADamagedInputFailsOrWithAllowShortRendersWhatIsThere) {
    writeTake("take.wav", 3, 48000, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);  // 1.00 s
    const std::vector<std::uint8_t> whole = bytesOf(path("take.wav"));
    std::ofstream(path("cut.wav"), std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), 100000);
    Outcome run = render("-i " + path("cut.wav") + " -o " + path("out.wav") + " --bits float");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "the input ends after 0.35 s of the 1.00 s its header announces")) << run.output;
    EXPECT_FALSE(fs::exists(path("out.wav")));
    EXPECT_FALSE(fs::exists(path("out.wav.partial")));

    run = render("-i " + path("cut.wav") + " -o " + path("out.wav") + " --allow-short --bits float");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(contains(run.output, "warning: the input ends after")) << run.output;
    SF_INFO info;
    readAll(path("out.wav"), info);
    EXPECT_EQ(info.frames, (100000 - 44) / 6);
}

TEST_F(RendererHabits, NoOutputMayBeAnInputWhateverItsName) {
    writeTake("take.wav", 3, 480);
    const std::vector<std::uint8_t> before = bytesOf(path("take.wav"));
    fs::create_symlink(path("take.wav"), path("link.wav"));
    for (const std::string& output : {path("take.wav"), (dir_ / "." / "take.wav").string(), path("link.wav")}) {
        const Outcome run = render("-i " + path("take.wav") + " -o " + output + " --overwrite");
        EXPECT_EQ(run.status, 2) << output;
        EXPECT_TRUE(contains(run.output, "is the input")) << run.output;
    }
    const Outcome viaScope = render("-i " + path("take.wav") + " -o " + path("o.wav") + " --scope " + path("link.wav") +
                                    " --overwrite");
    EXPECT_EQ(viaScope.status, 2);
    EXPECT_EQ(bytesOf(path("take.wav")), before);
}

TEST_F(RendererHabits, EveryPlaceIsCheckedBeforeTheWorkAndSaysWhy) {
    writeTake("take.wav", 3, 480);
    const std::string nowhere = path("no/such/folder/");
    for (const std::string& extra : {"--scope " + nowhere + "s.png", "--save-preset " + nowhere + "p.fxp"}) {
        const Outcome run = render("-i " + path("take.wav") + " -o " + path("out.wav") + " " + extra);
        EXPECT_EQ(run.status, 2) << extra;
        EXPECT_TRUE(contains(run.output, "No such file or directory")) << run.output;
        EXPECT_FALSE(contains(run.output, ".partial")) << run.output;
        EXPECT_FALSE(fs::exists(path("out.wav"))) << extra;
    }
    // The scope always shows the decoded pair, whichever outputs are written.
    const Outcome run = render("-i " + path("take.wav") + " -o " + path("di.wav") + " --outputs 3 --scope " + path("s.png"));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(fs::exists(path("s.png")));
}

// A long render stopped by a signal leaves no file, and says so by its status.
TEST_F(RendererHabits, AnInterruptedRenderLeavesNoFile) {
    writeTake("long.wav", 3, 48000 * 20);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string log = path("log.txt");
            freopen(log.c_str(), "w", stderr);
            freopen(log.c_str(), "a", stdout);
            execl(VSTRENDER_PATH, VSTRENDER_PATH, "-i", path("long.wav").c_str(), "-o", path("out.flac").c_str(),
                  "--block-size", "1", "--overwrite", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the output's temporary file exists: the render is under way.
        for (int i = 0; i < 500 && !fs::exists(path("out.flac.partial")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(path("out.flac.partial")));
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_FALSE(fs::exists(path("out.flac")));
        EXPECT_FALSE(fs::exists(path("out.flac.partial")));
    }
}

TEST_F(RendererHabits, ARelativePluginPathIsAFileHere) {
    writeTake("take.wav", 3, 480);
    fs::copy_file(VINTREL_PLUGIN_PATH, path("GuitarDecoder.so"));
    const Outcome run = render("--plugin GuitarDecoder.so -i take.wav -o out.wav", dir_.string());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(fs::exists(path("out.wav")));
}

// Pixels of a PNG, as rows of RGB.
std::vector<std::uint8_t> readPng(const std::string& file, int& width, int& height) {
    std::vector<std::uint8_t> pixels;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return pixels;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        width = static_cast<int>(png_get_image_width(png, info));
        height = static_cast<int>(png_get_image_height(png, info));
        pixels.resize(static_cast<std::size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y) png_read_row(png, &pixels[static_cast<std::size_t>(y) * width * 3], nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return pixels;
}

int redPixels(const std::vector<std::uint8_t>& rgb) {
    int n = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) n += rgb[i] > 200 && rgb[i + 1] < 120 && rgb[i + 2] < 90;
    return n;
}

TEST_F(RendererHabits, TheScopeShowsBothDecodesAndMarksOverload) {
    RendererHabits& self = *this;
    writeHotTake(self, "hot.wav", 9600);
    writeHotTake(self, "quiet.wav", 9600, 0.01f);  // about -40 dBFS
    ASSERT_EQ(render("-i " + path("hot.wav") + " -o " + path("h.wav") + " --bits float --scope " + path("h.png")).status, 0);
    ASSERT_EQ(render("-i " + path("quiet.wav") + " -o " + path("q.wav") + " --scope " + path("q.png")).status, 0);
    int width = 0, height = 0;
    const auto hot = readPng(path("h.png"), width, height);
    EXPECT_EQ(width, 2 * (512 + 2 * 56));  // the settings as set, and the plain decode beside them
    EXPECT_GT(redPixels(hot), 200);  // overload in red
    const auto quiet = readPng(path("q.png"), width, height);
    EXPECT_EQ(redPixels(quiet), 0);
    // A quiet take still fills its scope: lit points reach beyond a quarter of the radius.
    int far = 0;
    const int cx = 56 + 256, cy = 12 + 2 * 16 + 56 + 256;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 624; ++x) {
            const std::uint8_t* p = &quiet[(static_cast<std::size_t>(y) * width + x) * 3];
            if (p[1] > 100 && p[1] > p[0] + 60 && std::hypot(x - cx, y - cy) > 64) ++far;
        }
    EXPECT_GT(far, 50);
}

TEST_F(RendererHabits, DefaultsWriteThePairAndASilentOutputThreeIsExplained) {
    writeTake("take.wav", 3, 480);
    ASSERT_EQ(render("-i " + path("take.wav") + " -o " + path("pair.wav")).status, 0);
    SF_INFO info;
    readAll(path("pair.wav"), info);
    EXPECT_EQ(info.channels, 2);
    Outcome run = render("-i " + path("take.wav") + " -o " + path("di.wav") + " --outputs 3");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(contains(run.output, "output 3 is silent with these settings")) << run.output;
    EXPECT_TRUE(contains(run.output, "DI routing=output DI via pin 3")) << run.output;
    run = render("-i " + path("take.wav") + " -o " + path("di2.wav") +
                 " --outputs 3 --param 'DI routing=output DI via pin 3' --param 'DI level=0'");
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(contains(run.output, "silent")) << run.output;
    run = render("--help");
    EXPECT_TRUE(contains(run.output, "--outputs 1,2,3") || contains(run.output, "1,2,3")) << run.output;
}

TEST_F(RendererHabits, ConventionsOfCommandLineAudioTools) {
    writeTake("take.wav", 3, 480);
    Outcome run = render("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "vstrender 1.0.0\n");
    run = render("-q -i " + path("take.wav") + " -o " + path("q.wav"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "");
    run = render("--outputs=1,2 --param='stereo width=20' -i " + path("take.wav") + " -o=" + path("eq.wav"));
    EXPECT_EQ(run.status, 2);  // -o takes its value as the next word only, as short options do
    run = render("--outputs=1,2 --param='stereo width=20' -i " + path("take.wav") + " -o " + path("eq.wav"));
    EXPECT_EQ(run.status, 0) << run.output;
    run = render("-i " + path("take.wav") + " -o " + path("a.wav") + " -o " + path("b.wav"));
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.output, "-o is given twice")) << run.output;
    run = render("--no-such-option");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, "vstrender: unknown option --no-such-option\nsee vstrender --help\n");

    // Standard input in, standard output out: the same audio as from and to files.
    ASSERT_EQ(render("-i " + path("take.wav") + " -o " + path("file.wav")).status, 0);
    const std::string piped = "cat " + path("take.wav") + " | " + VSTRENDER_PATH + " -i - -o - > " + path("piped.wav") +
                              " 2> " + path("err.txt");
    ASSERT_EQ(std::system(piped.c_str()), 0);
    SF_INFO a, b;
    EXPECT_EQ(readAll(path("file.wav"), a), readAll(path("piped.wav"), b));
    EXPECT_EQ(b.frames, 480);
    const std::vector<std::uint8_t> report = bytesOf(path("err.txt"));
    EXPECT_TRUE(contains(std::string(report.begin(), report.end()), "Rendered"));  // the report keeps off the audio
}

TEST_F(RendererHabits, MessagesSpeakTheUsersTerms) {
    writeTake("take.wav", 3, 480);
    writeTake("four.wav", 4, 480);
    fs::create_directories(path("folder.wav"));
    const std::vector<std::uint8_t> whole = bytesOf(path("take.wav"));
    std::ofstream(path("header.wav"), std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), 20);
    std::vector<std::uint8_t> fxp;
    ASSERT_EQ(render("--save-preset " + path("p.fxp")).status, 0);
    fxp = bytesOf(path("p.fxp"));
    fxp[16] = 'A', fxp[17] = 'B', fxp[18] = 'C', fxp[19] = 'D';  // another plug-in's id
    std::ofstream(path("other.fxp"), std::ios::binary).write(reinterpret_cast<const char*>(fxp.data()), static_cast<std::streamsize>(fxp.size()));
    struct Case {
        std::string arguments, message;
        int status;
    };
    const Case cases[] = {
        {"-i " + path("nosuch.wav") + " -o " + path("o.wav"), "cannot read " + path("nosuch.wav") + ": No such file or directory", 1},
        {"-i " + path("folder.wav") + " -o " + path("o.wav"), "is a folder, not an audio file", 1},
        {"-i " + path("header.wav") + " -o " + path("o.wav"), "not an audio file libsndfile knows, or its header is damaged", 1},
        {"--preset " + path("nosuch.fxp") + " --list-params", "cannot read " + path("nosuch.fxp") + ": No such file or directory", 2},
        {"--preset " + path("other.fxp") + " --list-params", "was saved by another plug-in, id 'ABCD'", 2},
    };
    for (const Case& c : cases) {
        const Outcome run = render(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_TRUE(contains(run.output, c.message)) << c.arguments << "\n" << run.output;
        EXPECT_FALSE(contains(run.output, "System error")) << run.output;
    }
    const Outcome extra = render("-i " + path("four.wav") + " -o " + path("o.wav"));
    EXPECT_EQ(extra.status, 0);
    EXPECT_TRUE(
        contains(extra.output, "the inputs have 4 channels and the plug-in takes 3: channel 4 is left out"))
        << extra.output;
}

}  // namespace
