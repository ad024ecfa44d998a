// The executable and the shared objects mapped into this process, each with its load bias,
// its extent in memory and its GNU build id (from the ELF notes), kept in fixed storage so
// that a signal handler can turn an address into a module and an offset into that module's
// file without calling anything. With the build id a report's offsets can be symbolicated
// against the very file that ran.
//
// `refresh` reads the list through dl_iterate_phdr (never from a signal handler); it
// rebuilds it only when the dynamic linker has loaded or unloaded something since. Two
// tables take turns: a refresh fills the one no handler reads and then publishes it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

class LoadedModules {
public:
    static constexpr std::size_t maximumModules = 512;
    static constexpr std::size_t maximumBuildIdSize = 64;
    static constexpr std::size_t maximumPathSize = 256;

    struct Module {
        std::uintptr_t bias = 0;  // an address of the file + bias = its address in memory
        std::uintptr_t start = 0; // [start, end): the module's loaded segments
        std::uintptr_t end = 0;
        unsigned char buildId[maximumBuildIdSize] = {};
        std::size_t buildIdSize = 0;
        // The file's path (the last bytes when longer; control characters as '?').
        char path[maximumPathSize] = {};
    };

    // One reading: the handler takes one and keeps to it.
    struct Reading {
        const Module* modules = nullptr;
        std::size_t count = 0;
        // The index of the module whose segments hold `address`; -1 when none does.
        long indexOf(std::uintptr_t address) const;
    };

    // Reads the modules again when they changed since the last reading (and at the first
    // call). Thread-safe; not async-signal-safe.
    static void refresh();
    // The last published reading (empty before the first refresh). Async-signal-safe.
    static Reading current();
};

} // namespace kx
