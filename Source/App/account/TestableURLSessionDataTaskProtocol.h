// One request of a TestableURLSessionProtocol, made but not started until `resume`.
#pragma once

namespace kx {

class TestableURLSessionDataTaskProtocol {
public:
    virtual ~TestableURLSessionDataTaskProtocol() = default;
    // Starts the request; its session's completion handler runs later, once.
    virtual void resume() = 0;
};

} // namespace kx
