// The sessions table: every session of every server, newest first, coloured by state.

import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launchChromium, screenshot} from './lib/browser.mjs';
import {startServers, stopServers} from './lib/fake_server.mjs';
import {driveClock, headers, openTaskManager, sessionRows, summary} from './lib/task_manager.mjs';

const NOW = Math.floor(Date.now() / 1000);

function closed(started, status, extra = {}) {
    return {host: '10.1.0.7', user: 'builder', application: 'render', started,
        completed: started + 120, elapsedTime: 120, processingTime: 30, memory: 1048576,
        received: 2048, sent: 1536, status, ...extra};
}

describe('sessions table', () => {
    let browser;
    let servers;
    let page;

    before(async () => {
        servers = await startServers([
            ['127.0.0.1', {system: {name: 'north'},
                stats: {openSessions: 1, totalSessions: 4},
                currentSessions: [{id: 17, host: '10.1.0.9', user: 'ana', application: 'encode',
                    started: NOW - 30, elapsedTime: 30, processing: true, processingTime: 12,
                    memory: 3 * 1024 ** 2, cpu: 0.4, received: 100, sent: 200}],
                closedSessions: [closed(NOW - 100, 'Success'), closed(NOW - 400, 'Failed'),
                    closed(NOW - 700, 'Success', {application: ''})]}],
            ['127.0.0.2', {system: {name: 'south'},
                closedSessions: [closed(NOW - 200, 'Success'), closed(NOW - 500, 'Timed out'),
                    closed(NOW - 600, 'Success', {elapsedTime: 0})]}],
        ]);
        browser = await launchChromium();
        page = await openTaskManager(browser, servers[0].url);
        const clock = await driveClock(page);
        await clock.at(0);
    });

    after(async () => {
        await browser?.close();
        await stopServers(servers ?? []);
    });

    test('has the columns in order', async () => {
        assert.deepEqual(await headers(page, 'sessionTable'), ['Server', 'Host', 'User',
            'Application', 'Started', 'Completed', 'Elapsed Time', 'Processing Time', 'Memory',
            'Received', 'Sent', 'Status']);
    });

    test('lists the sessions of all servers newest first', async () => {
        const rows = await sessionRows(page);
        assert.deepEqual(rows.map((row) => [row.cells[0], row.cells[11]]), [
            ['north', 'Running'], ['north', 'Success'], ['south', 'Success'], ['north', 'Failed'],
            ['south', 'Timed out'], ['south', 'Success'], ['north', 'Success']]);
        const started = await page.evaluate((seconds) => new Date(seconds * 1000).toLocaleString(),
            NOW - 100);
        assert.equal(rows[1].cells[4], started);
        assert.equal(await page.textContent('#tasks p:nth-of-type(2)'), 'Recent sessions: #7');
    });

    test('a current session is "running" and a closed one that did not succeed "error"',
        async () => {
            const rows = await sessionRows(page);
            assert.deepEqual(rows.map((row) => row.className),
                ['running', 'odd', 'even', 'error', 'error', 'odd', 'even']);
            assert.equal(rows[0].cells[5], 'Running');
            assert.deepEqual(rows[0].cells.slice(1, 4), ['10.1.0.9', 'ana', 'encode']);
        });

    test('the cells format times, shares and sizes', async () => {
        const rows = await sessionRows(page);
        assert.deepEqual(rows[1].cells.slice(6), ['2 minutes ', '30 seconds  (25%)', '1 Mb', '2 kb',
            '1.5 kb', 'Success']);
        assert.equal(rows[0].cells[7], '12 seconds  (40%)');
        assert.equal(rows[5].cells[7], '30 seconds ');  // no share of a zero elapsed time
        assert.equal(rows[6].cells[3], 'Unspecified');
    });

    test('the summary counts open and total sessions', async () => {
        const values = await summary(page);
        assert.equal(values['Open sessions'], '1');
        assert.equal(values['Total sessions'], '4');
        await screenshot(page, 'taskmanager-sessions.png');
        assert.deepEqual(page.errors, []);
    });
});

describe('sessions table limits', () => {
    test('shows at most 50 sessions but counts them all', async () => {
        const many = Array.from({length: 60}, (_, i) => closed(NOW - i * 10, 'Success'));
        const servers = await startServers([['127.0.0.1', {system: {name: 'busy'},
            closedSessions: many}]]);
        const browser = await launchChromium();
        try {
            const page = await openTaskManager(browser, servers[0].url);
            const rows = await sessionRows(page);
            assert.equal(rows.length, 50);
            assert.equal(await page.textContent('#tasks p:nth-of-type(2)'), 'Recent sessions: #60');
        } finally {
            await browser.close();
            await stopServers(servers);
        }
    });
});
