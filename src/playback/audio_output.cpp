#include "playback/audio_output.h"
