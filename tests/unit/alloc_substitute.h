#pragma once

#include "../../package/platform.h"

#include <string>
#include <vector>

namespace quillmark_test {
extern long failAllocationAfter;
extern bool failReleases;
extern long allocations;
extern long releases;
extern const char* refuseRegistrationOf; // null: refuse nothing
extern APIRET refusalCode;
extern std::vector<std::string> registered; // names the package asked to register, in order
extern bool failThreadStarts;               // new threads cannot be started
} // namespace quillmark_test
