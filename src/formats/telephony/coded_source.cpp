#include "formats/telephony/coded_source.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "soundfile/progress.h"

OSErr EncodeSourceFrames(CSoundFile* source, uint32_t channels, uint32_t blockFrames,
                         const unsigned char* stepText,
                         const std::function<OSErr(const int16_t*, uint32_t, uint32_t)>& encode) {
    if (!source || channels == 0 || blockFrames == 0 ||
        static_cast<uint32_t>(source->GetNumChannels()) != channels)
        return kParamErr;
    try {
        SetProgressStepWithoutSRC(stepText, 0);
        const uint32_t frames = source->GetNumSFrames();
        const uint32_t block = std::min(blockFrames, std::max<uint32_t>(frames, 1));
        std::vector<double> read(static_cast<size_t>(block) * channels);
        std::vector<int16_t> samples(read.size());
        for (uint32_t position = 0; position < frames;) {
            uint32_t count = std::min(block, frames - position);
            if (OSErr err = SetProgressPosition(static_cast<int>(std::min<uint32_t>(position, INT32_MAX))))
                return err;
            if (OSErr err = source->Read(position, &count, read.data())) return err;
            // A source that delivers nothing more ends the coding early.
            if (count == 0) break;
            const size_t n = static_cast<size_t>(count) * channels;
            for (size_t i = 0; i < n; ++i) {
                const double v = std::nearbyint(read[i] * 32768.0);
                samples[i] = static_cast<int16_t>(std::clamp(std::isnan(v) ? 0.0 : v, -32768.0, 32767.0));
            }
            if (OSErr err = encode(samples.data(), count, position)) return err;
            position += count;
        }
        return 0;
    } catch (const error_code_exception& e) {
        return e.error_code() ? static_cast<OSErr>(e.error_code()) : OSErr(kParamErr);
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}
