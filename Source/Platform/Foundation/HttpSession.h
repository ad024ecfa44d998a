// An HTTP client on libsoup: a request (method, URL, headers, body) becomes a task that, once
// resumed, answers on the main loop with the response (status, headers, body) or an error,
// exactly once. Every HTTP status is a response; only a failure to get one is an error.
//
// The answer is always bounded: a whole-request time-out, a cap on the body as it is read
// (decoded), a limit on redirects, which are followed here and not by libsoup so that
// credentials never travel to another origin. Certificates that do not verify are errors.
// Main thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/Result.h"

typedef struct _SoupSession SoupSession;

namespace kx {

class HttpSession {
public:
    // In the order given or received; names compare without regard to case.
    using Headers = std::vector<std::pair<std::string, std::string>>;

    struct Request {
        std::string method = "GET";
        std::string url; // http or https
        // Content-Length, Transfer-Encoding and Host are the session's to write: ignored here.
        Headers headers;
        std::string body; // bytes, sent as they are
        // The whole request, redirects and body included.
        std::chrono::milliseconds timeout = std::chrono::seconds(60);
    };

    struct Response {
        std::string url; // where the answer came from, after redirects
        unsigned statusCode = 0;
        Headers headers;
        std::string body; // bytes, decoded from any content encoding

        // The first value of the header `name`, if there is one.
        std::optional<std::string> header(std::string_view name) const;
    };

    struct Configuration {
        std::size_t maximumBodySize = 16 * 1024 * 1024;
        int maximumRedirects = 10;
        std::string userAgent; // empty: libsoup's own
    };

    using Completion = std::function<void(Result<Response, Error>)>;

    class Task : public std::enable_shared_from_this<Task> {
    public:
        ~Task();
        Task(const Task&) = delete;
        Task& operator=(const Task&) = delete;

        // Starts the request; later calls do nothing.
        void resume();
        // Ends the task with `cancelled` unless it has already answered; the completion runs
        // from the main loop, never inside this call. Idempotent.
        void cancel();
        bool isFinished() const { return finished_; }

        struct Private;

    private:
        friend class HttpSession;
        Task(SoupSession* session, const Configuration& configuration, Request request, Completion completion);
        std::unique_ptr<Private> d_;
        bool started_ = false;
        bool finished_ = false;
    };

    // NSURLErrorDomain and its codes, which callers and their error alerts already know.
    static constexpr const char* errorDomain = "NSURLErrorDomain";
    enum ErrorCode : std::int64_t {
        unknown = -1,
        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        httpTooManyRedirects = -1007,
        notConnectedToInternet = -1009,
        badServerResponse = -1011,
        cannotParseResponse = -1017,
        dataLengthExceedsMaximum = -1103,
        secureConnectionFailed = -1200,
        serverCertificateUntrusted = -1202,
    };

    HttpSession();
    explicit HttpSession(Configuration configuration);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // The process's session with the default configuration.
    static HttpSession& shared();

    // A task for `request`, not yet started. Its completion runs once: after `resume`, with
    // the answer; after `cancel`, with `cancelled`. A task that is never resumed nor
    // cancelled never answers. A running task keeps itself (and its session) alive.
    std::shared_ptr<Task> dataTask(Request request, Completion completion);

    const Configuration& configuration() const { return configuration_; }

private:
    Configuration configuration_;
    GObjectRef<SoupSession> session_;
};

} // namespace kx
