// The status page of a real plexmilld ("/"), as a browser shows it, and the task-manager page
// fed by the same server's real status documents.

import assert from 'node:assert/strict';
import os from 'node:os';
import {after, before, describe, test} from 'node:test';

import {launchChromium, newPage, screenshot} from './lib/browser.mjs';
import {Plexmilld} from './lib/plexmilld.mjs';
import {openTaskManager, serverRows, sessionRows} from './lib/task_manager.mjs';

// The overview as {column header: {label: value}}, labels without their colon.
function overview(page) {
    return page.evaluate(() => {
        const table = document.querySelector('body > table');
        const names = Array.from(table.rows[0].cells, (cell) => cell.textContent);
        const columns = {};
        Array.from(table.rows[1].cells).forEach((cell, index) => {
            const rows = {};
            for (const row of cell.querySelectorAll('tr.field')) {
                rows[row.cells[0].textContent.replace(/:$/, '')] = row.cells[1].textContent;
            }
            columns[names[index]] = rows;
        });
        return columns;
    });
}

// The table following the heading with this text, as {className, cells}, or the paragraph
// that stands in for it.
function section(page, heading) {
    return page.evaluate((text) => {
        const title = Array.from(document.querySelectorAll('h3')).find((h3) => h3.textContent === text);
        const next = title?.nextElementSibling;
        if (!next || next.tagName !== 'TABLE') {
            return next?.outerHTML ?? null;
        }
        return Array.from(next.rows).slice(1).map((row) => ({className: row.className,
            cells: Array.from(row.cells, (cell) => cell.textContent)}));
    }, heading);
}

describe('status page of a real server', () => {
    let browser;
    let server;
    let page;

    before(async () => {
        server = await new Plexmilld(['--http', '--rating', '5000']).start();
        browser = await launchChromium();
        page = await newPage(browser);
        await page.goto(`${server.url}/`);
    });

    after(async () => {
        await browser?.close();
        assert.equal(await server?.stop(), 0, server?.output);
    });

    test('names the product and the machine', async () => {
        assert.equal(await page.title(), 'Quorvex Plexmill');
        assert.equal(await page.textContent('h1'), 'Quorvex Plexmill');
        assert.equal(await page.textContent('h2'), os.hostname());
        assert.match(await page.textContent('p'), /^Updated: \S/);
        assert.deepEqual(page.errors, []);
    });

    test('shows system, service, limits, stats and IO', async () => {
        const columns = await overview(page);
        assert.deepEqual(Object.keys(columns), ['System', 'Service', 'Limits', 'Stats', 'IO']);
        assert.deepEqual(Object.keys(columns.System), ['Processors', 'Rating', 'Operating system',
            'Available memory', 'Total memory', 'Memory in-use']);
        assert.equal(columns.System.Processors, String(os.availableParallelism()));
        assert.equal(columns.System.Rating, '5000');
        assert.equal(columns.System['Operating system'], 'Linux');
        assert.match(columns.System['Total memory'], /^\d+(\.\d+)? Gb$/);
        assert.match(columns.System['Memory in-use'], /^\d+(\.\d+)? (kb|Mb)$/);
        assert.equal(columns.Service.Version, '14.1.0 build 42604');
        assert.equal(columns.Service['Port (TCP)'], '7387');
        assert.equal(columns.Service['Broadcast port (UDP)'], '7388');
        assert.match(columns.Service.Status, /^(Not accepting|Accepting) sessions$/);
        assert.deepEqual(columns.Limits, {'Session timeout': '2 days ', 'Minimum memory': '512 Mb',
            'Maximum data size': '4 Gb', 'Maximum sessions': '2', 'Cache': 'Yes',
            'Cache size': '32 Gb', 'Cache timeout': '1 day '});
        assert.equal(columns.Stats['Open sessions'], '0');
        assert.equal(columns.Stats['Total failures'], 'None');
        assert.equal(columns.Stats['Last failure'], undefined);
        assert.match(columns.Stats['CPU usage'], /^\d+(\.\d)?%$/);
        assert.deepEqual(columns.IO, {'Total data received': '0 b', 'Total data sent': '0 b',
            'Total cache size': '0 b', 'Total cache hits': '0', 'Total cache reuse': '0 b'});
    });

    test('prints times in the browser\'s own format', async () => {
        const times = await page.evaluate(() => Array.from(document.querySelectorAll('td script'),
            (script) => {
                const written = script.parentElement.textContent.replace(script.textContent, '');
                const milliseconds = Number(/new Date\((-?\d+)\)/.exec(script.textContent)[1]);
                return {written, expected: new Date(milliseconds).toLocaleString(), milliseconds};
            }));
        assert.ok(times.length >= 2);
        for (const time of times) {
            // Incoming connections add how long the peer kept coming back.
            assert.equal(time.written.replace(/ \[\+\d+s\]$/, ''), time.expected);
            assert.ok(Math.abs(time.milliseconds - Date.now()) < 3600 * 1000, JSON.stringify(time));
        }
    });

    test('lists this browser among the incoming connections', async () => {
        assert.equal(await section(page, 'Current Sessions'), '<p>No current sessions</p>');
        assert.equal(await section(page, 'Closed Sessions'), '<p>No closed sessions</p>');
        assert.equal(await section(page, 'Cache'), '<p>No cache</p>');
        const rows = await section(page, 'Incoming Connections');
        assert.equal(rows[0].className, 'even');
        const http = rows.find((row) => row.cells[2].startsWith('HTTP '));
        assert.ok(http, JSON.stringify(rows));
        assert.match(http.cells[1], /127\.0\.0\.1/);
        await screenshot(page, 'status-page.png');
    });

    test('links to the task manager, which reads this server\'s documents', async () => {
        await server.waitUntilListed();
        await Promise.all([page.waitForURL(`${server.url}/taskmanager`),
            page.click('text=Open Network Task Manager')]);
        const manager = await openTaskManager(browser, server.url);
        await manager.waitForFunction(() => document.getElementById('serverTable')?.rows.length > 1);
        const rows = await serverRows(manager);
        assert.equal(rows.length, 1, JSON.stringify(rows));
        assert.match(rows[0].cells[0], new RegExp(`^${os.hostname()}`));
        assert.equal(rows[0].cells[1], '5000');
        assert.equal(rows[0].cells[2], 'Linux');
        assert.equal(rows[0].cells[3], '14.1.0 build 42604');
        assert.deepEqual((await sessionRows(manager)).map((row) => row.cells[0]), ['No sessions']);
        assert.deepEqual(manager.errors, []);
        await screenshot(manager, 'status-page-task-manager.png');
    });
});

