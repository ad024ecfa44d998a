// The page side of the service wire protocol, as small as a page can have it: it announces
// its own services with "#discover", answers native requests, and calls native services.
(function () {
    "use strict";
    const handler = window.webkit.messageHandlers.swiftWindowParent;
    const pending = new Map();
    let nextId = 1;

    window.received = [];
    window.pageResults = [];

    // The page's own services, by id; each method takes the argument and returns the result.
    const services = {
        "__MenuActionTarget__": {
            fingerprint: "c4db8a6e44e670207d8e4fa156aa7438",
            validate: (action) => ({ states: [{ action: action.action, enabled: true, label: "Label of " + action.action }] }),
            dispatch: (action) => ({ success: action.action !== "fail" }),
        },
        "__GestureEventTarget__": {
            fingerprint: "eea70ddc08f14b4c6d18b1989490f536",
            dispatchMagnificationEvent: (event) => { window.pageResults.push({ magnified: event.magnification }); },
        },
    };

    function send(message) {
        handler.postMessage(message);
    }

    function call(serviceId, method, body) {
        const id = "page-" + nextId++;
        return new Promise((resolve, reject) => {
            pending.set(id, { resolve, reject });
            const message = { type: "request", id, serviceId, method };
            if (body !== undefined)
                message.body = body;
            send(message);
        });
    }

    window.addEventListener("message", (event) => {
        const message = event.data;
        if (!message || message.__postMessageChannelSource !== "swiftWindowParent")
            return;
        window.received.push({ type: message.type, id: message.id, serviceId: message.serviceId, method: message.method, body: message.body });
        if (message.type === "request") {
            if (window.kxPage.silent)
                return; // a page that never answers
            const service = services[message.serviceId];
            const implementation = service && service[message.method];
            const reply = { id: message.id, serviceId: message.serviceId, method: message.method };
            if (typeof implementation !== "function") {
                send(Object.assign(reply, { type: "error", body: { code: 400 } }));
                return;
            }
            const result = implementation(message.body);
            send(Object.assign(reply, { type: "response" }, result === undefined ? {} : { body: result }));
            return;
        }
        const waiting = pending.get(message.id);
        if (!waiting)
            return;
        pending.delete(message.id);
        (message.type === "response" ? waiting.resolve : waiting.reject)(message.body);
    });

    function announce() {
        const announced = {};
        for (const [id, service] of Object.entries(services))
            announced[id] = { fingerprint: service.fingerprint };
        send({ type: "response", id: "announcement", serviceId: "", method: "#discover", body: { services: announced } });
    }

    // What the tests drive: a call whose outcome lands in pageResults, and raw posting.
    window.kxPage = {
        silent: false,
        callAndRecord(serviceId, method, body) {
            call(serviceId, method, body).then(
                (result) => window.pageResults.push({ method, result: result === undefined ? null : result }),
                (error) => window.pageResults.push({ method, error: error === undefined ? null : error }));
        },
        postRaw(value) {
            handler.postMessage(value);
        },
        announce,
    };

    announce();
})();
