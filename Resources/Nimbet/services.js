// The page's end of the shell's service channel: requests, responses and errors posted to the
// "swiftWindowParent" handler and received as window messages. The page announces the services
// it implements ("#discover") and calls the shell's.
(function () {
  "use strict";
  const handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.swiftWindowParent;
  const waiting = new Map();
  const implemented = {};
  let nextId = 1;

  function send(message) {
    if (handler) handler.postMessage(message);
  }

  // Resolves with the response body, rejects with the error body ({code, message}).
  function call(serviceId, method, body) {
    const id = "nimbet-" + nextId++;
    return new Promise((resolve, reject) => {
      waiting.set(id, { resolve, reject });
      const message = { type: "request", id, serviceId, method };
      if (body !== undefined) message.body = body;
      send(message);
    });
  }

  async function serve(message) {
    const reply = { id: message.id, serviceId: message.serviceId, method: message.method };
    const service = implemented[message.serviceId];
    const method = service && service.methods[message.method];
    if (typeof method !== "function") {
      send(Object.assign(reply, { type: "error", body: { code: 400 } }));
      return;
    }
    try {
      const result = await method(message.body);
      send(Object.assign(reply, { type: "response" }, result === undefined ? {} : { body: result }));
    } catch (error) {
      send(Object.assign(reply, { type: "error", body: { code: 500, message: String(error && error.message || error) } }));
    }
  }

  window.addEventListener("message", (event) => {
    const message = event.data;
    if (event.source !== window || !message || message.__postMessageChannelSource !== "swiftWindowParent") return;
    if (message.type === "request") {
      serve(message);
      return;
    }
    const entry = waiting.get(message.id);
    if (!entry) return;
    waiting.delete(message.id);
    (message.type === "response" ? entry.resolve : entry.reject)(message.body);
  });

  function announce() {
    const services = {};
    for (const [id, service] of Object.entries(implemented)) services[id] = { fingerprint: service.fingerprint };
    send({ type: "response", id: "announcement", serviceId: "", method: "#discover", body: { services } });
  }

  window.nimbetServices = {
    call,
    announce,
    // What the shell serves: {services: {id: {fingerprint}}}.
    discover: () => call("", "#discover"),
    implement(serviceId, fingerprint, methods) {
      implemented[serviceId] = { fingerprint, methods };
    },
  };
})();
