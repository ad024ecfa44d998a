// Runs our static local web server over a folder for Benchmarks/appserver-benchmark.sh: prints
// "port N" once listening and serves until its standard input closes. Usage:
// kx_appserver_host FOLDER [WORKERS]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "App/server/AppServer.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [WORKERS]\n", argv[0]);
        return 2;
    }
    int workers = argc > 2 ? std::atoi(argv[2]) : kx::AppServer::defaultWorkerCount;
    kx::AppServer server(argv[1], workers);
    auto listening = server.listen(20000, 20999);
    if (listening.isFailure()) {
        std::fprintf(stderr, "%s\n", listening.error().localizedDescription.c_str());
        return 1;
    }
    std::printf("port %d\n", server.port());
    std::fflush(stdout);
    // The server works on threads of its own; this one only waits to be told to stop.
    for (std::string line; std::getline(std::cin, line);) {
    }
    return 0;
}
