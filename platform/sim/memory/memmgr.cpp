#include "memory/sim_memory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "memmgr.h"

namespace sim::memory {
namespace {

// The usage of each tag (the caller's source file), kept while a block of the tag lives.
using Tags = std::map<std::string, Usage, std::less<>>;

struct Block {
    Tags::iterator tag;
    std::size_t size = 0;
    int line = 0;
};

// Hands out zero-filled blocks and keeps the tag, size and line of each live one.
class Manager {
public:
    void *allocate(std::uint32_t size, const char *file, int line);
    void release(void *ptr, const char *file, int line);

    void fail_next(int n) {
        std::lock_guard lock(mutex_);
        failures_left_ = n > 0 ? n : 0;
    }
    Usage usage(const std::string &tag) {
        std::lock_guard lock(mutex_);
        auto it = by_tag_.find(tag);
        return it == by_tag_.end() ? Usage{} : it->second;
    }
    Usage total() {
        std::lock_guard lock(mutex_);
        return total_;
    }
    std::map<std::string, Usage> usage_by_tag() {
        std::lock_guard lock(mutex_);
        return {by_tag_.begin(), by_tag_.end()};
    }

private:
    std::mutex mutex_;
    int failures_left_ = 0;
    std::unordered_map<void *, Block> blocks_;
    Tags by_tag_;
    Usage total_;
};

void *Manager::allocate(std::uint32_t size, const char *file, int line) {
    std::lock_guard lock(mutex_);
    if (failures_left_ > 0) {
        --failures_left_;
        return nullptr;
    }
    // A block of 0 bytes still gets an address of its own, so that it can be told apart and freed.
    void *ptr = std::calloc(size > 0 ? size : 1, 1);
    if (ptr == nullptr)
        return nullptr;
    const std::string_view name = file != nullptr ? file : "";
    auto tag = by_tag_.find(name);
    if (tag == by_tag_.end())
        tag = by_tag_.emplace(name, Usage{}).first;
    Block block{tag, size, line};
    Usage &tag_usage = tag->second;
    ++tag_usage.blocks;
    tag_usage.bytes += size;
    ++total_.blocks;
    total_.bytes += size;
    blocks_.emplace(ptr, std::move(block));
    return ptr;
}

void Manager::release(void *ptr, const char *file, int line) {
    if (ptr == nullptr)
        return;
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(ptr);
    if (it == blocks_.end()) {
        std::fprintf(stderr, "memmgr_free: %p (freed at %s:%d) is not a live block of mfh_calloc\n", ptr,
                     file != nullptr ? file : "?", line);
        std::abort();
    }
    const Block &block = it->second;
    auto tag = block.tag;
    --tag->second.blocks;
    tag->second.bytes -= block.size;
    if (tag->second.blocks == 0)
        by_tag_.erase(tag);
    --total_.blocks;
    total_.bytes -= block.size;
    blocks_.erase(it);
    std::free(ptr);
}

// Lives for the whole process, so that blocks freed while the process exits are still found.
Manager &the_manager() {
    static Manager *const manager = new Manager;
    return *manager;
}

}  // namespace

void fail_next_allocations(int n) {
    the_manager().fail_next(n);
}
std::size_t live_blocks(const std::string &tag) {
    return the_manager().usage(tag).blocks;
}
std::size_t live_bytes(const std::string &tag) {
    return the_manager().usage(tag).bytes;
}
std::size_t total_live_blocks() {
    return the_manager().total().blocks;
}
std::size_t total_live_bytes() {
    return the_manager().total().bytes;
}
std::map<std::string, Usage> usage_by_tag() {
    return the_manager().usage_by_tag();
}

}  // namespace sim::memory

void *mfh_calloc(uint32_t size, uint32_t /*type*/, const char *file, int line) {
    return sim::memory::the_manager().allocate(size, file, line);
}

void memmgr_free(uint32_t /*type*/, void *ptr, const char *file, int line) {
    sim::memory::the_manager().release(ptr, file, line);
}
