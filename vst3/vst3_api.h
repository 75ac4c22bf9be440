// Our declarations of the published VST 3 binary interface: the interfaces, structures and
// constants this plug-in and our test host use. Interfaces are abstract classes whose virtual
// functions stand in their published order, so their tables match the published ones; every
// identifier, size and offset is pinned here or checked in the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PLUGIN_API __stdcall
#else
#define PLUGIN_API
#endif

namespace vst3 {

using int8 = char;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using tresult = int32;
using TBool = uint8;
using char8 = char;
using char16 = char16_t;
using TChar = char16;
using String128 = TChar[128];
using TUID = char[16];
using FIDString = const char8*;
using MediaType = int32;
using BusDirection = int32;
using BusType = int32;
using IoMode = int32;
using UnitID = int32;
using ParamID = uint32;
using ParamValue = double;
using TSamples = int64;
using TQuarterNotes = double;
using SampleRate = double;
using Sample32 = float;
using Sample64 = double;
using SpeakerArrangement = uint64;

// Result codes: COM's on Windows, small integers elsewhere.
#if defined(_WIN32)
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002), kResultOk = 0, kResultTrue = 0,
                  kResultFalse = 1, kInvalidArgument = static_cast<tresult>(0x80070057),
                  kNotImplemented = static_cast<tresult>(0x80004001), kInternalError = static_cast<tresult>(0x80004005),
                  kNotInitialized = static_cast<tresult>(0x8000FFFF), kOutOfMemory = static_cast<tresult>(0x8007000E);
#else
constexpr tresult kNoInterface = -1, kResultOk = 0, kResultTrue = 0, kResultFalse = 1, kInvalidArgument = 2,
                  kNotImplemented = 3, kInternalError = 4, kNotInitialized = 5, kOutOfMemory = 6;
#endif

// A 16-byte identifier from its four published words, laid out as COM's GUID on Windows and
// most significant byte first elsewhere.
struct Uid {
    char bytes[16];
};
constexpr Uid makeUid(uint32 w1, uint32 w2, uint32 w3, uint32 w4) {
    Uid u{};
    auto put = [&u](int at, uint32 word) {
        for (int i = 0; i < 4; ++i) u.bytes[at + i] = static_cast<char>((word >> (24 - 8 * i)) & 0xFF);
    };
#if defined(_WIN32)
    for (int i = 0; i < 4; ++i) u.bytes[i] = static_cast<char>((w1 >> (8 * i)) & 0xFF);
    u.bytes[4] = static_cast<char>((w2 >> 16) & 0xFF), u.bytes[5] = static_cast<char>((w2 >> 24) & 0xFF);
    u.bytes[6] = static_cast<char>(w2 & 0xFF), u.bytes[7] = static_cast<char>((w2 >> 8) & 0xFF);
#else
    put(0, w1);
    put(4, w2);
#endif
    put(8, w3);
    put(12, w4);
    return u;
}
bool sameUid(const char* a, const Uid& b);

class FUnknown {
public:
    static constexpr Uid iid = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
    virtual tresult PLUGIN_API queryInterface(const TUID iid, void** obj) = 0;
    virtual uint32 PLUGIN_API addRef() = 0;
    virtual uint32 PLUGIN_API release() = 0;
};

class IPluginBase : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
    virtual tresult PLUGIN_API initialize(FUnknown* context) = 0;
    virtual tresult PLUGIN_API terminate() = 0;
};

// Factory.
struct PFactoryInfo {
    enum { kURLSize = 256, kEmailSize = 128, kNameSize = 64 };
    enum FactoryFlags { kNoFlags = 0, kClassesDiscardable = 1, kLicenseCheck = 2, kComponentNonDiscardable = 8, kUnicode = 16 };
    char8 vendor[kNameSize];
    char8 url[kURLSize];
    char8 email[kEmailSize];
    int32 flags;
};
struct PClassInfo {
    enum { kManyInstances = 0x7FFFFFFF, kCategorySize = 32, kNameSize = 64 };
    TUID cid;
    int32 cardinality;
    char8 category[kCategorySize];
    char8 name[kNameSize];
};
struct PClassInfo2 {
    enum { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };
    TUID cid;
    int32 cardinality;
    char8 category[PClassInfo::kCategorySize];
    char8 name[PClassInfo::kNameSize];
    uint32 classFlags;
    char8 subCategories[kSubCategoriesSize];
    char8 vendor[kVendorSize];
    char8 version[kVersionSize];
    char8 sdkVersion[kVersionSize];
};
struct PClassInfoW {
    TUID cid;
    int32 cardinality;
    char8 category[PClassInfo::kCategorySize];
    char16 name[PClassInfo::kNameSize];
    uint32 classFlags;
    char8 subCategories[PClassInfo2::kSubCategoriesSize];
    char16 vendor[PClassInfo2::kVendorSize];
    char16 version[PClassInfo2::kVersionSize];
    char16 sdkVersion[PClassInfo2::kVersionSize];
};

