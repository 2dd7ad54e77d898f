// A stand-in for the HTTP status port of one Plexmill server: the embedded resources (the
// task-manager page and the images, read from the source tree) and the two JSON documents,
// with the headers the real server sends. Bind each one to its own loopback address on port
// 8080 (127.0.0.1, 127.0.0.2, ...) inside a private network namespace.

import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {renderServerList, renderStatus, statusDocument} from './status_document.mjs';

export const STATUS_PORT = 8080;

const RESOURCES = path.resolve(path.dirname(fileURLToPath(import.meta.url)),
    '../../../service/http/resources');
const STATIC_RESOURCES = {
    '/taskmanager': ['taskmanager.html', 'text/html'],
    '/plexmon.ico': ['plexmon.ico', 'image/x-icon'],
    '/quorvex.png': ['quorvex.png', 'image/png'],
    '/quorvex_white.png': ['quorvex_white.png', 'image/png'],
};

// Servers must never be reachable from the machine's network.
export function assertPrivateNetwork() {
    let own;
    let root;
    try {
        own = fs.readlinkSync('/proc/self/ns/net');
        root = fs.readlinkSync('/proc/1/ns/net');
    } catch {
        return;  // cannot compare; the entry script starts us inside unshare -n
    }
    if (own === root) {
        throw new Error('refusing to start servers in the root network namespace: ' +
            'run the browser tests through tests/browser/run');
    }
}

export class FakeServer {
    // address: the loopback address to bind; status: parts for statusDocument().
    constructor(address, status = {}) {
        this.address = address;
        this.status = statusDocument(status);
        // The servers.json entries; null answers 404, as a server without the list would.
        this.serverList = [{address, revision: 42604, http: true}];
        this.serverListCache = 'public, max-age=3';
        // 'ok', 'error' (HTTP 500), or 'garbage' (a 200 answer that is not JSON).
        this.answer = 'ok';
        this.statusRequests = 0;
        this.server = http.createServer((request, response) => this.handle(request, response));
    }

    get url() {
        return `http://${this.address}:${STATUS_PORT}`;
    }

    async start() {
        assertPrivateNetwork();
        await new Promise((resolve, reject) => {
            this.server.once('error', reject);
            this.server.listen(STATUS_PORT, this.address, resolve);
        });
        return this;
    }

    // Stops listening and drops open connections: the server is gone from the network.
    async stop() {
        if (!this.server.listening) {
            return;
        }
        const closed = new Promise((resolve) => this.server.close(resolve));
        this.server.closeAllConnections();
        await closed;
    }

    handle(request, response) {
        const resource = STATIC_RESOURCES[request.url];
        if (request.method !== 'GET') {
            request.socket.destroy();
        } else if (resource) {
            const body = fs.readFileSync(path.join(RESOURCES, resource[0]));
            response.writeHead(200, {'Content-Type': resource[1],
                'Cache-Control': 'public, max-age=3600'});
            response.end(body);
        } else if (request.url === '/json/status.json') {
            this.statusRequests++;
            this.sendStatus(response);
        } else if (request.url === '/json/servers.json' && this.serverList !== null) {
            this.sendJson(response, renderServerList(this.serverList), this.serverListCache);
        } else {
            response.writeHead(404);
            response.end();
        }
    }

    sendStatus(response) {
        if (this.answer === 'error') {
            response.writeHead(500);
            response.end();
        } else if (this.answer === 'garbage') {
            this.sendJson(response, '<html>not a status</html>', 'private, max-age=0, no-cache');
        } else {
            this.sendJson(response, renderStatus(this.status), 'private, max-age=0, no-cache');
        }
    }

    sendJson(response, body, cache) {
        response.writeHead(200, {
            'Content-Type': 'application/json; UTF-8',
            'Access-Control-Allow-Origin': '*',
            'Access-Control-Allow-Methods': 'GET',
            'Cache-Control': cache,
        });
        response.end(body + '\r\n');
    }
}

// Starts one fake server per [address, status parts]; every one lists all of them.
export async function startServers(specs) {
    const servers = specs.map(([address, status]) => new FakeServer(address, status));
    const list = servers.map((server) => ({address: server.address, revision: 42604, http: true}));
    for (const server of servers) {
        server.serverList = list;
        await server.start();
    }
    return servers;
}

export async function stopServers(servers) {
    await Promise.all(servers.map((server) => server.stop()));
}
