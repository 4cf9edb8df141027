// The outcome of one update cycle, sent by the driver in "OnComplete;%d;".
#pragma once

#include <cstdint>

constexpr std::int32_t kUpdateSucceeded = 1;  // nothing failed: not due, nothing to install, installed
constexpr std::int32_t kUpdateFailed = 3;     // an update was to be fetched and failed
