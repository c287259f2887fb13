#include "playback/cyclic_play_buffer.h"
