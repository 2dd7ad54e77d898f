// Status documents come from any machine on the network. Whatever texts they hold, the page
// shows them as text: no markup from them becomes an element, no script from them runs.

import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launchChromium, screenshot} from './lib/browser.mjs';
import {startServers, stopServers} from './lib/fake_server.mjs';
import {openTaskManager, serverRows, sessionRows} from './lib/task_manager.mjs';

const NOW = Math.floor(Date.now() / 1000);

// Each one would set window.attacked if it ever ran.
const NAME = '<img src=x onerror="window.attacked=\'name\'">evil';
const DESCRIPTION = '<script>window.attacked="description"</script><b>bold</b> & \'quoted\'';
const OS = '"><svg onload="window.attacked=\'os\'">';
const VERSION = '<iframe src="javascript:parent.attacked=\'version\'"></iframe>';
const HOST = '<img src=x onerror=window.attacked=host>';
const USER = '"><img src=x onerror="window.attacked=\'user\'">';
const APPLICATION = '<a href="javascript:window.attacked=1">app</a>';
const STATUS = '<marquee onstart="window.attacked=\'status\'">Failed</marquee>';
const WIDE = 'Zürich 😀 ✓';

describe('hostile status documents', () => {
    let browser;
    let servers;
    let page;

    before(async () => {
        servers = await startServers([
            ['127.0.0.1', {system: {name: 'honest'}}],
            ['127.0.0.2', {
                system: {name: NAME, description: DESCRIPTION, os: OS, processors: '<b>4</b>'},
                service: {version: VERSION},
                stats: {failures: '<i>1</i>', lastFailure: NOW},
                currentSessions: [{id: '<b>1</b>', host: HOST, user: USER,
                    application: APPLICATION, started: NOW - 10, elapsedTime: 10,
                    processingTime: 1, memory: 0, cpu: 0, received: 0, sent: 0}],
                closedSessions: [{host: HOST, user: USER, application: APPLICATION,
                    started: NOW - 100, completed: NOW - 50, elapsedTime: 50, processingTime: 5,
                    memory: 0, received: 0, sent: 0, status: STATUS}],
            }],
            ['127.0.0.3', {system: {name: WIDE}}],
        ]);
        // An address that is no host at all: the page can only report it.
        servers[0].serverList.push({address: '127.0.0.9"><img src=x onerror=window.attacked=9>',
            revision: 42604, http: true});
        browser = await launchChromium();
        page = await openTaskManager(browser, servers[0].url);
        // Give injected handlers every chance to run: several refreshes.
        await page.evaluate(() => {
            buildReport();
            buildReport();
        });
        // A broken image's onerror fires later: add one of our own after the reports and wait
        // for it, so that any injected one has had its turn too.
        await page.evaluate(() => document.body.insertAdjacentHTML('beforeend',
            '<img id="canary" src="/missing" onerror="window.canary = true">'));
        await page.waitForFunction(() => window.canary === true);
        await page.evaluate(() => document.getElementById('canary').remove());
    });

    after(async () => {
        await browser?.close();
        await stopServers(servers ?? []);
    });

    test('no script from a status document runs', async () => {
        assert.equal(await page.evaluate(() => window.attacked), undefined);
        assert.deepEqual(page.errors, []);
    });

    test('no element is injected', async () => {
        const injected = await page.$$eval(
            '#tasks img, #tasks svg, #tasks script, #tasks iframe, #tasks b, #tasks i, ' +
            '#tasks marquee, #global img', (elements) => elements.map((e) => e.outerHTML));
        assert.deepEqual(injected, []);
        // The only links are the page's own, to each server's status port.
        const links = await page.$$eval('#tasks a', (anchors) => anchors.map((a) => a.href));
        for (const link of links) {
            assert.match(link, /^http:\/\/127\.0\.0\.[1-3]:8080\/$/);
        }
    });

    test('the texts are shown as they were sent', async () => {
        const rows = await serverRows(page);
        const evil = rows.find((row) => row.cells[0].startsWith(NAME));
        assert.ok(evil, JSON.stringify(rows));
        assert.equal(evil.cells[2], OS);
        assert.equal(evil.cells[3], VERSION);
        assert.equal(evil.cells[4], '<b>4</b>');
        const description = rows[rows.indexOf(evil) + 1];
        assert.deepEqual(description.cells, [DESCRIPTION]);
        // (Server cells end in the age of their data once it is 10 ms old.)
        assert.ok(rows.some((row) => row.cells[0].replace(/ \[[\d.]+ m?s\]$/, '') === WIDE),
            'non-ASCII name shown as sent');

        const failed = rows.find((row) => row.cells.length === 1 && row.cells[0].includes('FAILED'));
        assert.equal(failed.cells[0],
            'http://127.0.0.9"><img src=x onerror=window.attacked=9>:8080 (FAILED)');

        const sessions = await sessionRows(page);
        assert.equal(sessions.length, 2);
        for (const session of sessions) {
            assert.equal(session.cells[0], NAME);
            assert.deepEqual(session.cells.slice(1, 4), [HOST, USER, APPLICATION]);
        }
        assert.equal(sessions[0].className, 'running');
        assert.equal(sessions[1].className, 'error');
        assert.equal(sessions[1].cells[11], STATUS);
        await screenshot(page, 'taskmanager-hostile.png');
    });
});
