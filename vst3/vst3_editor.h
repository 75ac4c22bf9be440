// The editor as a VST 3 view: a child window in the host's, driven on Linux by the host's run
// loop (the window's events and a timer), resized and scaled by the host.
#pragma once

#include "align/tone_match.h"
#include "editor/meters.h"
#include "vst3/vst3_api.h"

namespace vst3editor {

// What the view needs of the plug-in it shows.
class ViewOwner {
public:
    virtual ~ViewOwner() = default;
    virtual vst3::FUnknown* owner() = 0;  // held while the view lives
    virtual editor::MeterFeed& meters() = 0;
    virtual double shownValue(int parameter) = 0;  // the controller's value, display units
    // An edit from the editor, in display units, for the host's component handler.
    virtual void beginEdit(int parameter) = 0;
    virtual void performEdit(int parameter, double value) = 0;
    virtual void endEdit(int parameter) = 0;
    virtual void presetChosen(int preset) = 0;  // from the editor's preset bar
    virtual vst3::IComponentHandler* componentHandler() = 0;  // the host's, or null
    // The DI's tone match the processor holds, and a new one from APPLY.
    virtual align::ToneCurve toneCurve() = 0;
    virtual void setToneCurve(const align::ToneCurve& curve) = 0;
};

// A new view with one reference, the caller's.
vst3::IPlugView* createView(ViewOwner& owner);

}  // namespace vst3editor
