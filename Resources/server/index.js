#!/usr/bin/env node
// The project server: one process per open document. It serves the project folder and the
// preview page on 127.0.0.1, reports its state on standard output and over socket.io, and
// takes the shell's commands. The shell's side of every message is described in README.md.
"use strict";

const crypto = require("crypto");
const fs = require("fs");
const http = require("http");
const os = require("os");
const path = require("path");
const stream = require("stream");
const { Server } = require("socket.io");

const PREVIEW_FOLDER_PATH = "/_app/resources/Nimbet/";
const PREVIEW_PAGE_PATH = `${PREVIEW_FOLDER_PATH}preview.html`;
const PUBLIC_FOLDER = path.join(__dirname, "public");
const PREVIEW_PAGE_FILE = path.join(PUBLIC_FOLDER, "preview.html");
// The preview page's own device catalogue and the skins and hands it draws.
const DEVICE_CATALOGUE_PATH = `${PREVIEW_FOLDER_PATH}devices.json`;
const DEVICE_CATALOGUE_FILE = path.join(PUBLIC_FOLDER, "devices.json");
const DEVICE_IMAGES_PATH = `${PREVIEW_FOLDER_PATH}devices/`;
const DEVICE_IMAGES_FOLDER = path.join(__dirname, "..", "images", "devices");
// The namespace in which preview pages hear the editor's selection. It needs no token: it
// tells no more than the project's files, which this server gives to any local client.
const PREVIEW_PAGE_NAMESPACE = "/preview-page";
// Clients that show the preview join this room; the editor's selection and reload requests go
// to its members.
const PREVIEW_ROOM = "preview";
const MAX_PAYLOAD = 16 * 1024 * 1024;

function parseArguments(argv) {
  const valued = ["--staticPath", "--cachePath", "--yarnLinkFolder", "--token", "--api", "--cors-ports", "--author"];
  const required = ["staticPath", "cachePath", "yarnLinkFolder", "token", "api", "cors-ports"];
  const options = { liveSharing: true };
  for (let i = 0; i < argv.length; i++) {
    const argument = argv[i];
    if (argument === "--no-live-sharing") {
      options.liveSharing = false;
    } else if (valued.includes(argument)) {
      if (i + 1 >= argv.length) throw new Error(`Missing value for ${argument}`);
      options[argument.slice(2)] = argv[++i];
    } else {
      throw new Error(`Unknown argument ${argument}`);
    }
  }
  for (const name of required) {
    if (options[name] === undefined) throw new Error(`Missing argument --${name}`);
  }
  // "--token -": the token is in the environment, which other users cannot read, unlike our
  // command line. A literal value still works for runs by hand.
  if (options.token === "-") options.token = process.env.KORVEL_API_TOKEN || "";
  options.corsPorts = options["cors-ports"].split(",").filter((p) => p.trim() !== "").map((p) => {
    const port = Number(p);
    if (!Number.isInteger(port) || port < 1 || port > 65535) throw new Error(`Invalid port in --cors-ports: ${p}`);
    return port;
  });
  return options;
}

let options;
try {
  options = parseArguments(process.argv.slice(2));
  if (!process.env.AUTHORIZATION_TOKEN) throw new Error("AUTHORIZATION_TOKEN is not set");
} catch (error) {
  process.stderr.write(`${error.message}\n`);
  process.exit(2);
}
const authorizationToken = process.env.AUTHORIZATION_TOKEN;
// Nothing we start needs the back end's token.
delete process.env.KORVEL_API_TOKEN;
// A token given literally on the command line is readable by every user of the machine:
// replace it in the process listing as soon as it has been read.
process.title = "korvel-project-server";

// A client's value in an error message: texts (shortened) as JSON, anything else by its type,
// since serialising a hostile value can itself fail.
function describe(value) {
  return typeof value === "string" ? JSON.stringify(value.slice(0, 200)) : typeof value;
}

function log(line) {
  process.stdout.write(`${String(line).replace(/\r?\n/g, " ")}\n`);
}

