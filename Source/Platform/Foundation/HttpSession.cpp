#include "Platform/Foundation/HttpSession.h"

#include <algorithm>
#include <cstring>

#include <gio/gio.h>
#include <glib.h>
#include <libsoup/soup.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SourceHandle.h"

namespace kx {

namespace {

constexpr gsize readChunkSize = 64 * 1024;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return g_ascii_tolower(x) == g_ascii_tolower(y);
           });
}

// RFC 9110 token characters: method and header names.
bool isToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return g_ascii_isalnum(c) || (c && std::strchr("!#$%&'*+-.^_`|~", c));
    });
}

bool isFieldValue(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// Written by the session itself from the body and the URL.
bool isSessionHeader(std::string_view name)
{
    return equalsIgnoringCase(name, "Content-Length") || equalsIgnoringCase(name, "Transfer-Encoding")
        || equalsIgnoringCase(name, "Host");
}

// Sent only to the origin they were meant for.
bool isCredentialHeader(std::string_view name)
{
    return equalsIgnoringCase(name, "Authorization") || equalsIgnoringCase(name, "Cookie")
        || equalsIgnoringCase(name, "Proxy-Authorization");
}

Error makeError(HttpSession::ErrorCode code, std::string reason = {})
{
    const char* description = "An unknown error occurred.";
    switch (code) {
    case HttpSession::cancelled: description = "cancelled"; break;
    case HttpSession::badURL: description = "bad URL"; break;
    case HttpSession::timedOut: description = "The request timed out."; break;
    case HttpSession::unsupportedURL: description = "unsupported URL"; break;
    case HttpSession::cannotFindHost: description = "A server with the specified hostname could not be found."; break;
    case HttpSession::cannotConnectToHost: description = "Could not connect to the server."; break;
    case HttpSession::networkConnectionLost: description = "The network connection was lost."; break;
    case HttpSession::httpTooManyRedirects: description = "too many HTTP redirects"; break;
    case HttpSession::notConnectedToInternet: description = "The Internet connection appears to be offline."; break;
    case HttpSession::badServerResponse: description = "The server returned an invalid response."; break;
    case HttpSession::cannotParseResponse: description = "cannot parse response"; break;
    case HttpSession::dataLengthExceedsMaximum: description = "resource exceeds maximum size"; break;
    case HttpSession::secureConnectionFailed:
        description = "An SSL error has occurred and a secure connection to the server cannot be made.";
        break;
    case HttpSession::serverCertificateUntrusted: description = "The certificate for this server is invalid."; break;
    case HttpSession::unknown: break;
    }
    return Error(HttpSession::errorDomain, code, description, std::move(reason));
}

HttpSession::ErrorCode codeFor(const GError* error)
{
    if (error->domain == G_TLS_ERROR) {
        return error->code == G_TLS_ERROR_BAD_CERTIFICATE ? HttpSession::serverCertificateUntrusted
                                                          : HttpSession::secureConnectionFailed;
    }
    if (error->domain == G_RESOLVER_ERROR)
        return HttpSession::cannotFindHost;
    if (error->domain == SOUP_SESSION_ERROR) {
        switch (error->code) {
        case SOUP_SESSION_ERROR_PARSING:
        case SOUP_SESSION_ERROR_ENCODING: return HttpSession::cannotParseResponse;
        case SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS: return HttpSession::httpTooManyRedirects;
        default: return HttpSession::badServerResponse;
        }
    }
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_CANCELLED: return HttpSession::cancelled;
        case G_IO_ERROR_TIMED_OUT: return HttpSession::timedOut;
        case G_IO_ERROR_NETWORK_UNREACHABLE: return HttpSession::notConnectedToInternet;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_PROXY_FAILED:
        case G_IO_ERROR_PROXY_AUTH_FAILED:
        case G_IO_ERROR_PROXY_NEED_AUTH:
        case G_IO_ERROR_PROXY_NOT_ALLOWED: return HttpSession::cannotConnectToHost;
        case G_IO_ERROR_BROKEN_PIPE:
        case G_IO_ERROR_PARTIAL_INPUT:
        case G_IO_ERROR_NOT_CONNECTED: return HttpSession::networkConnectionLost;
        default: break;
        }
    }
    return HttpSession::unknown;
}

Error errorFrom(const GError* error)
{
    if (!error)
        return makeError(HttpSession::unknown);
    return makeError(codeFor(error), error->message ? error->message : "");
}

int effectivePort(GUri* uri)
{
    const int port = g_uri_get_port(uri);
    if (port > 0)
        return port;
    return g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0 ? 443 : 80;
}

