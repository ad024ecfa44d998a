#!/usr/bin/env node
// A stand-in for the Korvel X back end, for development and tests on one machine. It is not
// part of the shipped application. Every endpoint and payload is described in README.md
// beside this file.
//
//   node standin.js [--port 4780] [--host 127.0.0.1] [--exit-with-stdin] [--fresh]
//
// Port 0 takes any free port. Once listening it prints one line of JSON to standard output:
// {"url": "http://127.0.0.1:<port>/"}. The accounts and tokens of its sign-ins last across runs
// in a file of the user's state folder, as a real back end keeps them; with --fresh (the tests')
// it starts with none and writes nothing. Everything else is kept in memory.
'use strict';

const http = require('http');
const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');

const args = process.argv.slice(2);
function option(name, fallback) {
  const at = args.indexOf(name);
  return at >= 0 && at + 1 < args.length ? args[at + 1] : fallback;
}
const host = option('--host', '127.0.0.1');
const port = Number(option('--port', '4780'));
if (!Number.isInteger(port) || port < 0 || port > 65535) {
  console.error('standin: --port needs a number from 0 to 65535');
  process.exit(2);
}

const maximumBody = 64 * 1024;
const maximumRecorded = 10000;

// token -> { answer, user, lasting }; answer "user" gives the record, the others misbehave on
// purpose. The sign-ins of the login page are lasting: they are kept in the accounts file.
const tokens = new Map();
// userId -> { messages, unread }
const conversations = new Map();
const recorded = { track: [], collect: [], login: [], crash: [] };
// The newest version the update feed announces; tests announce others.
let appcastItem = { version: '1', shortVersion: '1.0.0' };
const maximumCrashReport = 1024 * 1024;
let nextUser = 1;

// The accounts file. What a sign-in writes stays well under the cap: at most
// `maximumLastingTokens` accounts, of names and addresses of 200 characters at most.
const accountsFileVersion = 1;
const maximumAccountsFile = 4 * 1024 * 1024;
const maximumLastingTokens = 1000;
const maximumUserText = 200;

function warn(message) {
  console.error('standin: ' + message);
}

// $XDG_STATE_HOME/korvel-x-standin, a folder of this user's own: made for the user alone, or
// found so. A link, another user's folder or one that others may write to could hand the tokens
// to someone else, or feed them in: it is not used, and the accounts last for this run only.
function accountsFolder() {
  const configured = process.env.XDG_STATE_HOME;
  const base = configured && path.isAbsolute(configured) ? configured : path.join(os.homedir(), '.local', 'state');
  const folder = path.join(base, 'korvel-x-standin');
  try {
    fs.mkdirSync(base, { recursive: true, mode: 0o700 });
    try {
      fs.mkdirSync(folder, { mode: 0o700 });
    } catch (error) {
      if (error.code !== 'EEXIST') throw error;
    }
    const status = fs.lstatSync(folder);
    const wrong = status.isSymbolicLink() ? 'is a symbolic link'
      : !status.isDirectory() ? 'is not a folder'
      : status.uid !== process.getuid() ? 'belongs to another user'
      : status.mode & 0o022 ? 'may be written to by other users' : null;
    if (wrong) throw new Error(folder + ' ' + wrong);
  } catch (error) {
    warn(`the accounts last for this run only: ${error.message}`);
    return null;
  }
  return folder;
}

function isUserText(value) {
  return typeof value === 'string' && value.length <= maximumUserText;
}