// An error record for the document's project log: one JSON line with the key "error".
function reportError(message, type = "error") {
  process.stdout.write(`${JSON.stringify({ error: { id: crypto.randomUUID(), type, data: message } })}\n`);
}

function readVersion(manifestFile) {
  try {
    const manifest = JSON.parse(fs.readFileSync(manifestFile, "utf8"));
    return typeof manifest.version === "string" ? manifest.version : null;
  } catch {
    return null;
  }
}

// The built-in library is the package linked into the link folder (or the folder itself).
function readLibraryVersion(folder) {
  const own = readVersion(path.join(folder, "package.json"));
  if (own) return own;
  let entries = [];
  try {
    entries = fs.readdirSync(folder).sort();
  } catch {
    return null;
  }
  for (const entry of entries) {
    const version = readVersion(path.join(folder, entry, "package.json"));
    if (version) return version;
  }
  return null;
}

const builtInLibraryVersion = readLibraryVersion(options.yarnLinkFolder);
const state = {
  url: null,
  doneFirstInstall: false,
  builtInLibraryVersion,
  currentLibraryVersion: builtInLibraryVersion,
  availableLibraryVersions: builtInLibraryVersion ? [builtInLibraryVersion] : [],
  previewInspectorHasErrors: false,
  previewInspectorHasWarnings: false,
  liveSharing: { status: options.liveSharing ? "available" : "unavailable", url: null },
};
let projectDir = null;
let io = null;

function publishState() {
  if (io) io.emit("state", state);
}

// ---- Files -------------------------------------------------------------------------------

const contentTypes = {
  ".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8", ".mjs": "text/javascript; charset=utf-8",
  ".css": "text/css; charset=utf-8", ".json": "application/json", ".svg": "image/svg+xml", ".png": "image/png",
  ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".gif": "image/gif", ".webp": "image/webp", ".woff2": "font/woff2",
  ".txt": "text/plain; charset=utf-8", ".md": "text/markdown; charset=utf-8",
};

function sendStatus(response, status, headers = {}) {
  response.writeHead(status, { "Content-Type": "text/plain; charset=utf-8", ...headers });
  response.end(`${status} ${http.STATUS_CODES[status]}\n`);
}

// Links are followed (the image cache links to the project's own images); what counts is where
// the open descriptor really lies, checked after the open.
const OPEN_FLAGS = fs.constants.O_RDONLY | fs.constants.O_NONBLOCK;

function isInside(file, folder) {
  return file === folder || file.startsWith(folder.endsWith(path.sep) ? folder : folder + path.sep);
}

// Opens `file`, which must lie in `folder`, once, and checks what was really opened: no link or
// rename on the way that leads outside `folder` (the kernel's name of the open descriptor says
// where it is), and a regular file; a folder stands for its
// index page. The answer is an HTTP status or the open descriptor with its stats; everything
// read later comes from that descriptor, so swapping the path afterwards changes nothing.
function openInside(folder, file, callback, isIndex = false) {
  fs.realpath(folder, (error, realFolder) => {
    if (error) return callback(404);
    fs.open(file, OPEN_FLAGS, (error, fd) => {
      if (error) return callback(error.code === "ELOOP" || error.code === "EACCES" ? 403 : 404);
      const refuse = (status) => fs.close(fd, () => callback(status));
      fs.readlink(`/proc/self/fd/${fd}`, (error, real) => {
        if (error) return refuse(404);
        if (!isInside(real, realFolder)) return refuse(403);
        fs.fstat(fd, (error, stats) => {
          if (error) return refuse(404);
          if (stats.isDirectory() && !isIndex) return fs.close(fd, () => openInside(folder, path.join(file, "index.html"), callback, true));
          if (!stats.isFile()) return refuse(403); // FIFOs, devices and sockets would block or never end
          callback(200, fd, stats, file);
        });
      });
    });
  });
}

