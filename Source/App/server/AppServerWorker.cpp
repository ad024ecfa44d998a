#include "App/server/AppServerWorker.h"

#include <future>
#include <string>

#include <libsoup/soup.h>

#include "App/server/AppServerRequest.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/AlternateSignalStack.h"

namespace kx {

namespace {

struct Adoption {
    AppServerWorker* worker;
    GObjectRef<GSocket> socket;
};

} // namespace

AppServerWorker::AppServerWorker(std::filesystem::path folder)
    : folder_(std::move(folder))
    , context_(g_main_context_new())
    , loop_(g_main_loop_new(context_, FALSE))
{
    std::promise<void> ready;
    auto started = ready.get_future();
    thread_ = startThread([this, ready = std::move(ready)]() mutable {
        g_main_context_push_thread_default(context_);
        // Made on this thread: libsoup attaches its sources to the thread's default context.
        server_ = GObjectRef<SoupServer>::adopt(soup_server_new("server-header", "KorvelX", nullptr));
        soup_server_add_handler(
            server_.get(), nullptr,
            [](SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
                AppServerRequest::respond(static_cast<AppServerWorker*>(data)->folder_, message, path);
            },
            this, nullptr);
        ready.set_value();
        run();
    });
    started.wait();
}

AppServerWorker::~AppServerWorker()
{
    g_main_loop_quit(loop_);
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void AppServerWorker::run()
{
    g_main_loop_run(loop_);
    soup_server_disconnect(server_.get());
    server_.reset();
    // Let closed connections and finished messages (and their open files) go.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
}

void AppServerWorker::adopt(GObjectRef<GSocket> socket)
{
    g_main_context_invoke_full(
        context_, G_PRIORITY_HIGH,
        [](gpointer data) -> gboolean {
            auto* adoption = static_cast<Adoption*>(data);
            adoption->worker->serve(adoption->socket.get());
            return G_SOURCE_REMOVE;
        },
        new Adoption{this, std::move(socket)}, [](gpointer data) { delete static_cast<Adoption*>(data); });
}

void AppServerWorker::serve(GSocket* socket)
{
    if (!server_)
        return;
    auto connection = GObjectRef<GSocketConnection>::adopt(g_socket_connection_factory_create_connection(socket));
    auto local = GObjectRef<GSocketAddress>::adopt(g_socket_get_local_address(socket, nullptr));
    auto remote = GObjectRef<GSocketAddress>::adopt(g_socket_get_remote_address(socket, nullptr));
    GError* error = nullptr;
    if (!local || !remote ||
        !soup_server_accept_iostream(server_.get(), G_IO_STREAM(connection.get()), local.get(), remote.get(), &error)) {
        // The client went away before it was served.
        if (error) {
            RKLog(std::string("App Server cannot serve a connection: ") + error->message, RKLogKind::appServerFailure);
            g_error_free(error);
        }
        g_socket_close(socket, nullptr);
    }
}

} // namespace kx