describe('status page with hostile names', () => {
    // Anyone who controls a lookup file or a PTR record chooses these texts.
    const HOSTILE = 'Lab "7" <img src=x onerror="window.attacked=1"><script>window.attacked=2</script>';
    let browser;
    let server;

    before(async () => {
        server = await new Plexmilld(['--http', '--rating', '5000', '--lookup', '{home}/names.txt'],
            {'names.txt': `${os.hostname()} ; ${HOSTILE}\nlocalhost ; ${HOSTILE}\n`}).start();
        browser = await launchChromium();
    });

    after(async () => {
        await browser?.close();
        assert.equal(await server?.stop(), 0, server?.output);
    });

    test('shows them as text on the status page', async () => {
        const page = await newPage(browser);
        await page.goto(`${server.url}/`);
        assert.equal(await page.textContent('h2'), HOSTILE);
        const rows = await section(page, 'Incoming Connections');
        assert.ok(rows.some((row) => row.cells[1] === `${HOSTILE} [127.0.0.1]`), JSON.stringify(rows));
        assert.equal(await page.evaluate(() => window.attacked), undefined);
        assert.equal(await page.$('h2 img, h2 script'), null);
        await screenshot(page, 'status-page-hostile.png');
    });

    test('the task manager parses the status document and shows the name', async () => {
        await server.waitUntilListed();
        const page = await openTaskManager(browser, server.url);
        await page.waitForFunction(() => document.getElementById('serverTable')?.rows.length > 1);
        const rows = await serverRows(page);
        assert.ok(rows[0].cells[0].startsWith(HOSTILE), JSON.stringify(rows));
        assert.notEqual(rows[0].className, 'notresponding');
        assert.equal(await page.evaluate(() => window.attacked), undefined);
    });
});