class IPluginFactory : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
    virtual tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 PLUGIN_API countClasses() = 0;
    virtual tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) = 0;
};
class IPluginFactory2 : public IPluginFactory {
public:
    static constexpr Uid iid = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
    virtual tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) = 0;
};
class IPluginFactory3 : public IPluginFactory2 {
public:
    static constexpr Uid iid = makeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
    virtual tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;
    virtual tresult PLUGIN_API setHostContext(FUnknown* context) = 0;
};

// Streams.
class IBStream : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
    enum IStreamSeekMode { kIBSeekSet = 0, kIBSeekCur, kIBSeekEnd };
    virtual tresult PLUGIN_API read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult PLUGIN_API write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;
    virtual tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult PLUGIN_API tell(int64* pos) = 0;
};

// The component.
enum MediaTypes { kAudio = 0, kEvent, kNumMediaTypes };
enum BusDirections { kInput = 0, kOutput };
enum BusTypes { kMain = 0, kAux };
enum IoModes { kSimple = 0, kAdvanced, kOfflineProcessing };

struct BusInfo {
    enum BusFlags { kDefaultActive = 1, kIsControlVoltage = 2 };
    MediaType mediaType;
    BusDirection direction;
    int32 channelCount;
    String128 name;
    BusType busType;
    uint32 flags;
};
struct RoutingInfo {
    MediaType mediaType;
    int32 busIndex;
    int32 channel;
};

class IComponent : public IPluginBase {
public:
    static constexpr Uid iid = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
    virtual tresult PLUGIN_API getControllerClassId(TUID classId) = 0;
    virtual tresult PLUGIN_API setIoMode(IoMode mode) = 0;
    virtual int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) = 0;
    virtual tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) = 0;
    virtual tresult PLUGIN_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index, TBool state) = 0;
    virtual tresult PLUGIN_API setActive(TBool state) = 0;
    virtual tresult PLUGIN_API setState(IBStream* state) = 0;
    virtual tresult PLUGIN_API getState(IBStream* state) = 0;
};

// Processing.
enum ProcessModes { kRealtime = 0, kPrefetch, kOffline };
enum SymbolicSampleSizes { kSample32 = 0, kSample64 = 1 };
constexpr uint32 kNoTail = 0;

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    SampleRate sampleRate;
};
struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;
    union {
        Sample32** channelBuffers32;
        Sample64** channelBuffers64;
    };
};
struct Chord {
    uint8 keyNote;
    uint8 rootNote;
    int16 chordMask;
};
struct FrameRate {
    uint32 framesPerSecond;
    uint32 flags;
};
struct ProcessContext {
    enum StatesAndFlags {
        kPlaying = 1 << 1, kCycleActive = 1 << 2, kRecording = 1 << 3, kSystemTimeValid = 1 << 8,
        kProjectTimeMusicValid = 1 << 9, kTempoValid = 1 << 10, kBarPositionValid = 1 << 11,
        kCycleValid = 1 << 12, kTimeSigValid = 1 << 13, kSmpteValid = 1 << 14, kClockValid = 1 << 15,
        kContTimeValid = 1 << 17, kChordValid = 1 << 18
    };
    uint32 state;
    double sampleRate;
    TSamples projectTimeSamples;
    int64 systemTime;
    TSamples continousTimeSamples;
    TQuarterNotes projectTimeMusic;
    TQuarterNotes barPositionMusic;
    TQuarterNotes cycleStartMusic;
    TQuarterNotes cycleEndMusic;
    double tempo;
    int32 timeSigNumerator;
    int32 timeSigDenominator;
    Chord chord;
    int32 smpteOffsetSubframes;
    FrameRate frameRate;
    int32 samplesToNextClock;
};

