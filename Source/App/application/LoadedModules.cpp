#include "App/application/LoadedModules.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

namespace kx {

namespace {

struct ModuleTable {
    LoadedModules::Module modules[LoadedModules::maximumModules];
    std::size_t count = 0;
};

ModuleTable moduleTables[2];
std::atomic<int> publishedTable{-1};
std::mutex refreshMutex;
unsigned long long seenAdds = 0;
unsigned long long seenSubs = 0;

constexpr std::size_t alignedTo(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

// The build id of a module from its PT_NOTE segments as they lie in memory.
void readBuildId(const dl_phdr_info* info, LoadedModules::Module& module)
{
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_NOTE)
            continue;
        const std::size_t alignment = header.p_align == 8 ? 8 : 4;
        const auto* note = reinterpret_cast<const unsigned char*>(info->dlpi_addr + header.p_vaddr);
        std::size_t offset = 0;
        while (offset + sizeof(ElfW(Nhdr)) <= header.p_memsz) {
            ElfW(Nhdr) entry;
            std::memcpy(&entry, note + offset, sizeof entry);
            const std::size_t name = offset + sizeof entry;
            const std::size_t descriptor = alignedTo(name + entry.n_namesz, alignment);
            const std::size_t next = alignedTo(descriptor + entry.n_descsz, alignment);
            if (descriptor < name || next < descriptor || next > alignedTo(header.p_memsz, alignment))
                break;
            if (entry.n_type == NT_GNU_BUILD_ID && entry.n_namesz == 4 && std::memcmp(note + name, "GNU", 4) == 0
                && entry.n_descsz > 0 && entry.n_descsz <= LoadedModules::maximumBuildIdSize) {
                std::memcpy(module.buildId, note + descriptor, entry.n_descsz);
                module.buildIdSize = entry.n_descsz;
                return;
            }
            offset = next;
        }
    }
}

void storePath(const char* path, LoadedModules::Module& module)
{
    std::size_t length = std::strlen(path);
    if (length >= LoadedModules::maximumPathSize) {
        path += length - (LoadedModules::maximumPathSize - 1);
        length = LoadedModules::maximumPathSize - 1;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        module.path[i] = c < 0x20 || c == 0x7f ? '?' : char(c);
    }
    module.path[length] = '\0';
}

int addModule(dl_phdr_info* info, std::size_t, void* data)
{
    auto& table = *static_cast<ModuleTable*>(data);
    if (table.count == LoadedModules::maximumModules)
        return 1;
    LoadedModules::Module& module = table.modules[table.count];
    module = {};
    std::uintptr_t start = UINTPTR_MAX;
    std::uintptr_t end = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD)
            continue;
        start = std::min<std::uintptr_t>(start, info->dlpi_addr + header.p_vaddr);
        end = std::max<std::uintptr_t>(end, info->dlpi_addr + header.p_vaddr + header.p_memsz);
    }
    if (end <= start)
        return 0;
    module.bias = info->dlpi_addr;
    module.start = start;
    module.end = end;
    readBuildId(info, module);
    // The executable comes first, without a name.
    if (info->dlpi_name && *info->dlpi_name) {
        storePath(info->dlpi_name, module);
    } else if (table.count == 0) {
        char executable[PATH_MAX];
        const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
        executable[length > 0 ? length : 0] = '\0';
        storePath(executable, module);
    }
    ++table.count;
    return 0;
}

int readCounts(dl_phdr_info* info, std::size_t size, void* data)
{
    auto* counts = static_cast<unsigned long long*>(data);
    if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs) {
        counts[0] = info->dlpi_adds;
        counts[1] = info->dlpi_subs;
    }
    return 1;
}

} // namespace

void LoadedModules::refresh()
{
    std::lock_guard lock(refreshMutex);
    unsigned long long counts[2] = {0, 0};
    dl_iterate_phdr(readCounts, counts);
    const int current = publishedTable.load();
    if (current >= 0 && counts[0] == seenAdds && counts[1] == seenSubs && counts[0] != 0)
        return;
    const int next = current == 0 ? 1 : 0;
    moduleTables[next].count = 0;
    dl_iterate_phdr(addModule, &moduleTables[next]);
    seenAdds = counts[0];
    seenSubs = counts[1];
    publishedTable.store(next);
}

LoadedModules::Reading LoadedModules::current()
{
    const int index = publishedTable.load();
    if (index < 0)
        return {};
    return Reading{moduleTables[index].modules, moduleTables[index].count};
}

long LoadedModules::Reading::indexOf(std::uintptr_t address) const
{
    for (std::size_t i = 0; i < count; ++i) {
        if (address >= modules[i].start && address < modules[i].end)
            return long(i);
    }
    return -1;
}

} // namespace kx
