#include "sound/formats/module.h"

#include "sound/api/errors.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

namespace {

// Keeps the first failure of a sequence of steps.
void keepFirst(int& first, int code) {
    if (first == errOK) first = code;
}

void freeBlock(int& first, void* block) {
    if (block != nullptr) keepFirst(first, mem_free(block));
}

} // namespace

int alloc_instrument(int sampleCount, Instrument** out) {
    if (sampleCount < 0 || out == nullptr) return errInvalidArguments;
    void* block = nullptr;
    std::size_t bytes = sizeof(Instrument) + static_cast<std::size_t>(sampleCount) * sizeof(Sample*);
    if (int code = mem_alloc_zeroed(bytes, &block); code != errOK) return code;
    auto* instrument = static_cast<Instrument*>(block);
    instrument->sample_count = sampleCount;
    instrument->sample_list = reinterpret_cast<Sample**>(instrument + 1);
    *out = instrument;
    return errOK;
}

int free_module(Module* module, const SoundDevice* device) {
    if (module == nullptr) return errInvalidArguments;
    int first = errOK;
    freeBlock(first, module->panning);
    freeBlock(first, module->orders);
    freeBlock(first, module->channel_volumes);
    freeBlock(first, module->message);
    if (module->instruments != nullptr) {
        for (int i = 0; i < module->instrument_count; i++) {
            Instrument* instrument = module->instruments[i];
            if (instrument == nullptr) continue;
            freeBlock(first, instrument->note_map);
            freeBlock(first, instrument->volume_envelope);
            freeBlock(first, instrument->panning_envelope);
            freeBlock(first, instrument->pitch_envelope);
            freeBlock(first, instrument);
        }
        freeBlock(first, module->instruments);
    }
    if (module->samples != nullptr) {
        for (int i = 0; i < module->sample_count; i++) {
            Sample* sample = module->samples[i];
            if (sample == nullptr) continue;
            if (sample->device_handle != 0) {
                if (device == nullptr || device->removeSample == nullptr)
                    keepFirst(first, errInvalidDevice);
                else
                    keepFirst(first, device->removeSample(static_cast<uint32_t>(sample->device_handle)));
            }
            freeBlock(first, sample->data);
            freeBlock(first, sample);
        }
        freeBlock(first, module->samples);
    }
    if (module->patterns != nullptr) {
        for (int i = 0; i < module->pattern_count; i++)
            freeBlock(first, module->patterns[i]);
        freeBlock(first, module->patterns);
    }
    freeBlock(first, module);
    return first;
}
