// The simulated platform's memory manager behind mfh_calloc and memmgr_free (memmgr.h).
//
// Every live block is accounted under its tag, the `file` string given to mfh_calloc. Freeing a pointer that
// is not a live block (never allocated here, or freed already) is a bug: it is reported on standard error and
// the process aborts.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace sim::memory {

// Live blocks and their bytes, for one tag or in total.
struct Usage {
    std::size_t blocks = 0;
    std::size_t bytes = 0;

    bool operator==(const Usage &) const = default;
};

// Makes the next n calls of mfh_calloc return NULL (n <= 0: none).
void fail_next_allocations(int n);

std::size_t live_blocks(const std::string &tag);
std::size_t live_bytes(const std::string &tag);
std::size_t total_live_blocks();
std::size_t total_live_bytes();
// The usage of every tag that has live blocks.
std::map<std::string, Usage> usage_by_tag();

}  // namespace sim::memory
