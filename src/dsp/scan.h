// The peak and gap scan: one read-only pass over the file the gain pass will
// read, measuring its peak (stored in the conversion, full scale 1.0) and its
// silences (appended to the file's gap list), and the normalize decision that
// turns the peak into the gain pass's divisor.
//
// The scans read the file's own input buffer block by block, report their
// position once per block and stop on a non-zero answer (-128 after a cancel).
// Which samples they examine follows the channels the gain pass will process:
// the mix of channels 0 and 1 (their sum, up to 2.0), channel 0 or channel 1
// under the mix, left and right treatments of a two-channel file, every channel
// otherwise.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// Runs the scan the conversion needs: peak and gaps when it gates and normalizes
// (gaps only when the peak is already valid), gaps when it gates, the peak when
// it normalizes without a valid peak; 0 when none is needed, else the scan's status.
OSErr ScanFile(CSoundFile* source, CConvSpec* conversion);

// The peak of the whole file, or of its region blocks when the conversion
// extracts or strips (widened by the strip margin when stripping): stored with
// SetMax and marked valid, also after a failure (1.0 after a stop or a read
// failure, the blocks so far when the regions cannot be read).
OSErr GetMax(CSoundFile* source, CConvSpec* conversion);

// Raises the stored peak to the peak of frames first <= p < end (cut at the
// file's end) when that is larger. A stop or a read failure stores 1.0 and
// returns its status; an input buffer that cannot be made returns at once.
OSErr GetMaxFromTo(CSoundFile* source, int32_t first, int32_t end, CConvSpec* conversion);

// Appends the file's silences to its gap list: runs of quiet samples (below the
// gate threshold) longer than the gap length once the guards are taken off. A
// silence at frame 0 keeps its start; one that lasts to the end ends there.
OSErr GetGapScan(CSoundFile* source, CConvSpec* conversion);

// Both in one pass: the peak of the whole file, stored and marked valid, and the gaps.
OSErr GetMaxAndGapScan(CSoundFile* source, CConvSpec* conversion);

// Whether the stored peak must be normalized to the ceiling: not when it lies
// within one LSB of `file`'s word size below the ceiling (or on it). When it
// must, stores the divisor peak / ceiling + half an LSB with SetCeiledMax.
bool IsNormalizeNeeded(CSoundFile* file, CConvSpec* conversion);

// 10^(dB / 20).
double dB2Amp(double dB);
// 20 log10 |amplitude|: minus infinity for 0.
double Amp2dB(double amplitude);

// Replaces the file's regions by one region per gap of its gap list, in the
// list's order, each spanning its gap's frames and named "XWQ Region 0001",
// "XWQ Region 0002", ... The conversion is not consulted. Returns 0, or the
// status of the first region that could not be removed or added.
OSErr Gaps2Regions(CSoundFile* source, CConvSpec* conversion);
