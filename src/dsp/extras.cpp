// The input's extras carried to an output after a step.
#include "dsp/extras.h"

#include "soundfile/sound_file.h"

OSErr CarryExtras(CSoundFile& source, CSoundFile& destination, uint32_t start, uint32_t end,
                  uint32_t offset) {
    OSErr err = 0;
    for (uint16_t i = 0; err == 0 && i < source.GetNumLoops(); ++i) {
        SFTLoop loop;
        if ((err = source.GetIndLoop(i, &loop)) != 0) break;
        if (loop.start < start || loop.end > end) continue;
        loop.start += offset;
        loop.end += offset;
        err = destination.AddLoop(&loop);
    }
    for (uint16_t i = 0; err == 0 && i < source.GetNumRegions(); ++i) {
        SFTRegion region;
        if ((err = source.GetIndRegion(i, &region)) != 0) break;
        if (static_cast<uint32_t>(region.start) < start || static_cast<uint32_t>(region.end) > end)
            continue;
        region.start = static_cast<int32_t>(static_cast<uint32_t>(region.start) + offset);
        region.end = static_cast<int32_t>(static_cast<uint32_t>(region.end) + offset);
        region.sync = static_cast<int32_t>(static_cast<uint32_t>(region.sync) + offset);
        err = destination.AddRegion(&region);
    }
    for (uint16_t i = 0; err == 0 && i < source.GetNumMarkers(); ++i) {
        SFTMarker marker;
        if ((err = source.GetIndMarker(i, &marker)) != 0) break;
        if (marker.position < start || marker.position > end) continue;
        marker.position += offset;
        err = destination.AddMarker(&marker);
    }
    if (err == 0) {
        SFTSamplerInfo info;
        const OSErr got = source.GetSamplerInfo(&info);
        if (got == 0)
            err = destination.SetSamplerInfo(&info);
        else if (got != kNoSamplerInfoErr)
            err = got;
    }
    if (source.IsTimeStampValid()) destination.SetTimeStamp(source.GetTimeStamp() + offset);
    return err;
}
