#include "algorithms/temporal_segmenter.h"

#include <gtest/gtest.h>

#include "gl_test.h"