// The accounts of an earlier run; a file that is no such list is reported and left for the
// next sign-in to replace, and the stand-in starts with no account.
function loadAccounts(file) {
  let descriptor;
  try {
    // Not through a link, and without waiting on a pipe put in its place.
    descriptor = fs.openSync(file, fs.constants.O_RDONLY | fs.constants.O_NOFOLLOW | fs.constants.O_NONBLOCK);
  } catch (error) {
    if (error.code !== 'ENOENT') warn(`${file} could not be read (${error.code === 'ELOOP' ? 'it is a symbolic link' : error.message}); starting with no accounts`);
    return;
  }
  let accounts;
  try {
    const status = fs.fstatSync(descriptor);
    if (!status.isFile()) throw new Error('it is not a plain file');
    if (status.uid !== process.getuid()) throw new Error('it belongs to another user');
    const buffer = Buffer.alloc(maximumAccountsFile + 1);
    let size = 0;
    for (let read; size < buffer.length && (read = fs.readSync(descriptor, buffer, size, buffer.length - size, null)) > 0;) size += read;
    if (size > maximumAccountsFile) throw new Error(`it is larger than ${maximumAccountsFile >> 20} MiB`);
    let stored;
    try {
      stored = JSON.parse(buffer.subarray(0, size).toString('utf8'));
    } catch (error) {
      throw new Error(`it is not JSON: ${error.message}`);
    }
    if (!stored || stored.version !== accountsFileVersion || !Number.isSafeInteger(stored.nextUser) || stored.nextUser < 1
        || !Array.isArray(stored.accounts) || stored.accounts.length > maximumLastingTokens) {
      throw new Error('it is not a list of accounts');
    }
    accounts = stored.accounts.map((account) => {
      const user = account && account.user;
      if (!account || typeof account.token !== 'string' || !/^\S{1,200}$/.test(account.token) || !user
          || !isUserText(user.id) || !isUserText(user.name) || (user.email !== undefined && !isUserText(user.email))) {
        throw new Error('an account in it is damaged');
      }
      return { token: account.token, user: { id: user.id, name: user.name, email: user.email } };
    });
    nextUser = stored.nextUser;
  } catch (error) {
    warn(`${file} could not be read (${error.message}); starting with no accounts, and the next sign-in replaces it`);
    return;
  } finally {
    fs.closeSync(descriptor);
  }
  for (const { token, user } of accounts) {
    tokens.set(token, { answer: 'user', user, lasting: true });
    const number = /^u(\d+)$/.exec(user.id);
    if (number) nextUser = Math.max(nextUser, Number(number[1]) + 1);
  }
}

// Replaces the accounts file whole: a new file of this user's only, written out, then renamed
// over the old one, so that a crash leaves one or the other, never half of one.
function saveAccounts() {
  if (!accountsFile) return;
  const accounts = [...tokens].filter(([, entry]) => entry.lasting).slice(-maximumLastingTokens)
    .map(([token, entry]) => ({ token, user: entry.user }));
  const text = Buffer.from(JSON.stringify({ version: accountsFileVersion, nextUser, accounts }) + '\n');
  const folder = path.dirname(accountsFile);
  const temporary = path.join(folder, `.accounts-${crypto.randomBytes(8).toString('hex')}.tmp`);
  let descriptor;
  try {
    descriptor = fs.openSync(temporary, fs.constants.O_WRONLY | fs.constants.O_CREAT | fs.constants.O_EXCL | fs.constants.O_NOFOLLOW, 0o600);
    for (let written = 0; written < text.length;) written += fs.writeSync(descriptor, text, written);
    fs.fsyncSync(descriptor);
    fs.closeSync(descriptor);
    descriptor = undefined;
    fs.renameSync(temporary, accountsFile);
    const directory = fs.openSync(folder, fs.constants.O_RDONLY | fs.constants.O_DIRECTORY);
    try { fs.fsyncSync(directory); } finally { fs.closeSync(directory); }
  } catch (error) {
    if (descriptor !== undefined) fs.closeSync(descriptor);
    fs.rmSync(temporary, { force: true });
    warn(`the accounts could not be written to ${accountsFile} (${error.message}); this run's sign-ins last until it ends`);
  }
}

function newToken() {
  return 'kx_' + crypto.randomBytes(24).toString('hex');
}

function cors(response) {
  response.setHeader('Access-Control-Allow-Origin', '*');
  response.setHeader('Access-Control-Allow-Methods', 'GET, POST, OPTIONS');
  response.setHeader('Access-Control-Allow-Headers', 'Authorization, Content-Type');
  response.setHeader('Access-Control-Max-Age', '600');
}