class IParamValueQueue : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
    virtual ParamID PLUGIN_API getParameterId() = 0;
    virtual int32 PLUGIN_API getPointCount() = 0;
    virtual tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) = 0;
    virtual tresult PLUGIN_API addPoint(int32 sampleOffset, ParamValue value, int32& index) = 0;
};
class IParameterChanges : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
    virtual int32 PLUGIN_API getParameterCount() = 0;
    virtual IParamValueQueue* PLUGIN_API getParameterData(int32 index) = 0;
    virtual IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) = 0;
};
struct Event;  // no event bus: never read
class IEventList : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
    virtual int32 PLUGIN_API getEventCount() = 0;
    virtual tresult PLUGIN_API getEvent(int32 index, Event& e) = 0;
    virtual tresult PLUGIN_API addEvent(Event& e) = 0;
};

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

class IAudioProcessor : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
    virtual tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                  SpeakerArrangement* outputs, int32 numOuts) = 0;
    virtual tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) = 0;
    virtual tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 PLUGIN_API getLatencySamples() = 0;
    virtual tresult PLUGIN_API setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult PLUGIN_API setProcessing(TBool state) = 0;
    virtual tresult PLUGIN_API process(ProcessData& data) = 0;
    virtual uint32 PLUGIN_API getTailSamples() = 0;
};

class IProcessContextRequirements : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
    enum Flags {
        kNeedProjectTimeMusic = 1 << 2, kNeedTempo = 1 << 6, kNeedTimeSignature = 1 << 7,
        kNeedTransportState = 1 << 10
    };
    virtual uint32 PLUGIN_API getProcessContextRequirements() = 0;
};

// The edit controller.
struct ParameterInfo {
    enum ParameterFlags {
        kNoFlags = 0, kCanAutomate = 1, kIsReadOnly = 2, kIsWrapAround = 4, kIsList = 8, kIsHidden = 16,
        kIsProgramChange = 1 << 15, kIsBypass = 1 << 16
    };
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32 flags;
};

class IComponentHandler : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
    enum RestartFlags { kReloadComponent = 1, kIoChanged = 2, kParamValuesChanged = 4, kLatencyChanged = 8 };
    virtual tresult PLUGIN_API beginEdit(ParamID id) = 0;
    virtual tresult PLUGIN_API performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult PLUGIN_API endEdit(ParamID id) = 0;
    virtual tresult PLUGIN_API restartComponent(int32 flags) = 0;
};

class IPlugView;
class IEditController : public IPluginBase {
public:
    static constexpr Uid iid = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
    virtual tresult PLUGIN_API setComponentState(IBStream* state) = 0;
    virtual tresult PLUGIN_API setState(IBStream* state) = 0;
    virtual tresult PLUGIN_API getState(IBStream* state) = 0;
    virtual int32 PLUGIN_API getParameterCount() = 0;
    virtual tresult PLUGIN_API getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
    virtual tresult PLUGIN_API getParamStringByValue(ParamID id, ParamValue valueNormalized, TChar* string) = 0;
    virtual tresult PLUGIN_API getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized) = 0;
    virtual ParamValue PLUGIN_API normalizedParamToPlain(ParamID id, ParamValue valueNormalized) = 0;
    virtual ParamValue PLUGIN_API plainParamToNormalized(ParamID id, ParamValue plainValue) = 0;
    virtual ParamValue PLUGIN_API getParamNormalized(ParamID id) = 0;
    virtual tresult PLUGIN_API setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* PLUGIN_API createView(FIDString name) = 0;
};

// The editor's view, the host's frame around it, and on Linux the host's run loop that drives
// it (events of the view's X11 connection, and timers).
struct ViewRect {
    int32 left, top, right, bottom;
};
using ScaleFactor = float;
constexpr char kPlatformTypeHWND[] = "HWND";
constexpr char kPlatformTypeX11EmbedWindowID[] = "X11EmbedWindowID";
constexpr char kEditorViewType[] = "editor";

