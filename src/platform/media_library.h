#pragma once

// The media libraries (decoders, demuxers, encoders, resampling, picture
// scaling) are loaded on first use rather than with the program: they bring in
// about 130 shared objects, and most batches never need them. Code that calls into them asks
// Available() first; the calls themselves go through media_shim.cpp.
namespace platform::media {

// Loads the libraries on the first call; whether they could be loaded.
bool Available();

// The address of a function of the loaded libraries. Asking for one when they
// are not loaded, or for one they lack, stops the program with a message: it
// is a fault of this program, not of the input.
void* Symbol(const char* name);

}  // namespace platform::media