function sendFile(request, response, folder, file) {
  openInside(folder, file, (status, fd, stats, opened) => {
    if (status !== 200) return sendStatus(response, status);
    // The editor page, served from the shell's own port, reads the project's files.
    const origin = request.headers.origin;
    const cors = allowedOrigins.includes(origin) ? { "Access-Control-Allow-Origin": origin, Vary: "Origin" } : {};
    response.writeHead(200, {
      "Content-Type": contentTypes[path.extname(opened).toLowerCase()] || "application/octet-stream",
      "Content-Length": stats.size,
      "Cache-Control": "no-cache",
      ...cors,
    });
    if (request.method === "HEAD" || stats.size === 0) {
      response.end();
      return fs.close(fd, () => {});
    }
    // Ends the response early (and closes the descriptor) when either side fails.
    stream.pipeline(fs.createReadStream(null, { fd, start: 0, end: stats.size - 1 }), response, () => {});
  });
}

// Serves `relative` from `root`, refusing anything that resolves outside it.
function sendFrom(request, response, root, relative) {
  const base = path.resolve(root);
  const target = path.resolve(base, `.${relative}`);
  if (!isInside(target, base)) return sendStatus(response, 403);
  sendFile(request, response, base, target);
}

function handleRequest(request, response) {
  if (request.method !== "GET" && request.method !== "HEAD") return sendStatus(response, 405, { Allow: "GET, HEAD" });
  let pathname;
  try {
    pathname = decodeURIComponent(new URL(request.url, "http://127.0.0.1").pathname);
  } catch {
    return sendStatus(response, 400);
  }
  if (pathname.includes("\0")) return sendStatus(response, 400);
  if (pathname === PREVIEW_PAGE_PATH) return sendFile(request, response, PUBLIC_FOLDER, PREVIEW_PAGE_FILE);
  if (pathname === DEVICE_CATALOGUE_PATH) return sendFile(request, response, PUBLIC_FOLDER, DEVICE_CATALOGUE_FILE);
  if (pathname.startsWith(DEVICE_IMAGES_PATH)) return sendFrom(request, response, DEVICE_IMAGES_FOLDER, pathname.slice(DEVICE_IMAGES_PATH.length - 1));
  if (pathname.startsWith("/_app/resources/")) return sendFrom(request, response, options.staticPath, pathname.slice("/_app/resources".length));
  if (projectDir) return sendFrom(request, response, projectDir, pathname);
  sendStatus(response, 404);
}

// ---- Commands ----------------------------------------------------------------------------

function writeJSONAtomically(file, value) {
  const temporary = `${file}.${process.pid}.tmp`;
  fs.writeFileSync(temporary, `${JSON.stringify(value, null, 2)}\n`);
  fs.renameSync(temporary, file);
}

// A project's package.json before any package is added to it.
function newManifest(folder) {
  const name = path.basename(folder).toLowerCase().replace(/[^a-z0-9-._~]/g, "-").replace(/^[-._]+/, "") || "project";
  return { name, private: true, dependencies: {} };
}

// The first install gives the project a package.json to which packages are added later: once,
// in the first folder the shell names. Wherever the project goes next (moved, put back, worked
// on in a copy) it takes its files with it; a folder that another program puts at its old path
// before the shell has named the new one here is not the project's, and gets nothing.
function firstInstall(folder) {
  const manifest = path.join(folder, "package.json");
  if (!fs.existsSync(manifest)) {
    writeJSONAtomically(manifest, newManifest(folder));
    log(`Created ${manifest}`);
  }
  state.doneFirstInstall = true;
}

const packageNamePattern = /^(@[a-z0-9-~][a-z0-9-._~]*\/)?[a-z0-9-~][a-z0-9-._~]*$/;