bool sameOrigin(GUri* a, GUri* b)
{
    return g_ascii_strcasecmp(g_uri_get_scheme(a), g_uri_get_scheme(b)) == 0
        && g_ascii_strcasecmp(g_uri_get_host(a) ? g_uri_get_host(a) : "", g_uri_get_host(b) ? g_uri_get_host(b) : "") == 0
        && effectivePort(a) == effectivePort(b);
}

bool isHttpScheme(GUri* uri)
{
    const char* scheme = g_uri_get_scheme(uri);
    return scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
}

struct UriDeleter {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using UriPtr = std::unique_ptr<GUri, UriDeleter>;

// The URL as a request or a redirect gives it, or the error that refuses it.
Result<UriPtr, Error> parseHttpURL(const std::string& text, GUri* base = nullptr)
{
    GError* error = nullptr;
    GUri* uri = base ? g_uri_parse_relative(base, text.c_str(), GUriFlags(SOUP_HTTP_URI_FLAGS), &error)
                     : g_uri_parse(text.c_str(), GUriFlags(SOUP_HTTP_URI_FLAGS), &error);
    if (!uri) {
        Error failure = makeError(HttpSession::badURL, error ? error->message : "");
        g_clear_error(&error);
        return Result<UriPtr, Error>::failure(std::move(failure));
    }
    UriPtr parsed(uri);
    if (!isHttpScheme(uri))
        return Result<UriPtr, Error>::failure(makeError(HttpSession::unsupportedURL, "Only http and https are loaded."));
    if (!g_uri_get_host(uri) || !*g_uri_get_host(uri))
        return Result<UriPtr, Error>::failure(makeError(HttpSession::badURL, "The URL has no host."));
    return Result<UriPtr, Error>::success(std::move(parsed));
}

std::string uriText(GUri* uri)
{
    char* text = g_uri_to_string_partial(uri, G_URI_HIDE_PASSWORD);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

} // namespace

std::optional<std::string> HttpSession::Response::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name))
            return value;
    }
    return std::nullopt;
}

// One request from its start to its answer. Each asynchronous step holds the task alive
// through its callback data; the deadline does not, and goes with the task.
struct HttpSession::Task::Private {
    GObjectRef<SoupSession> session;
    Configuration configuration;
    Request request;
    Completion completion;
    UriPtr uri; // the current one, after redirects
    GObjectRef<GCancellable> cancellable = GObjectRef<GCancellable>::adopt(g_cancellable_new());
    GObjectRef<SoupMessage> message;
    GObjectRef<GInputStream> stream;
    std::string body;
    int redirects = 0;
    SourceHandle deadline;

    using Holder = std::shared_ptr<Task>;

    static gpointer hold(Task& task) { return new Holder(task.shared_from_this()); }
    static Holder take(gpointer data)
    {
        std::unique_ptr<Holder> holder(static_cast<Holder*>(data));
        return std::move(*holder);
    }

    static void start(Task& task);
    static Result<Unit, Error> validate(const Request& request);
    static void send(Task& task);
    static void didSend(GObject* source, GAsyncResult* result, gpointer data);
    static bool followRedirect(Task& task, unsigned status);
    static void readNext(Task& task);
    static void didRead(GObject* source, GAsyncResult* result, gpointer data);
    static void finish(Task& task, Result<Response, Error> result, bool later = false);
    static void closeStream(GObjectRef<GInputStream> stream);
};

HttpSession::Task::Task(SoupSession* session, const Configuration& configuration, Request request,
                        Completion completion)
    : d_(std::make_unique<Private>())
{
    d_->session = GObjectRef<SoupSession>::retain(session);
    d_->configuration = configuration;
    d_->request = std::move(request);
    d_->completion = std::move(completion);
}

HttpSession::Task::~Task() = default;

void HttpSession::Task::resume()
{
    if (started_ || finished_)
        return;
    started_ = true;
    Private::start(*this);
}

void HttpSession::Task::cancel()
{
    if (finished_)
        return;
    Private::finish(*this, Result<Response, Error>::failure(makeError(cancelled)), true);
}

Result<Unit, Error> HttpSession::Task::Private::validate(const Request& request)
{
    if (!isToken(request.method))
        return Result<Unit, Error>::failure(makeError(unknown, "The request method \"" + request.method + "\" is not valid."));
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || !isFieldValue(value))
            return Result<Unit, Error>::failure(makeError(unknown, "The request header \"" + name + "\" is not valid."));
    }
    return Result<Unit, Error>::success({});
}

