// A page that owns its menu actions: it implements MenuActionTarget (validate and dispatch)
// from a table the tests set, records every request, and asks native code for context menus.
// The query "?defer" makes it announce no MenuActionTarget, so that native handling decides.
(function () {
    "use strict";
    const handler = window.webkit.messageHandlers.swiftWindowParent;
    const pending = new Map();
    let nextId = 1;

    const page = {
        // Action name to the MenuActionState the page answers for it.
        states: {},
        // "now", "never", or a delay in milliseconds before each validation answer.
        answer: "now",
        dispatchSucceeds: true,
        requests: [],
        dispatched: [],
        contextResults: [],
    };
    window.menuPage = page;

    function send(message) {
        handler.postMessage(message);
    }

    function validate(request) {
        page.requests.push({ method: "validate", action: request.action });
        const names = request.action === "*" ? Object.keys(page.states) : [request.action];
        const states = names.filter((name) => name in page.states).map((name) => Object.assign({ action: name }, page.states[name]));
        return { states };
    }

    function dispatch(request) {
        page.requests.push({ method: "dispatch", action: request.action });
        page.dispatched.push(request.action);
        return { success: page.dispatchSucceeds };
    }

    const services = {
        "__MenuActionTarget__": { fingerprint: "c4db8a6e44e670207d8e4fa156aa7438", validate, dispatch },
    };

    function reply(message, result) {
        send({ type: "response", id: message.id, serviceId: message.serviceId, method: message.method, body: result });
    }

    window.addEventListener("message", (event) => {
        const message = event.data;
        if (!message || message.__postMessageChannelSource !== "swiftWindowParent")
            return;
        if (message.type === "request") {
            const service = services[message.serviceId];
            const implementation = service && service[message.method];
            if (typeof implementation !== "function") {
                send({ type: "error", id: message.id, serviceId: message.serviceId, method: message.method, body: { code: 400 } });
                return;
            }
            const result = implementation(message.body);
            if (message.method !== "validate" || page.answer === "now")
                reply(message, result);
            else if (page.answer !== "never")
                setTimeout(() => reply(message, result), page.answer);
            return;
        }
        const waiting = pending.get(message.id);
        if (!waiting)
            return;
        pending.delete(message.id);
        waiting(message.type === "response" ? { result: message.body === undefined ? null : message.body } : { error: message.body });
    });

    function call(serviceId, method, body) {
        const id = "page-" + nextId++;
        return new Promise((resolve) => {
            pending.set(id, resolve);
            send({ type: "request", id, serviceId, method, body });
        });
    }

    // The answer lands in contextResults: {result: {indexPath}} or {error}.
    page.showContextMenu = (items, location) => {
        const body = location ? { items, location } : { items };
        call("__ContextMenuPresenter__", "showContextMenu", body).then((outcome) => page.contextResults.push(outcome));
    };

    const announced = {};
    if (!window.location.search.includes("defer"))
        announced["__MenuActionTarget__"] = { fingerprint: services["__MenuActionTarget__"].fingerprint };
    send({ type: "response", id: "announcement", serviceId: "", method: "#discover", body: { services: announced } });
})();
