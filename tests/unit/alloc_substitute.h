#pragma once

#include "../../package/platform.h"

namespace quillmark_test {
extern long failAllocationAfter;
extern bool failReleases;
extern long allocations;
extern long releases;
} // namespace quillmark_test
