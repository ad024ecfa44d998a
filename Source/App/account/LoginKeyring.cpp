#include "App/account/LoginKeyring.h"

#include <deque>

#include <libsecret/secret.h>

namespace kx {

namespace {

const SecretSchema* schema()
{
    static const SecretSchema value = {
        LoginKeyring::schemaName,
        SECRET_SCHEMA_NONE,
        {
            {"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"environment", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &value;
}

std::optional<Error> keyringError(GError* error, const char* what)
{
    if (!error)
        return std::nullopt;
    Error result = Error::fromGError(error, what);
    g_clear_error(&error);
    return result;
}

} // namespace

struct LoginKeyring::Call {
    enum class Kind { lookup, store, clear } kind;
    std::string environment;
    std::string token;
    LookupCompletion lookup;
    Completion done;
};

// Shared with the request that is running, so that its answer finds the queue even after the
// keyring object went (`alive` then says to drop it).
struct LoginKeyring::Queue {
    std::string application;
    bool alive = true;
    bool running = false;
    std::deque<std::unique_ptr<Call>> waiting;

    struct Running {
        std::shared_ptr<Queue> queue;
        std::unique_ptr<Call> call;
    };

    static void startNext(const std::shared_ptr<Queue>& queue)
    {
        if (queue->running || queue->waiting.empty() || !queue->alive)
            return;
        queue->running = true;
        auto* running = new Running{queue, std::move(queue->waiting.front())};
        queue->waiting.pop_front();
        const Call& call = *running->call;
        const char* application = queue->application.c_str();
        const char* environment = call.environment.c_str();
        switch (call.kind) {
        case Call::Kind::lookup:
            secret_password_lookup(schema(), nullptr, &Queue::lookupDone, running, "application", application,
                                   "environment", environment, nullptr);
            break;
        case Call::Kind::store: {
            const std::string label = "Korvel X sign-in (" + call.environment + ")";
            secret_password_store(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), call.token.c_str(), nullptr,
                                  &Queue::storeDone, running, "application", application, "environment", environment,
                                  nullptr);
            break;
        }
        case Call::Kind::clear:
            secret_password_clear(schema(), nullptr, &Queue::clearDone, running, "application", application,
                                  "environment", environment, nullptr);
            break;
        }
    }

    // Ends the running request: the next one starts before this one's completion runs, which
    // may make further requests.
    static std::unique_ptr<Call> finish(gpointer data, std::shared_ptr<Queue>& queue)
    {
        std::unique_ptr<Running> running(static_cast<Running*>(data));
        queue = running->queue;
        queue->running = false;
        startNext(queue);
        return std::move(running->call);
    }

    static void lookupDone(GObject*, GAsyncResult* result, gpointer data)
    {
        std::shared_ptr<Queue> queue;
        auto call = finish(data, queue);
        GError* error = nullptr;
        gchar* password = secret_password_lookup_finish(result, &error);
        std::optional<std::string> token;
        if (password) {
            token = std::string(password);
            secret_password_free(password);
        }
        auto failure = keyringError(error, "The keyring could not be read");
        if (!queue->alive)
            return;
        using R = Result<std::optional<std::string>, Error>;
        call->lookup(failure ? R::failure(*failure) : R::success(std::move(token)));
    }

    static void storeDone(GObject*, GAsyncResult* result, gpointer data)
    {
        std::shared_ptr<Queue> queue;
        auto call = finish(data, queue);
        GError* error = nullptr;
        secret_password_store_finish(result, &error);
        auto failure = keyringError(error, "The keyring could not store the sign-in");
        if (queue->alive)
            call->done(failure);
    }

    static void clearDone(GObject*, GAsyncResult* result, gpointer data)
    {
        std::shared_ptr<Queue> queue;
        auto call = finish(data, queue);
        GError* error = nullptr;
        secret_password_clear_finish(result, &error); // false without an error: there was none
        auto failure = keyringError(error, "The keyring entry could not be removed");
        if (queue->alive)
            call->done(failure);
    }
};

LoginKeyring::LoginKeyring(std::string application)
    : application_(application)
    , queue_(std::make_shared<Queue>())
{
    queue_->application = std::move(application);
}

LoginKeyring::~LoginKeyring()
{
    // The running request finds the queue dead and drops its answer; the others never start.
    queue_->alive = false;
    queue_->waiting.clear();
}

void LoginKeyring::enqueue(std::unique_ptr<Call> call)
{
    queue_->waiting.push_back(std::move(call));
    Queue::startNext(queue_);
}

void LoginKeyring::lookup(const std::string& environment, LookupCompletion completion)
{
    enqueue(std::make_unique<Call>(Call{Call::Kind::lookup, environment, {}, std::move(completion), {}}));
}

void LoginKeyring::store(const std::string& environment, const std::string& token, Completion completion)
{
    enqueue(std::make_unique<Call>(Call{Call::Kind::store, environment, token, {}, std::move(completion)}));
}

void LoginKeyring::clear(const std::string& environment, Completion completion)
{
    enqueue(std::make_unique<Call>(Call{Call::Kind::clear, environment, {}, {}, std::move(completion)}));
}

} // namespace kx
