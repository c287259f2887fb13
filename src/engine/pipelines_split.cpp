#include "engine/pipelines_split.h"
