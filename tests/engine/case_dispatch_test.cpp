#include "engine/case_dispatch.h"

#include <gtest/gtest.h>
