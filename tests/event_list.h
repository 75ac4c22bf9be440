// A VstEvents list as hosts build it: a header followed by as many event pointers as events.
#pragma once

#include <cstddef>
#include <vector>

#include "vst2/aeffect.h"

struct EventList {
    std::vector<VstMidiEvent> midi;
    VstEvent sysex{};
    std::vector<char> storage;

    // `notes` MIDI events (deltaFrames counting up, a note-on each), then one event of another type.
    explicit EventList(int notes)
        : midi(static_cast<std::size_t>(notes)), storage(sizeof(VstEvents) + (midi.size() + 1) * sizeof(VstEvent*)) {
        sysex.type = 6;
        for (std::size_t i = 0; i < midi.size(); ++i) {
            midi[i].type = kVstMidiType;
            midi[i].byteSize = sizeof(VstMidiEvent);
            midi[i].deltaFrames = static_cast<VstInt32>(i);
            midi[i].midiData[0] = static_cast<char>(0x90);
            slots()[i] = reinterpret_cast<VstEvent*>(&midi[i]);
        }
        slots()[midi.size()] = &sysex;
        list()->numEvents = notes + 1;
    }
    VstEvents* list() { return reinterpret_cast<VstEvents*>(storage.data()); }
    VstEvent** slots() { return reinterpret_cast<VstEvent**>(storage.data() + offsetof(VstEvents, events)); }
    // Only the other event and a null entry.
    void noMidi() {
        list()->numEvents = 2;
        slots()[0] = &sysex;
        slots()[1] = nullptr;
    }
};
