// Discovery and the network task manager on a virtual LAN of up to 50 real servers, each in a
// network namespace of its own (tests/browser/lib/virtual_lan.mjs), measured as the LAN grows
// from 1 server (the baseline, in the same run) to 10 and 50:
//   - answers: a request-advertise broadcast from the bridge, the time to the first and the
//     last answer and how many came;
//   - learning: how many servers each lists 10 s after the last one started (the first hears
//     the others' start-up announcements, later ones the answers to their own first request),
//     and how long the first took to hear them all;
//   - the task-manager page served by the first server in Chromium: the page load (navigation
//     to the first complete report) and one poll of every server (buildReport, synchronous
//     requests one after the other as the page makes them), per server polled.
// Run through bench/lan_bench.sh, which makes the private namespace this needs.

import dgram from 'node:dgram';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

import {launchChromium, newPage} from '../tests/browser/lib/browser.mjs';
import {Plexmilld, until} from '../tests/browser/lib/plexmilld.mjs';
import {driveClock} from '../tests/browser/lib/task_manager.mjs';
import {canCreateLan, VirtualLan} from '../tests/browser/lib/virtual_lan.mjs';

const STEPS = [1, 10, 50];
const POLLS = 15;
const SETTLE_MS = 10000;
const REQUEST = 'http://tornwell.example/namespace/tornwellpmd/request-advertise';
const ADVERTISE = 'http://tornwell.example/namespace/tornwellpmd/advertise';

function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted[Math.floor(sorted.length / 2)];
}

// Broadcasts one request-advertise on the LAN and collects the answers for `windowMs`.
async function collectAnswers(lan, windowMs = 1500) {
    const socket = dgram.createSocket('udp4');
    await new Promise((resolve) => socket.bind(0, lan.ownAddress, resolve));
    socket.setBroadcast(true);
    const answers = new Map();
    let sentAt = 0;
    socket.on('message', (message, sender) => {
        if (message.toString('latin1').startsWith(`${ADVERTISE}\n`) && !answers.has(sender.address)) {
            answers.set(sender.address, performance.now() - sentAt);
        }
    });
    sentAt = performance.now();
    socket.send(REQUEST, 7388, `${lan.subnet}.255`);
    await new Promise((resolve) => setTimeout(resolve, windowMs));
    socket.close();
    const times = [...answers.values()];
    return {count: answers.size, first: Math.min(...times), last: Math.max(...times)};
}

// The number of servers it lists; -1 when the request failed. The status port closes a
// connection after 15 ms without a request, and fetch may send on one just being closed.
async function heardBy(server) {
    try {
        const response = await fetch(`${server.url}/json/servers.json`);
        return (await response.json()).servers.length;
    } catch {
        return -1;
    }
}

async function measurePage(browser, server, count) {
    const page = await newPage(browser);
    const started = performance.now();
    await page.goto(`${server.url}/taskmanager`);
    await page.waitForFunction((expected) => {
        const table = document.getElementById('serverTable');
        return table && table.rows.length - 1 >= expected;
    }, count, {timeout: 60000});
    const load = performance.now() - started;
    await driveClock(page);
    const polls = [];
    for (let i = 0; i < POLLS; i++) {
        // Spaced as the page's own refreshes are, past the status port's 15 ms wait for a
        // next request: every poll finds its connections closed, as it does once a second.
        await new Promise((resolve) => setTimeout(resolve, 100));
        polls.push(await page.evaluate(() => {
            const start = performance.now();
            buildReport();
            return performance.now() - start;
        }));
    }
    const rows = await page.evaluate(() => document.getElementById('serverTable').rows.length - 1);
    const errors = page.errors.length;
    await page.context().close();
    return {load, poll: median(polls), rows, errors};
}

async function main() {
    if (!canCreateLan()) {
        throw new Error('lan_bench: needs real root to make network namespaces');
    }
    const lan = new VirtualLan(STEPS[STEPS.length - 1]).create();
    const root = fs.mkdtempSync(path.join(os.tmpdir(), 'plexmill-lan-bench-'));
    const procStat = path.join(root, 'proc_stat');
    fs.writeFileSync(procStat, 'cpu  100 0 100 100000 0 0 0 0 0 0\n');
    const servers = [];
    let browser;
    const rows = [];
    try {
        browser = await launchChromium();
        for (const count of STEPS) {
            while (servers.length < count) {
                const host = servers.length + 1;
                servers.push(await new Plexmilld(['--http', '--rating', '5000'], {},
                    {namespace: lan.namespace(host), address: lan.address(host),
                        hostname: `server${String(host).padStart(2, '0')}`,
                        env: {PLEXMILL_PROC_STAT: procStat}}).start());
            }
            // Datagrams get lost on a busy LAN, and the servers ask again only every 300 s:
            // what each has heard after a settling time is the figure, not a wait for all.
            const started = performance.now();
            let firstHeardAll = NaN;
            await until(async () => (await heardBy(servers[0])) === count,
                `the first server to hear all ${count}`, SETTLE_MS).then(() => {
                firstHeardAll = performance.now() - started;
            }, () => {});
            await new Promise((resolve) => setTimeout(resolve,
                Math.max(0, SETTLE_MS - (performance.now() - started))));
            const heard = await Promise.all(servers.map(heardBy));
            const answers = await collectAnswers(lan);
            const page = await measurePage(browser, servers[0], heard[0]);
            rows.push({count, firstHeardAll, heard, answers, page});
        }
    } finally {
        await browser?.close();
        for (const server of servers) {
            await server.stop();
        }
        lan.destroy();
        fs.rmSync(root, {recursive: true, force: true});
    }

    const base = rows[0];
    const fixed = (value, digits = 1) => value.toFixed(digits);
    console.log('servers | answers to one broadcast: count, first ms, last ms | heard after ' +
        `${SETTLE_MS / 1000} s: by the first (ms until it heard all), least, mean | page load ms | ` +
        'poll ms, per server ms (ratio to 1 server)');
    for (const row of rows) {
        const perServer = row.page.poll / row.heard[0];
        const mean = row.heard.reduce((sum, value) => sum + value, 0) / row.heard.length;
        console.log(`${String(row.count).padStart(7)} | ${String(row.answers.count).padStart(3)}, ` +
            `${fixed(row.answers.first).padStart(6)}, ${fixed(row.answers.last).padStart(6)} | ` +
            `${String(row.heard[0]).padStart(3)} (${fixed(row.firstHeardAll, 0)}), ` +
            `${String(Math.min(...row.heard)).padStart(3)}, ${fixed(mean).padStart(5)} | ` +
            `${fixed(row.page.load).padStart(7)} | ${fixed(row.page.poll).padStart(7)}, ` +
            `${fixed(perServer, 2).padStart(6)} (${fixed(perServer / base.page.poll, 2)})` +
            `${row.page.rows !== row.heard[0] ? `  [${row.page.rows} rows]` : ''}` +
            `${row.page.errors ? `  [${row.page.errors} script errors]` : ''}`);
    }
}

await main();
