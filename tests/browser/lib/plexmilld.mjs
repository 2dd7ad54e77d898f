// A real plexmilld for the page tests: started inside the suite's private network namespace,
// or in one host of a VirtualLan, with a home, registry files and logs of its own, stopped with
// Ctrl+C as a console user would. The program is $PLEXMILLD, else the release build of this
// checkout.

import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {assertPrivateNetwork} from './fake_server.mjs';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
export const PLEXMILLD = process.env.PLEXMILLD ?? path.join(ROOT, 'build/release/service/plexmilld');
// The CAM kernel of the tests (tests/kernels/test_kernel.cpp), from the same build.
const TEST_KERNEL = path.resolve(path.dirname(PLEXMILLD), '../tests/test_kernel');

export async function until(condition, what, deadlineMs = 20000) {
    const end = Date.now() + deadlineMs;
    while (!(await condition())) {
        if (Date.now() > end) {
            throw new Error(`plexmilld: gave up waiting for ${what}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

function accepts(port, address) {
    return new Promise((resolve) => {
        const socket = net.connect(port, address);
        socket.once('connect', () => {
            socket.destroy();
            resolve(true);
        });
        socket.once('error', () => resolve(false));
    });
}

// The variables that give a plexmilld process a home, registry files and an event log of its
// own instead of the user's.
function ownHome(home) {
    return {HOME: home, TMPDIR: path.join(home, 'tmp'),
        XDG_CONFIG_HOME: path.join(home, 'config'), XDG_DATA_HOME: path.join(home, 'data'),
        PLEXMILL_MACHINE_REGISTRY: path.join(home, 'machine.reg'),
        PLEXMILL_USER_REGISTRY: path.join(home, 'user.reg'),
        PLEXMILL_EVENT_LOG: path.join(home, 'events.log')};
}

// A fresh home holding `files` (name: contents).
function makeHome(files) {
    const home = fs.mkdtempSync(path.join(os.tmpdir(), 'plexmilld-browser-'));
    fs.mkdirSync(path.join(home, 'tmp'));
    for (const [name, contents] of Object.entries(files)) {
        fs.writeFileSync(path.join(home, name), contents);
    }
    return home;
}

// Starts program as holder.child with its standard output and error collected in
// holder.output; holder.exited resolves with the exit code, or the signal that ended it.
function spawnInto(holder, program, args, options) {
    holder.output = '';
    holder.child = spawn(program, args, {...options, stdio: ['ignore', 'pipe', 'pipe']});
    holder.exited = new Promise((resolve) => holder.child.once('exit',
        (code, signal) => resolve(code ?? signal)));
    for (const stream of [holder.child.stdout, holder.child.stderr]) {
        stream.setEncoding('utf8');
        stream.on('data', (text) => {
            holder.output += text;
        });
    }
}

export class Plexmilld {
    // `files` maps names to contents written into the server's home before it starts; an
    // argument "{home}/name" refers to one of them. Options for a host of a VirtualLan:
    // `namespace` (the host's network namespace), `address` (its address, where the status
    // port is reached), `hostname` (the machine name the server sees, in a UTS namespace of
    // its own); `env` adds variables.
    constructor(args = [], files = {},
        {namespace, address = '127.0.0.1', hostname, env = {}} = {}) {
        this.home = makeHome(files);
        this.args = args.map((arg) => arg.replaceAll('{home}', this.home));
        this.namespace = namespace;
        this.address = address;
        this.hostname = hostname;
        this.env = env;
        this.output = '';
    }

    get url() {
        return `http://${this.address}:8080`;
    }

    // The command line; each wrapper execs the next, so the child's pid ends up plexmilld's
    // own and Ctrl+C reaches it.
    command() {
        let command = [PLEXMILLD, '--console', ...this.args];
        if (this.hostname !== undefined) {
            command = ['unshare', '--uts', 'sh', '-c', 'hostname "$0" && exec "$@"',
                this.hostname, ...command];
        }
        if (this.namespace !== undefined) {
            command = ['ip', 'netns', 'exec', this.namespace, ...command];
        }
        return command;
    }

    async start() {
        assertPrivateNetwork();
        if (!fs.existsSync(PLEXMILLD)) {
            throw new Error(`${PLEXMILLD} is missing: build it, or set PLEXMILLD`);
        }
        const [program, ...args] = this.command();
        spawnInto(this, program, args, {env: {...process.env, ...ownHome(this.home), ...this.env}});
        await until(() => this.output.includes('Quorvex Plexmill now ready.'), 'the start');
        await until(() => accepts(8080, this.address), 'the status port');
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

    // The addresses in the server's "/json/servers.json".
    async heardServers() {
        const response = await fetch(`${this.url}/json/servers.json`);
        return (await response.json()).servers.map((server) => server.address);
    }

    // Waits until the server lists every one of these addresses among the servers it heard;
    // without any, until it lists one (its own announcement).
    async waitUntilListed(...addresses) {
        await until(async () => {
            const heard = await this.heardServers();
            return addresses.length ? addresses.every((address) => heard.includes(address)) :
                heard.length > 0;
        }, `the announcements of ${addresses.join(', ') || 'itself'}`);
    }
}

// The test kernel installed for --kernel (`kernel`: millcore.exe beside an empty millcore.dll)
// and an idle processor for PLEXMILL_PROC_STAT (`procStat`), so that a busy test machine does
// not make the servers refuse work; all under `root`, which the caller removes.
export function installTestKernel() {
    if (!fs.existsSync(TEST_KERNEL)) {
        throw new Error(`${TEST_KERNEL} is missing: build the release tree`);
    }
    const root = fs.mkdtempSync(path.join(os.tmpdir(), 'plexmilld-kernel-'));
    const kernel = path.join(root, 'kernel');
    fs.mkdirSync(kernel);
    fs.copyFileSync(TEST_KERNEL, path.join(kernel, 'millcore.exe'));
    fs.chmodSync(path.join(kernel, 'millcore.exe'), 0o755);
    fs.writeFileSync(path.join(kernel, 'millcore.dll'), '');
    const procStat = path.join(root, 'proc_stat');
    fs.writeFileSync(procStat, 'cpu  100 0 100 100000 0 0 0 0 0 0\n');
    return {root, kernel, procStat};
}

// A client run of plexmilld (--connect, --status, ...) from the test's namespace, with a home
// of its own that holds `files` ("{home}/name" in an argument); it starts at once. stop() ends
// it with SIGTERM if it still runs and returns its exit code, or the signal that ended it.
export class PlexmillClient {
    constructor(args, files = {}) {
        assertPrivateNetwork();
        this.home = makeHome(files);
        spawnInto(this, PLEXMILLD, args.map((arg) => arg.replaceAll('{home}', this.home)),
            {cwd: this.home, env: {...process.env, ...ownHome(this.home)}});
    }

    async stop() {
        if (this.child.exitCode === null && this.child.signalCode === null) {
            this.child.kill('SIGTERM');
        }
        const result = await this.exited;
        fs.rmSync(this.home, {recursive: true, force: true});
        return result;
    }
}
