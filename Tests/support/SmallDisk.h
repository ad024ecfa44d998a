// A small file system of its own (tmpfs) at a folder, to fill up as a full disk; mounting
// needs the rights to (tests skip themselves without them).
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kxtest {

class SmallDisk {
public:
    SmallDisk(std::filesystem::path where, std::size_t bytes)
        : where_(std::move(where))
    {
        std::filesystem::create_directories(where_);
        mounted_ = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, ("size=" + std::to_string(bytes)).c_str()) == 0;
    }
    ~SmallDisk()
    {
        // Detached lazily: a document may still hold files there until the test's end.
        if (mounted_)
            ::umount2(where_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    // Writes a file until the disk is full.
    void fill()
    {
        std::ofstream out(where_ / "filler", std::ios::binary);
        const std::string block(64 * 1024, 'x');
        while (out.write(block.data(), std::streamsize(block.size())) && out.flush()) {
        }
    }
    void makeRoom() { std::filesystem::remove(where_ / "filler"); }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

} // namespace kxtest
