#include "engine/pipelines_interleave.h"