void HttpSession::Task::Private::start(Task& task)
{
    Private& d = *task.d_;
    auto valid = validate(d.request);
    if (valid.isFailure())
        return finish(task, Result<Response, Error>::failure(valid.error()), true);
    auto parsed = parseHttpURL(d.request.url);
    if (parsed.isFailure())
        return finish(task, Result<Response, Error>::failure(parsed.error()), true);
    d.uri = std::move(parsed).get();

    const auto timeout = std::max<std::chrono::milliseconds::rep>(0, d.request.timeout.count());
    GSource* deadline = g_timeout_source_new(guint(std::min<std::chrono::milliseconds::rep>(timeout, G_MAXUINT)));
    g_source_set_callback(
        deadline,
        [](gpointer data) -> gboolean {
            auto self = static_cast<Task*>(data)->shared_from_this();
            finish(*self, Result<Response, Error>::failure(makeError(timedOut)));
            return G_SOURCE_REMOVE;
        },
        &task, nullptr);
    g_source_attach(deadline, nullptr);
    d.deadline = SourceHandle::adopt(deadline);
    send(task);
}

void HttpSession::Task::Private::send(Task& task)
{
    Private& d = *task.d_;
    d.message = GObjectRef<SoupMessage>::adopt(soup_message_new_from_uri(d.request.method.c_str(), d.uri.get()));
    SoupMessage* message = d.message.get();
    // Redirects are ours to follow: libsoup would keep every header for any host.
    soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message);
    std::string contentType = "application/octet-stream";
    for (const auto& [name, value] : d.request.headers) {
        if (isSessionHeader(name))
            continue;
        if (equalsIgnoringCase(name, "Content-Type"))
            contentType = value;
        else
            soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    if (!d.request.body.empty()) {
        GBytes* bytes = g_bytes_new(d.request.body.data(), d.request.body.size());
        soup_message_set_request_body_from_bytes(message, contentType.c_str(), bytes);
        g_bytes_unref(bytes);
    } else if (auto type = std::find_if(d.request.headers.begin(), d.request.headers.end(),
                                        [](const auto& h) { return equalsIgnoringCase(h.first, "Content-Type"); });
               type != d.request.headers.end()) {
        soup_message_headers_replace(headers, "Content-Type", type->second.c_str());
    }
    soup_session_send_async(d.session.get(), message, G_PRIORITY_DEFAULT, d.cancellable.get(), didSend, hold(task));
}

void HttpSession::Task::Private::didSend(GObject* source, GAsyncResult* result, gpointer data)
{
    Holder self = take(data);
    GError* error = nullptr;
    auto stream = GObjectRef<GInputStream>::adopt(soup_session_send_finish(SOUP_SESSION(source), result, &error));
    if (self->finished_) {
        g_clear_error(&error);
        closeStream(std::move(stream));
        return;
    }
    if (!stream) {
        Error failure = errorFrom(error);
        g_clear_error(&error);
        return finish(*self, Result<Response, Error>::failure(std::move(failure)));
    }
    Private& d = *self->d_;
    d.stream = std::move(stream);
    const unsigned status = soup_message_get_status(d.message.get());
    if (followRedirect(*self, status))
        return;
    if (self->finished_)
        return;

    SoupMessageHeaders* headers = soup_message_get_response_headers(d.message.get());
    // A declared length beyond the cap fails before anything is read; an encoded body is
    // counted as it decodes.
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH
        && !soup_message_headers_get_one(headers, "Content-Encoding")
        && std::uint64_t(soup_message_headers_get_content_length(headers)) > d.configuration.maximumBodySize) {
        return finish(*self, Result<Response, Error>::failure(makeError(dataLengthExceedsMaximum)));
    }
    readNext(*self);
}

