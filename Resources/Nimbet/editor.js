// A small editor of a project's "design/document.json": a list of named frames with a text
// each. It speaks the shell's editor protocol: named messages to the "_webkit" handler, events
// from the shell through window._ipc.emit, the Clipboard service for cut, copy and paste, and
// MenuActionTarget and GestureEventTarget for the shell's menus and pinches.
(function () {
  "use strict";
  const startup = window.nimbetStartup || { tutorialMode: false, serverAuthorizationToken: "" };
  const emptyDocument = () => ({ version: 1, frames: [] });
  const state = {
    document: null,       // null until loaded; the loaded object keeps keys this page does not know
    loadError: null,      // why the document could not be shown
    projectURL: null,
    selectedId: null,
    undo: [], redo: [],
    dirty: false,
    selectionLock: false,
    previewErrors: [], consoleVisible: false,
    zoom: 1,
    socket: null,
  };
  const $ = (id) => document.getElementById(id);

  function post(method, args) {
    const message = { method };
    if (args !== undefined) message.arguments = args;
    window.webkit.messageHandlers._webkit.postMessage(JSON.stringify(message));
  }

  // ---- The document -------------------------------------------------------------------

  function frames() {
    return state.document ? state.document.frames : [];
  }

  function newId() {
    return "frame-" + Date.now().toString(36) + "-" + Math.random().toString(36).slice(2, 8);
  }

  function selected() {
    return frames().find((frame) => frame.id === state.selectedId) || null;
  }

  // Undo steps kept: each is the whole document, which may be megabytes.
  const undoLimit = 50;

  // Every change goes through here: one undo step, and the shell hears of unsaved changes.
  function change(apply, options = {}) {
    if (!state.document) return;
    if (!options.coalesce || state.lastCoalesce !== options.coalesce) {
      state.undo.push(JSON.stringify(state.document));
      if (state.undo.length > undoLimit) state.undo.shift();
    }
    state.lastCoalesce = options.coalesce || null;
    state.redo = [];
    apply(state.document);
    markDirty(options.keepFields);
  }

  function markDirty(keepFields) {
    state.dirty = true;
    post("DocumentDirty");
    render(keepFields);
    pushSelection();
  }

  function restore(from, to) {
    if (!from.length || !state.document) return false;
    to.push(JSON.stringify(state.document));
    state.document = JSON.parse(from.pop());
    state.lastCoalesce = null;
    markDirty();
    return true;
  }

  // Frames from outside (the clipboard) are checked like any input.
  function cleanFrame(value) {
    if (!value || typeof value !== "object" || Array.isArray(value)) return null;
    const frame = Object.assign({}, value, { id: newId() });
    frame.name = typeof value.name === "string" ? value.name : "Frame";
    frame.text = typeof value.text === "string" ? value.text : "";
    return frame;
  }

  function insertFrames(list) {
    const at = Math.max(frames().indexOf(selected()) + 1, 0) || frames().length;
    change((doc) => doc.frames.splice(at, 0, ...list));
    if (list.length) select(list[list.length - 1].id);
  }

  async function load(url) {
    try {
      const response = await fetch(new URL("design/document.json", url), { cache: "no-store" });
      if (response.status === 404) {
        state.document = emptyDocument();
      } else if (!response.ok) {
        throw new Error("the project server answered " + response.status);
      } else {
        const text = await response.text();
        const value = text.trim() === "" ? emptyDocument() : JSON.parse(text);
        if (!value || typeof value !== "object" || Array.isArray(value)) throw new Error("it is not a JSON object");
        if (!Array.isArray(value.frames)) value.frames = [];
        value.frames = value.frames.filter((frame) => frame && typeof frame === "object" && !Array.isArray(frame));
        value.frames.forEach((frame) => {
          if (typeof frame.id !== "string") frame.id = newId();
          if (typeof frame.name !== "string") frame.name = "Frame";
          if (typeof frame.text !== "string") frame.text = "";
        });
        state.document = value;
      }
      state.loadError = null;
    } catch (error) {
      state.loadError = "The document cannot be shown: " + (error && error.message || error);
    }
    render();
  }

  // ---- What the shell sends -----------------------------------------------------------

  const events = {
    UpdateProject(url) {
      if (typeof url !== "string") return;
      const first = state.projectURL === null;
      state.projectURL = url;
      if (first) load(url);
      connect(url);
    },
    ShowStoreView(url) {
      $("store-url").textContent = String(url);
      $("store").hidden = false;
    },
    DocumentSave() {
      // Text instead of a document tells the shell why there is none; the file stays as it is.
      if (!state.document) {
        post("DocumentSaveDialogStart", state.loadError || "The document has not been loaded yet.");
        return;
      }
      post("DocumentSaveDialogStart", state.document);
      state.dirty = false;
      renderStatus();
    },
    PreviewLoaded() {
      pushSelection();
    },
    UpdatePreviewSettings(id, settings) {
      const frame = frames().find((candidate) => candidate.id === id);
      if (!frame || !settings || typeof settings !== "object") return;
      change(() => {
        const preview = Object.assign({}, frame.preview);
        for (const [key, value] of Object.entries(settings)) {
          if (value === null) delete preview[key];
          else preview[key] = value;
        }
        frame.preview = preview;
      });
    },
    SetPreviewSelectionLock(locked) {
      state.selectionLock = locked === true;
      pushSelection();
      renderStatus();
    },
    TogglePreviewConsole() {
      state.consoleVisible = !state.consoleVisible;
      renderConsole();
    },
    PreviewErrors(list) {
      state.previewErrors = Array.isArray(list) ? list : [];
      renderConsole();
    },
    ServerStoreData() {
      post("ServerStoreData", { projectURL: state.projectURL, frames: frames().map((f) => ({ id: f.id, name: f.name })) });
    },
  };
  window._ipc = {
    emit(name, ...args) {
      if (Object.prototype.hasOwnProperty.call(events, name)) events[name](...args);
    },
  };

  // ---- The preview: the selection goes to the project server, which passes it on --------

  function selection() {
    const frame = selected();
    const settings = Object.assign({ responsive: false, rotate: false, bezel: true, touch: false }, frame && frame.preview);
    return { metadata: frame ? { id: frame.id, name: frame.name, selectionLock: state.selectionLock, settings }
                             : { selectionLock: state.selectionLock, settings } };
  }

  function pushSelection() {
    if (state.socket) state.socket.emit("updatePreview", JSON.stringify(selection()));
  }

  function connect(url) {
    if (state.socket) state.socket.disconnect();
    state.socket = null;
    const script = document.createElement("script");
    script.src = new URL("socket.io/socket.io.js", url).href;
    script.onload = () => {
      if (state.projectURL !== url || typeof window.io !== "function") return;
      state.socket = window.io(url, { auth: { token: startup.serverAuthorizationToken } });
      state.socket.on("connect", pushSelection);
    };
    document.head.appendChild(script);
  }

  // ---- Edit actions: the shell's menus and keys ---------------------------------------

  const inTextField = () => ["INPUT", "TEXTAREA"].includes((document.activeElement || {}).tagName);

  function copy() {
    const frame = selected();
    if (!frame) return Promise.resolve(false);
    const text = frame.name + "\n" + frame.text;
    const svg = '<svg xmlns="http://www.w3.org/2000/svg" width="200" height="120"><rect width="200" height="120" fill="#fff" stroke="#888"/>' +
      '<text x="10" y="24"></text></svg>';
    const node = new DOMParser().parseFromString(svg, "image/svg+xml");
    node.querySelector("text").textContent = frame.name;
    return window.nimbetServices.call("__Clipboard__", "write", { items: [
      { type: "application/x-korvel-layers", data: { frames: [frame] } },
      { type: "text/plain", string: text },
      { type: "image/svg+xml", string: new XMLSerializer().serializeToString(node) },
    ] }).then(() => true);
  }

  async function paste() {
    const read = await window.nimbetServices.call("__Clipboard__", "read", { types: ["application/x-korvel-layers", "text/plain"] });
    const items = (read && read.items) || [];
    const layers = items.find((item) => item.type === "application/x-korvel-layers");
    const list = layers && Array.isArray(layers.data.frames) ? layers.data.frames.slice(0, 1000).map(cleanFrame).filter(Boolean) : [];
    if (!list.length) {
      const text = items.find((item) => item.type === "text/plain");
      if (!text) return false;
      list.push({ id: newId(), name: "Pasted text", text: text.string });
    }
    insertFrames(list);
    return true;
  }

  function remove() {
    const frame = selected();
    if (!frame) return false;
    const index = frames().indexOf(frame);
    change((doc) => doc.frames.splice(index, 1));
    const next = frames()[Math.min(index, frames().length - 1)];
    select(next ? next.id : null);
    return true;
  }

  const textActions = ["cut", "copy", "paste", "delete", "selectAll"];
  const actions = {
    undo: { enabled: () => state.undo.length > 0, run: () => restore(state.undo, state.redo) },
    redo: { enabled: () => state.redo.length > 0, run: () => restore(state.redo, state.undo) },
    cut: { enabled: () => !!selected(), run: async () => (await copy()) && remove() },
    copy: { enabled: () => !!selected(), run: copy },
    paste: { enabled: () => !!state.document, run: paste },
    delete: { enabled: () => !!selected(), run: remove },
    addFrame: { enabled: () => !!state.document, run: () => addFrame() },
  };

  function validateOne(name) {
    if (inTextField() && textActions.includes(name)) return { action: name, deferToNative: true };
    const action = actions[name];
    if (!action) return { action: name, deferToNative: true };
    return { action: name, enabled: action.enabled() };
  }

  window.nimbetServices.implement("__MenuActionTarget__", "c4db8a6e44e670207d8e4fa156aa7438", {
    validate: (request) => ({ states: request.action === "*" ? Object.keys(actions).map(validateOne) : [validateOne(request.action)] }),
    dispatch: async (request) => {
      const action = actions[request.action];
      if (!action || !action.enabled() || (inTextField() && textActions.includes(request.action))) return { success: false };
      return { success: (await action.run()) !== false };
    },
  });
  window.nimbetServices.implement("__GestureEventTarget__", "eea70ddc08f14b4c6d18b1989490f536", {
    dispatchMagnificationEvent: (event) => {
      state.zoom = Math.min(3, Math.max(0.5, state.zoom * (1 + (Number(event.magnification) || 0))));
      $("frames").style.zoom = state.zoom;
    },
  });

  // ---- The view -------------------------------------------------------------------------

  function addFrame() {
    const frame = { id: newId(), name: "Frame " + (frames().length + 1), text: "" };
    insertFrames([frame]);
    return true;
  }

  function select(id) {
    state.selectedId = id;
    for (const row of document.querySelectorAll("#frames li")) row.classList.toggle("selected", row.dataset.id === id);
    pushSelection();
  }

  // A field shows at most this many characters: a text of megabytes (a paste) would hold the
  // page for minutes at every drawing. Longer ones are shown in part, not editable here; the
  // document keeps them whole.
  const fieldLimit = 1 << 20;

  function field(frame, key, label) {
    const input = document.createElement(key === "text" ? "textarea" : "input");
    const long = frame[key].length > fieldLimit;
    input.value = long ? frame[key].slice(0, fieldLimit) : frame[key];
    input.className = key;
    input.setAttribute("aria-label", label);
    input.addEventListener("focus", () => select(frame.id));
    if (long) {
      input.readOnly = true;
      input.title = "Too long to edit here: " + frame[key].length + " characters, of which the first are shown";
    } else {
      input.addEventListener("input", () => change(() => { frame[key] = input.value; }, { coalesce: frame.id + key, keepFields: true }));
    }
    return input;
  }

  function render(keepFields) {
    renderStatus();
    $("add").disabled = !state.document;
    $("problem").hidden = !state.loadError;
    $("problem").textContent = state.loadError || "";
    $("empty").hidden = !state.document || frames().length > 0;
    if (keepFields) return; // typing must not lose the caret
    const list = $("frames");
    list.replaceChildren(...frames().map((frame) => {
      const row = document.createElement("li");
      row.dataset.id = frame.id;
      row.classList.toggle("selected", frame.id === state.selectedId);
      row.addEventListener("mousedown", () => select(frame.id));
      row.append(field(frame, "name", "Frame name"), field(frame, "text", "Frame text"));
      return row;
    }));
  }

  function renderStatus() {
    $("status").textContent = state.dirty ? "Unsaved changes" : "";
    $("lock").hidden = !state.selectionLock;
  }

  function renderConsole() {
    const count = state.previewErrors.length;
    $("errors").textContent = count ? count + (count === 1 ? " preview error" : " preview errors") : "";
    $("console").hidden = !state.consoleVisible;
    $("console-list").replaceChildren(...state.previewErrors.map((error) => {
      const item = document.createElement("li");
      item.textContent = typeof error === "string" ? error : JSON.stringify(error);
      return item;
    }));
  }

  function applyAppearance() {
    document.documentElement.classList.toggle("dark", window.hasDarkAppearance === true);
  }

  window.addEventListener("message", (event) => {
    if (event.source === window && event.data && event.data.appearance) setTimeout(applyAppearance);
  });

  document.addEventListener("DOMContentLoaded", () => {
    applyAppearance();
    document.body.classList.toggle("tutorial", startup.tutorialMode === true);
    $("add").addEventListener("click", addFrame);
    $("store-close").addEventListener("click", () => { $("store").hidden = true; });
    render();
    renderConsole();
    window.nimbetServices.announce();
    post("DOMContentLoaded");
    post("DocumentReady");
  });

  // For tests and the curious: the state, read-only in spirit.
  window.nimbet = { state, selection, actions };
})();
