// A real plexmilld for the page tests: started inside the suite's private network namespace
// with a home, registry files and logs of its own, stopped with Ctrl+C as a console user would.
// The program is $PLEXMILLD, else the release build of this checkout.

import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {assertPrivateNetwork} from './fake_server.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
export const PLEXMILLD = process.env.PLEXMILLD ?? path.join(ROOT, 'build/release/service/plexmilld');

async function until(condition, what, deadlineMs = 20000) {
    const end = Date.now() + deadlineMs;
    while (!(await condition())) {
        if (Date.now() > end) {
            throw new Error(`plexmilld: gave up waiting for ${what}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

function accepts(port) {
    return new Promise((resolve) => {
        const socket = net.connect(port, '127.0.0.1');
        socket.once('connect', () => {
            socket.destroy();
            resolve(true);
        });
        socket.once('error', () => resolve(false));
    });
}

export class Plexmilld {
    // `files` maps names to contents written into the server's home before it starts; an
    // argument "{home}/name" refers to one of them.
    constructor(args = [], files = {}) {
        this.home = fs.mkdtempSync(path.join(os.tmpdir(), 'plexmilld-browser-'));
        for (const [name, contents] of Object.entries(files)) {
            fs.writeFileSync(path.join(this.home, name), contents);
        }
        this.args = args.map((arg) => arg.replaceAll('{home}', this.home));
        this.output = '';
    }

    get url() {
        return 'http://127.0.0.1:8080';
    }

    async start() {
        assertPrivateNetwork();
        if (!fs.existsSync(PLEXMILLD)) {
            throw new Error(`${PLEXMILLD} is missing: build it, or set PLEXMILLD`);
        }
        fs.mkdirSync(path.join(this.home, 'tmp'));
        const home = this.home;
        this.child = spawn(PLEXMILLD, ['--console', ...this.args], {
            env: {...process.env, HOME: home, TMPDIR: path.join(home, 'tmp'),
                XDG_CONFIG_HOME: path.join(home, 'config'), XDG_DATA_HOME: path.join(home, 'data'),
                PLEXMILL_MACHINE_REGISTRY: path.join(home, 'machine.reg'),
                PLEXMILL_USER_REGISTRY: path.join(home, 'user.reg'),
                PLEXMILL_EVENT_LOG: path.join(home, 'events.log')},
            stdio: ['ignore', 'pipe', 'pipe'],
        });
        this.exited = new Promise((resolve) => this.child.once('exit', resolve));
        for (const stream of [this.child.stdout, this.child.stderr]) {
            stream.setEncoding('utf8');
            stream.on('data', (text) => {
                this.output += text;
            });
        }
        await until(() => this.output.includes('Quorvex Plexmill now ready.'), 'the start');
        await until(() => accepts(8080), 'the status port');
        return this;
    }

    // Ctrl+C, then the exit code.
    async stop() {
        if (this.child && this.child.exitCode === null) {
            this.child.kill('SIGINT');
            await this.exited;
        }
        fs.rmSync(this.home, {recursive: true, force: true});
        return this.child?.exitCode;
    }

    // Waits until the server lists itself among the servers it heard (its own announcement).
    async waitUntilListed() {
        await until(async () => {
            const response = await fetch(`${this.url}/json/servers.json`);
            return (await response.json()).servers.length > 0;
        }, 'its own announcement');
    }
}
