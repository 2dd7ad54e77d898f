// The task-manager page against three real servers on a virtual LAN: each plexmilld in a
// network namespace of its own with its own machine name, found through the servers' own
// broadcasts, one of them running a job; the browser stays on the bridge in the test's
// namespace. The page's clock is driven by the test once the LAN is up.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import {after, before, describe, test} from 'node:test';

import {launchChromium, screenshot} from './lib/browser.mjs';
import {installTestKernel, PlexmillClient, Plexmilld, until} from './lib/plexmilld.mjs';
import {driveClock, openTaskManager, serverRows, sessionRows, summary} from './lib/task_manager.mjs';
import {canCreateLan, VirtualLan} from './lib/virtual_lan.mjs';

// Host number and machine name, started in this order: not the order of the names.
const HOSTS = [[1, 'charlie'], [2, 'alpha'], [3, 'bravo']];
const VERSION = '14.1.0 build 42604';

async function statusOf(server) {
    return (await fetch(`${server.url}/json/status.json`)).json();
}

// The servers table's server rows (not description rows) as {name, href, className, cells}.
function serverLinks(page) {
    return page.evaluate(() => Array.from(document.querySelectorAll('#serverTable a'),
        (a) => {
            const row = a.closest('tr');
            return {name: a.textContent, href: a.getAttribute('href'), className: row.className,
                cells: Array.from(row.cells, (cell) => cell.textContent)};
        }));
}

describe('task manager over three real servers on a LAN',
    {skip: !canCreateLan() && 'needs root to make network namespaces'}, () => {
        let lan;
        let kernel;
        const servers = {};
        let client;
        let browser;
        let page;
        let clock;

        before(async () => {
            lan = new VirtualLan(HOSTS.length).create();
            kernel = installTestKernel();
            const heard = [];
            // One after the other: a server learns of the others from their start-up
            // announcements, so the first one started hears all three.
            for (const [host, name] of HOSTS) {
                servers[name] = new Plexmilld(['--http', '--rating', '5000', '--kernel',
                    kernel.kernel], {}, {namespace: lan.namespace(host),
                    address: lan.address(host), hostname: name,
                    env: {PLEXMILL_PROC_STAT: kernel.procStat}});
                await servers[name].start();
                heard.push(lan.address(host));
                await servers.charlie.waitUntilListed(...heard);
            }
            client = new PlexmillClient(['--connect', servers.bravo.address, '{home}/job',
                '{home}/result'], {job: 'silent 120\n'});
            await until(async () => (await statusOf(servers.bravo)).currentSessions.length === 1,
                'the session on bravo');
            browser = await launchChromium();
            page = await openTaskManager(browser, servers.charlie.url);
            clock = await driveClock(page);
        });

        after(async () => {
            await browser?.close();
            await client?.stop();
            const exitCodes = {};
            for (const [name, server] of Object.entries(servers)) {
                exitCodes[name] = await server.stop();
            }
            lan?.destroy();
            if (kernel) {
                fs.rmSync(kernel.root, {recursive: true, force: true});
            }
            for (const [name, code] of Object.entries(exitCodes)) {
                assert.equal(code, 0, `${name}: ${servers[name].output}`);
            }
        });

        test('each server reports the name of its own host', async () => {
            for (const [host, name] of HOSTS) {
                const status = await statusOf(servers[name]);
                assert.equal(status.system.name, name, `10.77.0.${host}`);
            }
            assert.deepEqual((await servers.charlie.heardServers()).sort(),
                ['10.77.0.1', '10.77.0.2', '10.77.0.3']);
        });

        test('the page on charlie lists all three, sorted by name, and bravo\'s session',
            async () => {
                await clock.at(0);
                const rows = await serverLinks(page);
                assert.deepEqual(rows.map((row) => [row.name, row.href]), [
                    ['alpha', 'http://10.77.0.2:8080'],
                    ['bravo', 'http://10.77.0.3:8080'],
                    ['charlie', 'http://10.77.0.1:8080']]);
                assert.deepEqual(rows.map((row) => row.className), ['even', 'odd', 'even']);
                for (const row of rows) {
                    assert.equal(row.cells[0], row.name);  // all fresh: no age
                    assert.deepEqual(row.cells.slice(1, 5), ['5000', 'Linux', VERSION,
                        String(os.availableParallelism())]);
                    assert.equal(row.cells[8], 'Available');
                    assert.equal(row.cells[13], 'None');
                }
                assert.equal(await page.textContent('#tasks p'), 'Servers: #3');

                const sessions = await sessionRows(page);
                assert.equal(sessions.length, 1, JSON.stringify(sessions));
                const [server, host, user, application, , completed] = sessions[0].cells;
                assert.equal(sessions[0].className, 'running');
                assert.deepEqual([server, host, user, application, completed],
                    ['bravo', lan.ownAddress, os.userInfo().username, `Quorvex Plexmill ${VERSION}`,
                        'Running']);
                assert.equal(sessions[0].cells[11], 'Running');
                assert.equal(await page.getAttribute('#sessionTable a', 'href'),
                    'http://10.77.0.3:8080');

                const values = await summary(page);
                assert.equal(values['Processors'], String(3 * os.availableParallelism()));
                assert.equal(values['Open sessions'], '1');
                assert.equal(values['Total sessions'], '1');
                assert.deepEqual(page.errors, []);
                await screenshot(page, 'taskmanager-lan.png');
            });

        test('a server stopped with Ctrl+C turns red after 10 s and is gone 5 minutes after ' +
            'its last answer, its session with it', async () => {
            await clock.at(1000);  // bravo's last answer
            assert.equal(await servers.bravo.stop(), 0, servers.bravo.output);
            const bravo = async () => (await serverLinks(page)).find((row) => row.name === 'bravo');

            await clock.at(11000);
            let row = await bravo();
            assert.equal(row.cells[0], 'bravo [10 s]');
            assert.equal(row.className, 'odd');  // not yet 10 s without an answer

            await clock.at(11001);
            row = await bravo();
            assert.equal(row.className, 'notresponding');
            assert.equal(row.cells[1], '5000');  // its last data stays
            const rows = await serverLinks(page);
            assert.deepEqual(rows.map((r) => [r.cells[0], r.className]), [['alpha', 'even'],
                ['bravo [10 s]', 'notresponding'], ['charlie', 'even']]);
            // The session as last reported, although the server aborted it when it stopped.
            const sessions = await sessionRows(page);
            assert.deepEqual(sessions.map((s) => [s.cells[0], s.className, s.cells[11]]),
                [['bravo', 'running', 'Running']]);

            await clock.at(301000);
            assert.equal((await bravo()).cells[0], 'bravo [300 s]');

            await clock.at(301001);
            assert.equal(await bravo(), undefined);
            assert.deepEqual((await serverLinks(page)).map((r) => [r.cells[0], r.className]),
                [['alpha', 'even'], ['charlie', 'odd']]);
            assert.equal(await page.textContent('#tasks p'), 'Servers: #2');
            assert.deepEqual(await sessionRows(page), [{className: 'even',
                cells: ['No sessions']}]);
            assert.equal((await summary(page))['Processors'],
                String(2 * os.availableParallelism()));
            assert.deepEqual(page.errors, []);
        });
    });