class IPlugFrame;
class IPlugView : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
    virtual tresult PLUGIN_API isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult PLUGIN_API attached(void* parent, FIDString type) = 0;
    virtual tresult PLUGIN_API removed() = 0;
    virtual tresult PLUGIN_API onWheel(float distance) = 0;
    virtual tresult PLUGIN_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult PLUGIN_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult PLUGIN_API getSize(ViewRect* size) = 0;
    virtual tresult PLUGIN_API onSize(ViewRect* newSize) = 0;
    virtual tresult PLUGIN_API onFocus(TBool state) = 0;
    virtual tresult PLUGIN_API setFrame(IPlugFrame* frame) = 0;
    virtual tresult PLUGIN_API canResize() = 0;
    virtual tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) = 0;
};

class IPlugFrame : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
    virtual tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) = 0;
};

class IPlugViewContentScaleSupport : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
    virtual tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) = 0;
};

namespace Linux {
using FileDescriptor = int;
using TimerInterval = uint64;

class IEventHandler : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
    virtual void PLUGIN_API onFDIsSet(FileDescriptor fd) = 0;
};

class ITimerHandler : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
    virtual void PLUGIN_API onTimer() = 0;
};

class IRunLoop : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
    virtual tresult PLUGIN_API registerEventHandler(IEventHandler* handler, FileDescriptor fd) = 0;
    virtual tresult PLUGIN_API unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult PLUGIN_API registerTimer(ITimerHandler* handler, TimerInterval milliseconds) = 0;
    virtual tresult PLUGIN_API unregisterTimer(ITimerHandler* handler) = 0;
};
}  // namespace Linux

// Split component and controller talk through connection points; this plug-in is one object
// and declares them only for hosts that ask.
class IAttributeList;
class IMessage : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x936F033B, 0xC6C047DB, 0xBB0882F8, 0x13C1E613);
    virtual FIDString PLUGIN_API getMessageID() = 0;
    virtual void PLUGIN_API setMessageID(FIDString id) = 0;
    virtual IAttributeList* PLUGIN_API getAttributes() = 0;
};
class IConnectionPoint : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
    virtual tresult PLUGIN_API connect(IConnectionPoint* other) = 0;
    virtual tresult PLUGIN_API disconnect(IConnectionPoint* other) = 0;
    virtual tresult PLUGIN_API notify(IMessage* message) = 0;
};
class IHostApplication : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
    virtual tresult PLUGIN_API getName(TChar* name) = 0;
    virtual tresult PLUGIN_API createInstance(TUID cid, TUID iid, void** obj) = 0;
};

// Units and program lists: a plug-in with one unit, the root, holding one list of programs.
using ProgramListID = int32;
constexpr UnitID kRootUnitId = 0, kNoParentUnitId = -1;
constexpr ProgramListID kNoProgramListId = -1;
struct UnitInfo {
    UnitID id;
    UnitID parentUnitId;
    String128 name;
    ProgramListID programListId;
};
struct ProgramListInfo {
    ProgramListID id;
    String128 name;
    int32 programCount;
};
class IUnitInfo : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);
    virtual int32 PLUGIN_API getUnitCount() = 0;
    virtual tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo& info) = 0;
    virtual int32 PLUGIN_API getProgramListCount() = 0;
    virtual tresult PLUGIN_API getProgramListInfo(int32 listIndex, ProgramListInfo& info) = 0;
    virtual tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex, TChar* name) = 0;
    virtual tresult PLUGIN_API getProgramInfo(ProgramListID listId, int32 programIndex, const char8* attributeId,
                                              TChar* attributeValue) = 0;
    virtual tresult PLUGIN_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) = 0;
    virtual tresult PLUGIN_API getProgramPitchName(ProgramListID listId, int32 programIndex, int16 midiPitch,
                                                   TChar* name) = 0;
    virtual UnitID PLUGIN_API getSelectedUnit() = 0;
    virtual tresult PLUGIN_API selectUnit(UnitID unitId) = 0;
    virtual tresult PLUGIN_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex, int32 channel,
                                            UnitID& unitId) = 0;
    virtual tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex, IBStream* data) = 0;
};

