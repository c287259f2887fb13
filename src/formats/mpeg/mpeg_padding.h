// Whether the MPEG encoders pad their frames to the exact bit rate. The batch
// driver sets it for each conversion from the per-type option "Use MPEG Frame
// Padding" (on when the option is absent); the encoders read it on the same
// conversion thread. It lives in the thread's conversion context, so two
// threads never see each other's setting.
#pragma once

bool MpegPaddingRequired();
void SetMpegPaddingRequired(bool on);
