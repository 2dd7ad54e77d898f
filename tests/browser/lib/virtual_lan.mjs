// A LAN of network namespaces for tests with several real servers: a bridge br0 in the test's
// own (private) namespace, holding the address the browser and the clients use, and one
// namespace per host with a veth eth0 on that bridge, lo up and a default route via eth0, so
// that broadcasts to 255.255.255.255 reach every host. The namespaces carry this process's pid
// in their names; destroy() removes them, and so does the exit of this process when a test
// never gets that far. Namespaces of test processes that died without either are swept away
// by the next create().
//
// Needs real root: `ip netns add` mounts under /run/netns, which a user namespace cannot.

import {execFileSync} from 'node:child_process';
import fs from 'node:fs';

import {assertPrivateNetwork} from './fake_server.mjs';

const BRIDGE = 'br0';

function ip(...args) {
    execFileSync('ip', args, {stdio: ['ignore', 'ignore', 'pipe']});
}

// Whether this process may make namespaces: root of the machine, not only of a user namespace.
export function canCreateLan() {
    try {
        const map = fs.readFileSync('/proc/self/uid_map', 'utf8').trim().split(/\s+/);
        return process.getuid() === 0 && map[0] === '0' && map[1] === '0' &&
            map[2] === '4294967295';
    } catch {
        return false;
    }
}

// A killed test leaves its namespaces (and the servers in them) behind.
function sweepNamespacesOfDeadTests() {
    let names = [];
    try {
        names = fs.readdirSync('/run/netns');
    } catch {
        return;
    }
    for (const name of names) {
        const owner = /^plxb-(\d+)-h\d+$/.exec(name);
        if (!owner || fs.existsSync(`/proc/${owner[1]}`)) {
            continue;
        }
        try {
            const pids = execFileSync('ip', ['netns', 'pids', name], {encoding: 'utf8'}).split(/\s+/).filter(Boolean);
            for (const pid of pids) {
                process.kill(Number(pid), 'SIGKILL');
            }
            ip('netns', 'del', name);
        } catch {
            // Another test may be sweeping it at the same time.
        }
    }
}

export class VirtualLan {
    // Hosts are subnet.1 ... subnet.hostCount; the test's namespace is subnet.ownHost.
    constructor(hostCount, {subnet = '10.77.0', ownHost = 100} = {}) {
        this.hostCount = hostCount;
        this.subnet = subnet;
        this.ownAddress = `${subnet}.${ownHost}`;
        this.prefix = `plxb-${process.pid}`;
        this.created = [];
        this.removeAtExit = () => this.destroy();
    }

    // host is 1-based.
    namespace(host) {
        return `${this.prefix}-h${host}`;
    }

    address(host) {
        return `${this.subnet}.${host}`;
    }

    create() {
        assertPrivateNetwork();
        sweepNamespacesOfDeadTests();
        process.once('exit', this.removeAtExit);
        try {
            ip('link', 'add', BRIDGE, 'type', 'bridge');
            this.bridge = true;
            ip('addr', 'add', `${this.ownAddress}/24`, 'dev', BRIDGE);
            ip('link', 'set', BRIDGE, 'up');
            for (let host = 1; host <= this.hostCount; host++) {
                this.addHost(host);
            }
            this.pinNeighbours();
        } catch (error) {
            this.destroy();
            throw new Error(`cannot build the virtual LAN: ${error.stderr ?? error.message}`);
        }
        return this;
    }

    // All namespaces of one kernel resolve addresses into one neighbour table of at most
    // gc_thresh3 (1,024) learned entries. Fifty hosts that all answer each other need about
    // 2,500; past the limit a new neighbour cannot be resolved, datagrams to it are dropped and
    // the kernel logs "neighbor table overflow". Real machines each have a table of their own:
    // permanent entries, which do not count against the limit, stand in for that.
    pinNeighbours() {
        const macOf = (...args) => JSON.parse(execFileSync('ip', ['-j', ...args],
            {encoding: 'utf8'}))[0].address;
        const stations = [{address: this.ownAddress, mac: macOf('link', 'show', BRIDGE)}];
        for (let host = 1; host <= this.hostCount; host++) {
            stations.push({address: this.address(host),
                mac: macOf('-n', this.namespace(host), 'link', 'show', 'eth0')});
        }
        const pin = (station, nsArgs, device) => {
            const table = stations.filter((other) => other !== station).map((other) =>
                `neigh replace ${other.address} lladdr ${other.mac} dev ${device} nud permanent\n`);
            execFileSync('ip', [...nsArgs, '-batch', '-'],
                {input: table.join(''), stdio: ['pipe', 'ignore', 'pipe']});
        };
        pin(stations[0], [], BRIDGE);
        for (let host = 1; host <= this.hostCount; host++) {
            pin(stations[host], ['-n', this.namespace(host)], 'eth0');
        }
    }

    addHost(host) {
        const ns = this.namespace(host);
        const veth = `veth-h${host}`;
        ip('netns', 'add', ns);
        this.created.push(ns);
        ip('link', 'add', veth, 'type', 'veth', 'peer', 'name', 'eth0', 'netns', ns);
        ip('link', 'set', veth, 'master', BRIDGE);
        ip('link', 'set', veth, 'up');
        ip('-n', ns, 'link', 'set', 'lo', 'up');
        ip('-n', ns, 'addr', 'add', `${this.address(host)}/24`, 'dev', 'eth0');
        ip('-n', ns, 'link', 'set', 'eth0', 'up');
        ip('-n', ns, 'route', 'add', 'default', 'dev', 'eth0');
    }

    // Ends whatever still runs in the hosts (only processes this test started live there),
    // then removes the hosts and the bridge. Safe to call more than once.
    destroy() {
        process.removeListener('exit', this.removeAtExit);
        for (const ns of this.created.splice(0)) {
            try {
                const pids = execFileSync('ip', ['netns', 'pids', ns], {encoding: 'utf8'})
                    .split(/\s+/).filter(Boolean).map(Number);
                for (const pid of pids) {
                    try {
                        process.kill(pid, 'SIGKILL');
                    } catch {
                        // already gone
                    }
                }
            } catch {
                // the namespace is gone or never came up
            }
            try {
                // Removing the namespace takes its end of the veth, and so the veth, with it.
                ip('netns', 'del', ns);
            } catch {
                // already removed
            }
        }
        if (this.bridge) {
            this.bridge = false;
            try {
                ip('link', 'del', BRIDGE);
            } catch {
                // already removed
            }
        }
    }
}
