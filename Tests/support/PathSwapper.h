// Exchanges two paths atomically, over and over on a thread of its own, until it goes: the
// attacker who swaps a file for a link between a server's check and its read.
#pragma once

#include <atomic>
#include <filesystem>
#include <thread>

namespace kxtest {

class PathSwapper {
public:
    PathSwapper(std::filesystem::path first, std::filesystem::path second);
    ~PathSwapper();
    PathSwapper(const PathSwapper&) = delete;
    PathSwapper& operator=(const PathSwapper&) = delete;

private:
    std::atomic<bool> running_ = true;
    std::thread thread_;
};

} // namespace kxtest
