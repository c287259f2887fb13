#include "formats/mpeg/mpeg_coding_state.h"

#include <cstring>

namespace mpeg {

MPEGEncoder::~MPEGEncoder() {
    ReleaseTable();
    void* block = work;
    errors.mem_free(&block);
    work = nullptr;
}

void MPEGEncoder::hdr_to_frps(frame_params* params) {
    const layer& header = *params->header;
    params->actual_mode = header.mode;
    params->stereo = header.mode == kMonoMode ? 1 : 2;
    params->sblimit = header.lay == 2 ? pick_table(params) : SBLIMIT;
    params->jsbound = header.mode == kJointStereoMode ? js_bound(header.lay, header.mode_ext)
                                                      : params->sblimit;
}

int MPEGEncoder::pick_table(frame_params* params) {
    const int number = TableNumberFor(*params->header, params->stereo);
    if (number == params->tab_num && params->alloc) return params->sblimit;
    if (params->alloc) {
        void* block = params->alloc;
        errors.mem_free(&block);
        params->alloc = nullptr;
    }
    params->alloc = static_cast<al_table*>(errors.mem_alloc(sizeof(al_table), "alloc"));
    if (!params->alloc) {
        params->tab_num = -1;
        return params->sblimit;
    }
    params->tab_num = number;
    return read_bit_alloc(number, params->alloc);
}

void MPEGEncoder::ReleaseTable() {
    void* block = fr_ps.alloc;
    errors.mem_free(&block);
    fr_ps.alloc = nullptr;
    fr_ps.tab_num = -1;
}

bool MPEGEncoder::ClearWork() {
    if (!work) work = static_cast<FrameArrays*>(errors.mem_alloc(sizeof(FrameArrays), "work"));
    if (!work) return false;
    std::memset(work, 0, sizeof(FrameArrays));
    pendingFrames = 0;
    return true;
}

}  // namespace mpeg
