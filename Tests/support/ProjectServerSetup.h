// What the tests that run the project server (Resources/server, a Node.js program) share: one
// check of what it needs, made once per program, and its configuration over a test's folder.
//
// A test that runs the server starts with KX_REQUIRE_PROJECT_SERVER(): without Node.js or the
// server's packages it fails at once, saying what is missing, instead of waiting for a server
// that cannot start.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "App/server/ServerController.h"

#define KX_REQUIRE_PROJECT_SERVER()                                      \
    do {                                                                 \
        if (const auto& missing = kxtest::projectServerMissing())        \
            GTEST_FAIL() << *missing;                                    \
    } while (false)

namespace kxtest {

// What keeps the project server from running here (Node.js not on the PATH, a package of the
// server's missing from Resources/server/node_modules), naming the remedy; nullopt when nothing.
const std::optional<std::string>& projectServerMissing();

// The server of Resources/server with caches in `folder`/server-cache and an installed library
// of `libraryVersion` in `folder`/library, the application's resources as its static files, a
// back end that nobody answers and no proxy discovery.
kx::ServerController::Configuration projectServerConfiguration(const std::filesystem::path& folder,
                                                               const std::string& libraryVersion = "1.0.0");

} // namespace kxtest
