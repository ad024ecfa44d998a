// Small file helpers shared by the archive tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "App/archive/KVDataReader.h"

namespace archivetest {

inline void writeFile(const std::filesystem::path& path, const std::string& data)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string readAll(KVDataReader& reader)
{
    std::string text;
    for (auto chunk = reader.read(); !chunk.empty(); chunk = reader.read())
        text.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return text;
}

// Every file under `root`, hidden ones included, with its contents.
inline std::map<std::string, std::string> tree(const std::filesystem::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (!item.is_regular_file())
            continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[item.path().lexically_relative(root).generic_string()] = text.str();
    }
    return files;
}

} // namespace archivetest
