#include "playback/player.h"
