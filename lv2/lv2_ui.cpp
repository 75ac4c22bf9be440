// The LV2 plug-in's editor: a module of its own in the bundle (an X11 UI), so the plug-in's
// module never links a window system. Edits go to the control ports through the host, with
// touch around a drag where the host offers it; meters come from the instance where the host
// gives access to it; the host's idle calls pace the pictures.
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "lv2/lv2_instance.h"
#include "lv2/lv2_ports.h"
#include "shell/session.h"

namespace {

namespace ports = vintrel::lv2;

// A parameter's control port: those up to the bypass in order, then the tone match's.
std::uint32_t portOf(int parameter) {
    return parameter == vintrel::kDiMatch ? ports::kMatchPort : ports::kControls + static_cast<std::uint32_t>(parameter);
}

class Lv2Editor final : public editor::EditorHost {
public:
    // `instance`, when the host gives access to it, holds the tone match.
    Lv2Editor(LV2UI_Write_Function write, LV2UI_Controller controller, ports::Lv2Decoder* instance, editor::MeterFeed& meters)
        : write_(write), controller_(controller), instance_(instance),
          session_(*this, meters, [this](int p) { return values_[static_cast<std::size_t>(p)]; }) {
        for (std::size_t i = 0; i < values_.size(); ++i) values_[i] = vintrel::EmbeddedDecoder::parameters()[i].defaultValue;
    }

    shell::EditorSession& session() { return session_; }
    void portValue(std::uint32_t port, float value) {
        for (int p = 0; p < editor::kParameters; ++p)
            if (editor::shows(p) && portOf(p) == port) values_[static_cast<std::size_t>(p)] = value;
    }
    void offerTouch(const LV2UI_Touch* touch) { touch_ = touch; }

    void beginEdit(int parameter) override { touch(parameter, true); }
    void performEdit(int parameter, double value) override {
        values_[static_cast<std::size_t>(parameter)] = value;
        const float v = static_cast<float>(value);
        write_(controller_, portOf(parameter), sizeof v, 0, &v);
    }
    void endEdit(int parameter) override { touch(parameter, false); }
    align::ToneCurve toneCurve() override { return instance_ != nullptr ? instance_->decoder->toneCurve() : align::ToneCurve{}; }
    void setToneCurve(const align::ToneCurve& curve) override {
        if (instance_ != nullptr) instance_->decoder->setToneCurve(curve);
    }

private:
    void touch(int parameter, bool grabbed) {
        if (touch_ != nullptr) touch_->touch(touch_->handle, portOf(parameter), grabbed);
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    ports::Lv2Decoder* instance_;
    const LV2UI_Touch* touch_ = nullptr;
    std::array<double, editor::kParameters> values_{};
    shell::EditorSession session_;
};

// The meters of a host that gives no access to the instance: nothing is ever measured.
editor::MeterFeed noMeters;

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (; features != nullptr && *features != nullptr; ++features)
        if (std::strcmp((*features)->URI, uri) == 0) return (*features)->data;
    return nullptr;
}

// The host's ui:scaleFactor among its options, or 1.
double scaleFactor(const LV2_Feature* const* features) {
    const auto* options = static_cast<const LV2_Options_Option*>(feature(features, LV2_OPTIONS__options));
    const auto* map = static_cast<const LV2_URID_Map*>(feature(features, LV2_URID__map));
    if (options == nullptr || map == nullptr) return 1.0;
    const LV2_URID scale = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID floatType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Float");
    for (; options->key != 0; ++options)
        if (options->key == scale && options->type == floatType && options->size == sizeof(float))
            return *static_cast<const float*>(options->value);
    return 1.0;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (pluginUri == nullptr || std::strcmp(pluginUri, ports::kUri) != 0 || write == nullptr || widget == nullptr) return nullptr;
    void* parent = const_cast<void*>(feature(features, LV2_UI__parent));
    if (parent == nullptr) return nullptr;
    try {
        auto* instance = static_cast<ports::Lv2Decoder*>(const_cast<void*>(feature(features, LV2_INSTANCE_ACCESS_URI)));
        auto ui = std::make_unique<Lv2Editor>(write, controller, instance, instance != nullptr ? instance->meters : noMeters);
        ui->offerTouch(static_cast<const LV2UI_Touch*>(feature(features, LV2_UI__touch)));
        ui->session().setScale(scaleFactor(features));
        std::string error;
        if (!ui->session().open(parent, error)) return nullptr;
        *widget = ui->session().nativeHandle();
        if (const auto* resize = static_cast<const LV2UI_Resize*>(feature(features, LV2_UI__resize)))
            resize->ui_resize(resize->handle, ui->session().editor().width(), ui->session().editor().height());
        return ui.release();
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle) { delete static_cast<Lv2Editor*>(handle); }

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    if (format == 0 && size == sizeof(float) && buffer != nullptr)
        static_cast<Lv2Editor*>(handle)->portValue(port, *static_cast<const float*>(buffer));
}

// The host's idle calls: the window's events, then values and meters at the editor's pace.
int idle(LV2UI_Handle handle) {
    shell::EditorSession& session = static_cast<Lv2Editor*>(handle)->session();
    session.handleEvents();
    session.tick();
    return 0;
}
const LV2UI_Idle_Interface kIdle = {idle};

// No resize interface: it is deprecated in favour of the window's own size, which the shell
// follows (a host's toolkit resizes the window it embedded; the editor fills what it is given).
const void* extensionData(const char* uri) {
    if (uri != nullptr && std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {ports::kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