// Context menus: the host's menu for a parameter, which a plug-in may add its own items to.
using UCoord = int32;
struct IContextMenuItem {
    enum Flags { kIsSeparator = 1 << 0, kIsDisabled = 1 << 1, kIsChecked = 1 << 2, kIsGroupStart = 0xA, kIsGroupEnd = 0x11 };
    String128 name;
    int32 tag;
    int32 flags;
};
class IContextMenuTarget : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x3CDF2E75, 0x85D34144, 0xBF86D36B, 0xD7C4894D);
    virtual tresult PLUGIN_API executeMenuItem(int32 tag) = 0;
};
class IContextMenu : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x2E93C863, 0x0C9C4588, 0x97DBECF5, 0xAD17817D);
    using Item = IContextMenuItem;
    virtual int32 PLUGIN_API getItemCount() = 0;
    virtual tresult PLUGIN_API getItem(int32 index, Item& item, IContextMenuTarget** target) = 0;
    virtual tresult PLUGIN_API addItem(const Item& item, IContextMenuTarget* target) = 0;
    virtual tresult PLUGIN_API removeItem(const Item& item, IContextMenuTarget* target) = 0;
    virtual tresult PLUGIN_API popup(UCoord x, UCoord y) = 0;  // relative to the view's top left
};
// The component handler's second interface, on the same object: a step of several edits, and
// the plug-in's state changed outside its parameters.
class IComponentHandler2 : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0xF040B4B3, 0xA36045EC, 0xABCDC045, 0xB4D5A2CC);
    virtual tresult PLUGIN_API setDirty(TBool state) = 0;
    virtual tresult PLUGIN_API requestOpenEditor(FIDString name) = 0;
    virtual tresult PLUGIN_API startGroupEdit() = 0;
    virtual tresult PLUGIN_API finishGroupEdit() = 0;
};
// The component handler's third interface, on the same object.
class IComponentHandler3 : public FUnknown {
public:
    static constexpr Uid iid = makeUid(0x69F11617, 0xD26B400D, 0xA4B6B964, 0x7B6EBBAB);
    virtual IContextMenu* PLUGIN_API createContextMenu(IPlugView* plugView, const ParamID* paramID) = 0;
};

// The virtual key codes of IPlugView::onKeyDown that the editor reads. Digits and capitals
// come as 128 + (character - '0'); other characters only in `key`.
enum VirtualKeyCodes : int16 { KEY_BACK = 1, KEY_RETURN = 4, KEY_ESCAPE = 6, KEY_SPACE = 7, KEY_ENTER = 19,
                               KEY_SUBTRACT = 37, KEY_DECIMAL = 38, VKEY_FIRST_ASCII = 128 };

// Speaker arrangements.
namespace SpeakerArr {
constexpr SpeakerArrangement kEmpty = 0, kMono = 1ull << 19, kStereo = 0x3, k30Cine = 0x7, k30Music = 0x103;
}

constexpr char kVstAudioEffectClass[] = "Audio Module Class";
constexpr char kSdkVersionString[] = "VST 3.7.14";

inline bool sameUid(const char* a, const Uid& b) {
    for (int i = 0; i < 16; ++i)
        if (a[i] != b.bytes[i]) return false;
    return true;
}

