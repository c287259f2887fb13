// The error-message catalogue: the text the user reads for a status code and the
// class that tells the conversion log whether the problem concerns one file or
// the whole batch.
#pragma once

#include <string>

// Classes returned by MakeErrorMessage.
enum : short {
    // Not in the catalogue: the log falls back to the system error names and
    // stops the batch.
    kErrorClassUnknown = 0,
    // A problem of this one file: logged, the batch goes on.
    kErrorClassFile = 1,
    // A serious problem (disk full, memory, cancellation, wrong folders): the
    // batch stops.
    kErrorClassSerious = 2,
    // An internal error: logged with the code, the batch goes on.
    kErrorClassInternal = 3,
    // The right half of a split pair was already converted with its left half.
    kErrorClassAlreadyProcessed = 5,
};

// Writes the catalogue text of `code` (UTF-8) into `text` and returns its class.
// A code not in the catalogue gives the empty text and class 0. Codes outside the
// 16-bit range are never in the catalogue. Safe to call from any thread.
short MakeErrorMessage(int code, std::string& text);

// The folder the text of -20034 names ("cannot write into folder '<folder>'"):
// the engine sets it before it reports that code. Safe to call from any thread.
void SetUnwritableFolder(const std::string& folder);