const commands = {
  setProjectDir(folder) {
    if (typeof folder !== "string" || !path.isAbsolute(folder)) throw new Error("setProjectDir needs an absolute path");
    if (!fs.statSync(folder, { throwIfNoEntry: false })?.isDirectory()) throw new Error(`Not a folder: ${folder}`);
    projectDir = folder;
    log(`setProjectDir ${folder}`);
    if (!state.doneFirstInstall) firstInstall(folder);
    publishState();
  },
  setDocumentDirty(dirty) {
    if (typeof dirty !== "boolean") throw new Error("setDocumentDirty needs a boolean");
    log(`setDocumentDirty ${dirty}`);
  },
  addPackage(request) {
    const name = request && request.name;
    const isDevDependency = request && request.isDevDependency;
    if (typeof name !== "string" || name.length > 214 || !packageNamePattern.test(name)) throw new Error(`Invalid package name: ${describe(name)}`);
    if (typeof isDevDependency !== "boolean") throw new Error("addPackage needs isDevDependency");
    if (!projectDir) throw new Error(`Cannot add ${name}: no project folder`);
    const file = path.join(projectDir, "package.json");
    // One removed since the first install is made again, for the package asked for.
    const manifest = fs.existsSync(file) ? JSON.parse(fs.readFileSync(file, "utf8")) : newManifest(projectDir);
    const key = isDevDependency ? "devDependencies" : "dependencies";
    manifest[key] = manifest[key] && typeof manifest[key] === "object" ? manifest[key] : {};
    if (!(name in manifest[key])) {
      manifest[key][name] = "*";
      writeJSONAtomically(file, manifest);
    }
    log(`addPackage ${name}${isDevDependency ? " (dev)" : ""}`);
  },
  installKorvelLibrary(version) {
    if (typeof version !== "string" || !state.availableLibraryVersions.includes(version)) throw new Error(`Library version not available: ${describe(version)}`);
    state.currentLibraryVersion = version;
    log(`installKorvelLibrary ${version}`);
    publishState();
  },
  startLiveSharing() {
    log("startLiveSharing");
    startLiveSharing();
  },
  stopLiveSharing() {
    log("stopLiveSharing");
    stopLiveSharing();
  },
};

// ---- Live sharing: the preview page on every interface of this machine --------------------

let shareServer = null;

function externalAddress() {
  for (const addresses of Object.values(os.networkInterfaces())) {
    for (const address of addresses || []) {
      if (address.family === "IPv4" && !address.internal) return address.address;
    }
  }
  return "127.0.0.1";
}

function setLiveSharing(status, url = null) {
  state.liveSharing = { status, url };
  publishState();
}

function startLiveSharing() {
  if (!options.liveSharing) throw new Error("Live sharing is not available");
  if (state.liveSharing.status !== "available") return;
  const shareId = crypto.randomBytes(12).toString("hex");
  setLiveSharing("starting");
  const server = http.createServer((request, response) => {
    if (request.method !== "GET" && request.method !== "HEAD") return sendStatus(response, 405, { Allow: "GET, HEAD" });
    let pathname;
    try {
      pathname = decodeURIComponent(new URL(request.url, "http://localhost").pathname);
    } catch {
      return sendStatus(response, 400); // this port is open to the network: bad input must not end us
    }
    const prefix = `/${shareId}/`;
    if (pathname.includes("\0") || !pathname.startsWith(prefix)) return sendStatus(response, 404);
    // The preview page with its devices, and the project's own files for it to show: nothing
    // hidden (backups, caches, logs, the lock) ever leaves the machine.
    const rest = pathname.slice(prefix.length);
    if (rest === "") return sendFile(request, response, PUBLIC_FOLDER, PREVIEW_PAGE_FILE);
    if (rest === "devices.json") return sendFile(request, response, PUBLIC_FOLDER, DEVICE_CATALOGUE_FILE);
    if (rest.split("/").some((part) => part.startsWith("."))) return sendStatus(response, 404);
    if (rest.startsWith("devices/")) return sendFrom(request, response, DEVICE_IMAGES_FOLDER, `/${rest.slice("devices/".length)}`);
    if (rest.startsWith("project/") && projectDir) return sendFrom(request, response, projectDir, `/${rest.slice("project/".length)}`);
    sendStatus(response, 404);
  });
  shareServer = server;
  server.on("error", (error) => {
    if (shareServer !== server) return;
    shareServer = null;
    reportError(`Live sharing failed: ${error.message}`);
    setLiveSharing("failed");
  });
  server.listen(0, "0.0.0.0", () => {
    if (shareServer !== server) return;
    setLiveSharing("active", `http://${externalAddress()}:${server.address().port}/${shareId}/`);
  });
}