bool HttpSession::Task::Private::followRedirect(Task& task, unsigned status)
{
    Private& d = *task.d_;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return false;
    const char* location = soup_message_headers_get_one(soup_message_get_response_headers(d.message.get()), "Location");
    if (!location)
        return false; // the redirect itself is the answer
    if (++d.redirects > d.configuration.maximumRedirects) {
        finish(task, Result<Response, Error>::failure(makeError(httpTooManyRedirects)));
        return true;
    }
    auto next = parseHttpURL(location, d.uri.get());
    if (next.isFailure()) {
        Error failure = next.error();
        failure.localizedFailureReason = "The server redirected to an address that cannot be loaded.";
        finish(task, Result<Response, Error>::failure(std::move(failure)));
        return true;
    }
    UriPtr target = std::move(next).get();

    // As browsers do: 303 always, and 301 and 302 after a POST, continue as GET without a body.
    const bool isHead = d.request.method == "HEAD";
    if ((status == 303 && !isHead) || ((status == 301 || status == 302) && d.request.method == "POST")) {
        d.request.method = "GET";
        d.request.body.clear();
        auto& h = d.request.headers;
        h.erase(std::remove_if(h.begin(), h.end(), [](const auto& header) {
                    return equalsIgnoringCase(header.first, "Content-Type");
                }),
                h.end());
    }
    if (!sameOrigin(d.uri.get(), target.get())) {
        auto& h = d.request.headers;
        h.erase(std::remove_if(h.begin(), h.end(), [](const auto& header) { return isCredentialHeader(header.first); }),
                h.end());
    }
    closeStream(std::move(d.stream));
    d.uri = std::move(target);
    send(task);
    return true;
}

void HttpSession::Task::Private::readNext(Task& task)
{
    Private& d = *task.d_;
    g_input_stream_read_bytes_async(d.stream.get(), readChunkSize, G_PRIORITY_DEFAULT, d.cancellable.get(), didRead,
                                    hold(task));
}

void HttpSession::Task::Private::didRead(GObject* source, GAsyncResult* result, gpointer data)
{
    Holder self = take(data);
    GError* error = nullptr;
    GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
    struct Unref {
        GBytes* bytes;
        ~Unref()
        {
            if (bytes)
                g_bytes_unref(bytes);
        }
    } unref{bytes};
    if (self->finished_) {
        g_clear_error(&error);
        return;
    }
    if (!bytes) {
        Error failure = errorFrom(error);
        g_clear_error(&error);
        return finish(*self, Result<Response, Error>::failure(std::move(failure)));
    }
    Private& d = *self->d_;
    gsize size = 0;
    const char* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (size == 0) {
        Response response;
        response.url = uriText(d.uri.get());
        response.statusCode = soup_message_get_status(d.message.get());
        SoupMessageHeadersIter iter;
        soup_message_headers_iter_init(&iter, soup_message_get_response_headers(d.message.get()));
        const char *name, *value;
        while (soup_message_headers_iter_next(&iter, &name, &value))
            response.headers.emplace_back(name, value);
        response.body = std::move(d.body);
        return finish(*self, Result<Response, Error>::success(std::move(response)));
    }
    if (size > d.configuration.maximumBodySize - std::min(d.body.size(), d.configuration.maximumBodySize))
        return finish(*self, Result<Response, Error>::failure(makeError(dataLengthExceedsMaximum)));
    d.body.append(chunk, size);
    readNext(*self);
}

void HttpSession::Task::Private::closeStream(GObjectRef<GInputStream> stream)
{
    // Closing does not drain what the server still sends: the connection is dropped instead.
    if (stream)
        g_input_stream_close_async(stream.get(), G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
}

void HttpSession::Task::Private::finish(Task& task, Result<Response, Error> result, bool later)
{
    if (task.finished_)
        return;
    task.finished_ = true;
    Private& d = *task.d_;
    d.deadline.remove();
    if (result.isFailure())
        g_cancellable_cancel(d.cancellable.get()); // stops whatever is still under way
    closeStream(std::move(d.stream));
    d.message.reset();
    d.body.clear();
    Completion completion = std::move(d.completion);
    d.completion = nullptr;
    if (!completion)
        return;
    if (later) {
        MainQueue::async([self = task.shared_from_this(), completion = std::move(completion),
                          result = std::move(result)]() mutable { completion(std::move(result)); });
    } else {
        completion(std::move(result));
    }
}

HttpSession::HttpSession()
    : HttpSession(Configuration())
{
}

HttpSession::HttpSession(Configuration configuration)
    : configuration_(std::move(configuration))
    , session_(GObjectRef<SoupSession>::adopt(soup_session_new()))
{
    if (!configuration_.userAgent.empty())
        soup_session_set_user_agent(session_.get(), configuration_.userAgent.c_str());
}

// Running tasks hold the libsoup session themselves and finish on their own.
HttpSession::~HttpSession() = default;

HttpSession& HttpSession::shared()
{
    static HttpSession session;
    return session;
}

std::shared_ptr<HttpSession::Task> HttpSession::dataTask(Request request, Completion completion)
{
    return std::shared_ptr<Task>(new Task(session_.get(), configuration_, std::move(request), std::move(completion)));
}

} // namespace kx