// clang-format off
static_assert(sizeof(PFactoryInfo) == 452 && offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116 && offsetof(PClassInfo, category) == 20 && offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440 && offsetof(PClassInfo2, classFlags) == 116 &&
              offsetof(PClassInfo2, subCategories) == 120 && offsetof(PClassInfo2, vendor) == 248 &&
              offsetof(PClassInfo2, version) == 312 && offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(PClassInfoW) == 696 && offsetof(PClassInfoW, name) == 52 && offsetof(PClassInfoW, classFlags) == 180 &&
              offsetof(PClassInfoW, subCategories) == 184 && offsetof(PClassInfoW, vendor) == 312 &&
              offsetof(PClassInfoW, version) == 440 && offsetof(PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(BusInfo) == 276 && offsetof(BusInfo, name) == 12 && offsetof(BusInfo, busType) == 268 &&
              offsetof(BusInfo, flags) == 272);
static_assert(sizeof(RoutingInfo) == 12 && sizeof(Chord) == 4 && sizeof(FrameRate) == 8);
static_assert(offsetof(ParameterInfo, title) == 4 && offsetof(ParameterInfo, shortTitle) == 260 &&
              offsetof(ParameterInfo, units) == 516 && offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 && offsetof(ParameterInfo, unitId) == 784 &&
              offsetof(ParameterInfo, flags) == 788 && sizeof(ParameterInfo) == 792);
#if INTPTR_MAX == INT64_MAX || defined(_WIN32)  // 64-bit fields aligned to 8
static_assert(sizeof(ProcessSetup) == 24 && offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24 && offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16 && offsetof(AudioBusBuffers, channelBuffers64) == 16);
static_assert(sizeof(ProcessContext) == 112 && offsetof(ProcessContext, sampleRate) == 8 &&
              offsetof(ProcessContext, projectTimeMusic) == 40 && offsetof(ProcessContext, tempo) == 72 &&
              offsetof(ProcessContext, timeSigNumerator) == 80 && offsetof(ProcessContext, chord) == 88 &&
              offsetof(ProcessContext, frameRate) == 96 && offsetof(ProcessContext, samplesToNextClock) == 104);
#else  // System V i386: 4
static_assert(sizeof(ProcessSetup) == 20 && offsetof(ProcessSetup, sampleRate) == 12);
static_assert(sizeof(AudioBusBuffers) == 16 && offsetof(AudioBusBuffers, silenceFlags) == 4 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 12);
static_assert(sizeof(ProcessContext) == 104 && offsetof(ProcessContext, sampleRate) == 4 &&
              offsetof(ProcessContext, projectTimeMusic) == 36 && offsetof(ProcessContext, tempo) == 68 &&
              offsetof(ProcessContext, timeSigNumerator) == 76 && offsetof(ProcessContext, chord) == 84 &&
              offsetof(ProcessContext, frameRate) == 92 && offsetof(ProcessContext, samplesToNextClock) == 100);
#endif
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(ProcessData) == 80 && offsetof(ProcessData, inputs) == 24 && offsetof(ProcessData, outputs) == 32 &&
              offsetof(ProcessData, inputParameterChanges) == 40 && offsetof(ProcessData, outputParameterChanges) == 48 &&
              offsetof(ProcessData, inputEvents) == 56 && offsetof(ProcessData, outputEvents) == 64 &&
              offsetof(ProcessData, processContext) == 72);
#else
static_assert(sizeof(ProcessData) == 48 && offsetof(ProcessData, inputs) == 20 && offsetof(ProcessData, outputs) == 24 &&
              offsetof(ProcessData, inputParameterChanges) == 28 && offsetof(ProcessData, outputParameterChanges) == 32 &&
              offsetof(ProcessData, inputEvents) == 36 && offsetof(ProcessData, outputEvents) == 40 &&
              offsetof(ProcessData, processContext) == 44);
#endif
static_assert(sizeof(TChar) == 2 && sizeof(String128) == 256 && sizeof(TBool) == 1);
static_assert(sizeof(ViewRect) == 16 && alignof(ViewRect) == 4 && offsetof(ViewRect, right) == 8 &&
              offsetof(ViewRect, bottom) == 12);
static_assert(sizeof(UnitInfo) == 268 && alignof(UnitInfo) == 4 && offsetof(UnitInfo, parentUnitId) == 4 &&
              offsetof(UnitInfo, name) == 8 && offsetof(UnitInfo, programListId) == 264);
static_assert(sizeof(ProgramListInfo) == 264 && alignof(ProgramListInfo) == 4 && offsetof(ProgramListInfo, name) == 4 &&
              offsetof(ProgramListInfo, programCount) == 260);
static_assert(sizeof(IUnitInfo) == sizeof(void*));
static_assert(sizeof(IContextMenuItem) == 264 && alignof(IContextMenuItem) == 4 && offsetof(IContextMenuItem, tag) == 256 &&
              offsetof(IContextMenuItem, flags) == 260);
static_assert(sizeof(IContextMenu) == sizeof(void*) && sizeof(IContextMenuTarget) == sizeof(void*) &&
              sizeof(IComponentHandler3) == sizeof(void*) && sizeof(IComponentHandler2) == sizeof(void*));
static_assert(sizeof(ScaleFactor) == 4 && sizeof(Linux::FileDescriptor) == 4 && sizeof(Linux::TimerInterval) == 8);
// Each interface is one table pointer; its functions stand in the published order (checked by
// the tests, which call every slot through a host's view of it).
static_assert(sizeof(IComponent) == sizeof(void*) && sizeof(IEditController) == sizeof(void*) &&
              sizeof(IPlugView) == sizeof(void*) && sizeof(Linux::IRunLoop) == sizeof(void*));
// clang-format on

}  // namespace vst3