function stopLiveSharing() {
  if (!shareServer) {
    if (state.liveSharing.status === "failed") setLiveSharing("available");
    return;
  }
  const server = shareServer;
  shareServer = null;
  setLiveSharing("stopping");
  server.close(() => setLiveSharing("available"));
  server.closeAllConnections();
}

// ---- Start -------------------------------------------------------------------------------

const allowedOrigins = options.corsPorts.flatMap((port) => [`http://127.0.0.1:${port}`, `http://localhost:${port}`]);
const httpServer = http.createServer(handleRequest);
io = new Server(httpServer, { cors: { origin: allowedOrigins }, maxHttpBufferSize: MAX_PAYLOAD });

// "http://127.0.0.1:PORT", as a page of this server names its origin.
function ownOrigin() {
  return state.url ? state.url.replace(/\/$/, "") : null;
}

function tokensMatch(given) {
  if (typeof given !== "string") return false;
  const a = Buffer.from(given);
  const b = Buffer.from(authorizationToken);
  return a.length === b.length && crypto.timingSafeEqual(a, b);
}

io.use((socket, next) => (tokensMatch(socket.handshake.auth && socket.handshake.auth.token) ? next() : next(new Error("unauthorized"))));

// A client's frame never takes the program down: whatever a handler throws becomes an error
// record.
function guarded(handler) {
  return (...args) => {
    try {
      handler(...args);
    } catch (error) {
      reportError(error.message);
    }
  };
}

// The editor's latest selection, for preview pages that connect later.
let lastSelection = null;
const previewPages = io.of(PREVIEW_PAGE_NAMESPACE);
previewPages.on("connection", (socket) => {
  if (lastSelection !== null) socket.emit("updatePreview", lastSelection);
  // What the preview page's console holds, for the shell's console button: the page sends it
  // when it changes and whenever it connects, so a new page (a reload) clears it. Only a
  // page of this server is heard: the namespace needs no token, and a page elsewhere in a
  // browser must not colour the button.
  if (socket.handshake.headers.origin !== ownOrigin()) return;
  socket.on("previewInspector", guarded((report) => {
    const errors = report && report.hasErrors;
    const warnings = report && report.hasWarnings;
    if (typeof errors !== "boolean" || typeof warnings !== "boolean") throw new Error(`previewInspector needs two booleans, not ${describe(report)}`);
    if (errors === state.previewInspectorHasErrors && warnings === state.previewInspectorHasWarnings) return;
    state.previewInspectorHasErrors = errors;
    state.previewInspectorHasWarnings = warnings;
    publishState();
  }));
});

io.on("connection", (socket) => {
  socket.emit("state", state);
  for (const [name, command] of Object.entries(commands)) socket.on(name, guarded(command));
  socket.on("joinRoom", guarded((room) => {
    if (room !== PREVIEW_ROOM) throw new Error(`Unknown room: ${describe(room)}`);
    socket.join(room);
  }));
  // The editor page hands its selection (JSON text, relayed as it is) and reload requests to
  // the preview clients. Only text is relayed: anything else could be nested deep enough to
  // overflow the stack of whoever encodes it next.
  socket.on("updatePreview", guarded((data) => {
    if (typeof data !== "string") throw new Error("updatePreview needs the selection as JSON text");
    socket.to(PREVIEW_ROOM).emit("updatePreview", data);
    lastSelection = data;
    previewPages.emit("updatePreview", data);
  }));
  socket.on("reload", guarded(() => socket.to(PREVIEW_ROOM).emit("reload")));
});

function shutdown() {
  if (shareServer) shareServer.close();
  io.close();
  process.exit(0);
}
process.on("SIGTERM", shutdown);
process.on("SIGINT", shutdown);
// The shell holds our standard input open for as long as it wants us: its end is our end.
process.stdin.on("end", shutdown);
process.stdin.on("error", shutdown);
process.stdin.resume();

httpServer.listen(0, "127.0.0.1", () => {
  state.url = `http://127.0.0.1:${httpServer.address().port}/`;
  log(`Project server${options.author ? ` for ${options.author}` : ""} listening on ${state.url}`);
  process.stdout.write(`${JSON.stringify(state)}\n`);
});
