// Services through which an effect reaches its host adapter, declared here for the effect and
// defined by the adapter. Each takes the effect's VeST pointer; given a null adapter it does
// nothing and answers 0.
#pragma once

#include <cstdint>

class CVeST;     // the host adapter, which defines these
struct AEffect;  // its entry record

AEffect* VeSTGetAEffect(CVeST* vest);
std::int32_t VeSTSetNumInputs(CVeST* vest, std::int32_t count);
std::int32_t VeSTSetNumOutputs(CVeST* vest, std::int32_t count);
std::int32_t VeSTSetUniqueID(CVeST* vest, std::int32_t id);
std::int32_t VeSTProgramsAreChunks(CVeST* vest, bool state);
std::int32_t VeSTGetNumInputs(CVeST* vest);
double VeSTGetSampleRate(CVeST* vest);
std::int32_t VeSTGetBlockSize(CVeST* vest);
std::int32_t VeSTSetInitialDelay(CVeST* vest, std::int32_t delay);
std::int32_t VeSTRedraw(CVeST* vest);

// Transport: each asks the host for its time information afresh.
double VeSTTempo(CVeST* vest);
bool VeSTIsPlaying(CVeST* vest);
bool VeSTIsRecording(CVeST* vest);
double VeSTBeatPosition(CVeST* vest);
std::int32_t VeSTTimeSignature(CVeST* vest, double* tempo, double* numerator, double* denominator);
