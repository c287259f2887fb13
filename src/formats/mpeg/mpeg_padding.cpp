#include "formats/mpeg/mpeg_padding.h"

#include "platform/thread_context.h"

bool MpegPaddingRequired() { return platform::CurrentThreadContext().mpegPaddingRequired; }

void SetMpegPaddingRequired(bool on) { platform::CurrentThreadContext().mpegPaddingRequired = on; }