function send(response, status, type, body) {
  response.writeHead(status, { 'Content-Type': type, 'Cache-Control': 'no-store' });
  response.end(body);
}
function json(response, status, value) {
  send(response, status, 'application/json', JSON.stringify(value));
}
function html(response, body) {
  send(response, 200, 'text/html; charset=utf-8', body);
}
function escapeHTML(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

function readBody(request, limit = maximumBody) {
  return new Promise((resolve, reject) => {
    const chunks = [];
    let size = 0;
    request.on('data', (chunk) => {
      size += chunk.length;
      if (size > limit) {
        reject(new Error('too large'));
        request.destroy();
        return;
      }
      chunks.push(chunk);
    });
    request.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
    request.on('error', reject);
  });
}
async function readJSON(request, limit) {
  const text = await readBody(request, limit);
  return text ? JSON.parse(text) : {};
}

function record(list, entry) {
  if (list.length >= maximumRecorded) list.shift();
  list.push(entry);
}

function tokenOf(request) {
  const header = request.headers['authorization'] || '';
  const match = /^Token (\S+)$/.exec(header);
  return match ? match[1] : null;
}
function userOf(request) {
  const entry = tokens.get(tokenOf(request));
  return entry && entry.answer === 'user' ? entry.user : null;
}

// The answers of "studio/me" for tokens registered with a misbehaving answer.
function meAnswer(response, entry) {
  switch (entry.answer) {
    case 'user': return json(response, 200, entry.user);
    case 'not-json': return send(response, 200, 'application/json', '<html>Service unavailable</html>');
    case 'huge': return send(response, 200, 'application/json', '{"id":"1","name":"' + 'x'.repeat(20 * 1024 * 1024) + '"}');
    case 'deep': return send(response, 200, 'application/json', '['.repeat(100000) + ']'.repeat(100000));
    case 'wrong-types': return json(response, 200, { id: 42, name: ['not', 'text'], email: false });
    case 'not-object': return json(response, 200, ['id', 'name']);
    case 'server-error': return json(response, 500, { error: 'internal' });
    case 'refused': return json(response, 401, { detail: 'Invalid token.' });
    default: return json(response, 401, { detail: 'Invalid token.' });
  }
}

function loginPage(mid) {
  return `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Sign in</title>
<style>
:root{color-scheme:light dark}
body{font:14px/1.4 system-ui,sans-serif;margin:0;padding:96px 40px 40px;background:#fff;color:#1d1d1f}
@media (prefers-color-scheme:dark){body{background:#151515;color:#f2f2f2}input{background:#222;color:#f2f2f2}}
h1{font-size:22px;margin:0 0 8px}p{margin:0 0 24px;opacity:.7}
input{width:100%;box-sizing:border-box;padding:10px 12px;font-size:15px;border:1px solid #9995;border-radius:6px;margin-bottom:12px}
button{width:100%;padding:10px;font-size:15px;border:0;border-radius:6px;background:#3d7cf5;color:#fff}
small{display:block;margin-top:24px;opacity:.55}
</style></head><body>
<h1>Sign in to Korvel X</h1>
<p>Stand-in back end on this machine: any name signs in.</p>
<form id="form"><input id="name" placeholder="Your name" value="Ada Lovelace" autocomplete="off">
<input id="email" placeholder="Email" value="ada@example.com" autocomplete="off">
<button id="signin" type="submit">Sign In</button></form>
<small>Machine: ${escapeHTML(mid || 'unknown')}</small>
<script>
document.getElementById('form').addEventListener('submit', function (event) {
  event.preventDefault();
  fetch('session', { method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ name: document.getElementById('name').value, email: document.getElementById('email').value,
                           mid: ${JSON.stringify(mid || '')} }) })
    .then(function (r) { return r.json(); })
    .then(function (session) { location.href = 'korvel-x://login?fut=' + encodeURIComponent(session.token); });
});
</script></body></html>`;
}

const dashboardPage = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>Account dashboard</title></head>
<body style="font:14px system-ui,sans-serif;padding:40px"><h1>Account dashboard</h1>
<p>The stand-in back end has no accounts to manage.</p></body></html>`;

function appcast(base) {
  const version = escapeHTML(appcastItem.version);
  const shortVersion = escapeHTML(appcastItem.shortVersion);
  return `<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Korvel X</title><link>${base}appcast.xml</link>
<item><title>Korvel X ${shortVersion}</title><sparkle:version>${version}</sparkle:version><sparkle:shortVersionString>${shortVersion}</sparkle:shortVersionString>
<enclosure url="${base}downloads/korvel-x-${shortVersion}.tar.gz" length="0" type="application/octet-stream"/></item>
</channel></rss>
`;
}

function conversationOf(user) {
  if (!conversations.has(user.id)) {
    conversations.set(user.id, {
      messages: [{ id: 1, from: 'support', text: 'Hi ' + user.name + '! How can we help?', time: new Date().toISOString() }],
      unread: 1,
    });
  }
  return conversations.get(user.id);
}

async function handle(request, response, base) {
  const url = new URL(request.url, base);
  const path = url.pathname;
  cors(response);
  if (request.method === 'OPTIONS') return send(response, 204, 'text/plain', '');

  if (request.method === 'GET' && path === '/login') {
    record(recorded.login, { mid: url.searchParams.get('mid') });
    return html(response, loginPage(url.searchParams.get('mid')));
  }
  if (request.method === 'POST' && path === '/session') {
    const body = await readJSON(request);
    const name = typeof body.name === 'string' && body.name.trim() ? body.name.trim().slice(0, 200) : 'Korvel User';
    const email = typeof body.email === 'string' ? body.email.trim().slice(0, 200) : undefined;
    const token = newToken();
    tokens.set(token, { answer: 'user', user: { id: 'u' + nextUser++, name, email }, lasting: true });
    saveAccounts();
    return json(response, 200, { token });
  }
  if (request.method === 'GET' && path === '/api/studio/me') {
    const entry = tokens.get(tokenOf(request));
    return entry ? meAnswer(response, entry) : json(response, 401, { detail: 'Invalid token.' });
  }
  if (request.method === 'GET' && path === '/detect.txt') return send(response, 200, 'text/plain', 'korvel-enterprise\n');
  if (request.method === 'POST' && (path === '/track' || path === '/collect')) {
    const body = await readJSON(request);
    record(recorded[path.slice(1)], body);
    return send(response, 204, 'text/plain', '');
  }
  if (request.method === 'GET' && path === '/appcast.xml') return send(response, 200, 'application/rss+xml', appcast(base));
  if (request.method === 'GET' && path === '/dashboard') return html(response, dashboardPage);

  // Crash reports: "<root>api/<project>/store/" with the public key of the DSN.
  const store = /^\/api\/(\d+)\/store\/$/.exec(path);
  if (store && request.method === 'POST') {
    const auth = request.headers['x-sentry-auth'] || '';
    const key = /sentry_key=([0-9a-f]{32})/.exec(auth);
    if (!key) return json(response, 401, { detail: 'No key.' });
    const event = await readJSON(request, maximumCrashReport);
    if (!event || typeof event !== 'object' || typeof event.event_id !== 'string') return json(response, 400, { detail: 'No event.' });
    record(recorded.crash, { project: store[1], key: key[1], event });
    return json(response, 200, { id: event.event_id });
  }

  if (path === '/api/messenger/conversation' || path === '/api/messenger/read') {
    const user = userOf(request);
    if (!user) return json(response, 401, { detail: 'Invalid token.' });
    const conversation = conversationOf(user);
    if (request.method === 'POST' && path.endsWith('/conversation')) {
      const body = await readJSON(request);
      if (typeof body.text !== 'string' || !body.text.trim()) return json(response, 400, { detail: 'No text.' });
      const time = new Date().toISOString();
      conversation.messages.push({ id: conversation.messages.length + 1, from: 'user', text: body.text.slice(0, 4000), time });
      conversation.messages.push({ id: conversation.messages.length + 1, from: 'support', text: 'Thanks, we will get back to you soon.', time });
      conversation.unread += 1;
    } else if (request.method === 'POST') {
      conversation.unread = 0;
    } else if (request.method !== 'GET') {
      return json(response, 405, { detail: 'Method not allowed.' });
    }
    return json(response, 200, conversation);
  }

  // For tests: what was recorded, and tokens with chosen answers.
  if (request.method === 'GET' && path.startsWith('/_recorded/')) {
    const list = recorded[path.slice('/_recorded/'.length)];
    return list ? json(response, 200, list) : json(response, 404, {});
  }
  if (request.method === 'POST' && path === '/_recorded/clear') {
    for (const list of Object.values(recorded)) list.length = 0;
    return json(response, 200, {});
  }
  if (request.method === 'POST' && path === '/_test/appcast') {
    const body = await readJSON(request);
    if (typeof body.version !== 'string' || typeof body.shortVersion !== 'string') return json(response, 400, { detail: 'No version.' });
    appcastItem = { version: body.version, shortVersion: body.shortVersion };
    return json(response, 200, {});
  }
  if (request.method === 'POST' && path === '/_test/tokens') {
    const body = await readJSON(request);
    if (typeof body.token !== 'string' || !body.token) return json(response, 400, { detail: 'No token.' });
    const user = body.user && typeof body.user === 'object' ? body.user : { id: 'u' + nextUser++, name: 'Test User' };
    const replaced = tokens.get(body.token);
    tokens.set(body.token, { answer: typeof body.answer === 'string' ? body.answer : 'user', user });
    if (replaced && replaced.lasting) saveAccounts();
    return json(response, 200, {});
  }
  return json(response, 404, { detail: 'Not found.' });
}

const accountsFolderPath = args.includes('--fresh') ? null : accountsFolder();
const accountsFile = accountsFolderPath && path.join(accountsFolderPath, 'accounts.json');
if (accountsFile) loadAccounts(accountsFile);

const server = http.createServer((request, response) => {
  const base = `http://${host}:${server.address().port}/`;
  handle(request, response, base).catch(() => {
    if (!response.headersSent) json(response, 400, { detail: 'Bad request.' });
    else response.destroy();
  });
});
server.listen(port, host, () => {
  process.stdout.write(JSON.stringify({ url: `http://${host}:${server.address().port}/` }) + '\n');
});
server.on('error', (error) => {
  console.error('standin: ' + error.message);
  process.exit(1);
});
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
// Ends with the program that started it, which holds standard input open.
if (args.includes('--exit-with-stdin')) {
  process.stdin.on('end', () => process.exit(0));
  process.stdin.resume();
}
