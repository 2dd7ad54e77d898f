// The summary and the servers table over three fake servers on 127.0.0.1 to 127.0.0.3,
// port 8080, with the page's clock driven by the test.

import assert from 'node:assert/strict';
import {after, afterEach, before, beforeEach, describe, test} from 'node:test';

import {launchChromium, screenshot} from './lib/browser.mjs';
import {FakeServer, startServers, stopServers} from './lib/fake_server.mjs';
import {driveClock, openTaskManager, serverRows, sessionRows, summary} from './lib/task_manager.mjs';

const GIB = 1024 ** 3;
const NOW = Math.floor(Date.now() / 1000);

function closedSession(started, status) {
    return {host: '10.1.0.7', user: 'builder', application: 'render', started,
        completed: started + 60, elapsedTime: 60, processingTime: 30, memory: 1048576,
        received: 2048, sent: 4096, status};
}

// Listed out of order on purpose: the table sorts by name.
const SERVERS = [
    ['127.0.0.1', {system: {name: 'charlie', processors: 2, rating: 5000, availableMemory: 1 * GIB,
        totalMemory: 2 * GIB, memoryInUse: 512 * 1024 ** 2},
    stats: {cpuUsage: 100, openSessions: 0, totalSessions: 3, dataReceived: 1024,
        dataSent: 0, elapsedTime: 90061, processingTime: 3600}}],
    ['127.0.0.2', {system: {name: 'alpha', description: 'Render farm, rack 2', processors: 4,
        rating: 10000, availableMemory: 2 * GIB, totalMemory: 4 * GIB, memoryInUse: 0},
    stats: {cpuUsage: 50, openSessions: 0, totalSessions: 1, failures: 2,
        lastFailure: NOW - 600, dataReceived: 0, dataSent: 2048}}],
    ['127.0.0.3', {system: {name: 'bravo', processors: 8, rating: 5000, availableMemory: 1 * GIB,
        totalMemory: 2 * GIB, memoryInUse: 512 * 1024 ** 2},
    service: {busy: true},
    closedSessions: [closedSession(NOW - 300, 'Success')]}],
];

describe('servers table', () => {
    let browser;
    let servers;
    let page;
    let clock;

    before(async () => {
        browser = await launchChromium();
    });

    after(async () => {
        await browser?.close();
    });

    beforeEach(async () => {
        servers = await startServers(SERVERS);
        // Entries the page must not poll: too old for status documents, or HTTP off.
        servers[0].serverList.push({address: '127.0.0.4', revision: 36299, http: true},
            {address: '127.0.0.5', revision: 42604, http: false});
        // The browser's cache keeps the list for 3 s of real time, which a driven clock skips.
        servers[0].serverListCache = 'no-cache';
        page = await openTaskManager(browser, servers[0].url);
        clock = await driveClock(page);
        await clock.at(0);
    });

    afterEach(async () => {
        await page?.context().close();
        await stopServers(servers);
    });

    test('lists every polled server once, sorted by name, with its cells', async () => {
        const rows = await serverRows(page);
        assert.deepEqual(rows.map((row) => row.cells[0]), ['alpha', 'Render farm, rack 2', 'bravo',
            'charlie']);
        // The description row shares its server's class; busy wins over even/odd.
        assert.deepEqual(rows.map((row) => row.className), ['even', 'even', 'busy', 'even']);
        const alpha = rows[0].cells;
        assert.equal(alpha.length, 14);
        assert.deepEqual(alpha.slice(1, 7), ['10000', 'Windows', '14.1.0 build 42604', '4', '2 Gb',
            '4 Gb']);
        assert.equal(alpha[8], 'Available');
        assert.equal(alpha[9], '50%');
        assert.equal(alpha[10], '0 b');
        assert.equal(alpha[11], '2 kb');
        assert.match(alpha[13], /^2 \[.+\]$/);
        assert.equal(rows[2].cells[8], 'Busy');
        assert.equal(rows[3].cells[13], 'None');
        const heading = await page.textContent('#tasks p');
        assert.equal(heading, 'Servers: #3');
        const links = await page.$$eval('#serverTable a', (anchors) =>
            anchors.map((a) => a.getAttribute('href')));
        assert.deepEqual(links, ['http://127.0.0.2:8080', 'http://127.0.0.3:8080',
            'http://127.0.0.1:8080']);
        assert.deepEqual(page.errors, []);
    });

    test('the summary adds up every server', async () => {
        const values = await summary(page);
        assert.equal(values['Processors'], '14');
        assert.equal(values['Available memory'], '4 Gb');
        assert.equal(values['Total memory'], '8 Gb');
        assert.equal(values['Memory in-use'], '1 Gb');
        // Ratings 10000 at 50%, 5000 idle, 5000 at 100%: 10000 of 20000 available.
        assert.equal(values['Available processing'], '2 (50%)');
        assert.equal(values['Open sessions'], 'None');
        assert.equal(values['Total sessions'], '4');
        assert.equal(values['Elapsed time'], '1 day 1 hour 1 minute 1 second ');
        assert.equal(values['Processing time'], '1 hour ');
        assert.equal(values['Failures'], '2');
        assert.equal(values['Data received'], '1 kb');
        assert.equal(values['Data sent'], '2 kb');
        assert.equal(values['Receive bandwidth'], '0 b/s');
    });

    test('bandwidth is the growth of the summed counters per second', async () => {
        servers[0].status.stats.dataReceived += 3 * 1024;
        servers[1].status.stats.dataSent += 1024;
        await clock.at(1000);
        let values = await summary(page);
        assert.equal(values['Receive bandwidth'], '3 kb/s');
        assert.equal(values['Send bandwidth'], '1 kb/s');
        servers[0].status.stats.dataReceived += 1024;
        await clock.at(3000);
        values = await summary(page);
        assert.equal(values['Receive bandwidth'], '512 b/s');
        // A restarted server's counters start again from 0: no negative bandwidth.
        servers[0].status.stats.dataReceived = 0;
        await clock.at(4000);
        values = await summary(page);
        assert.equal(values['Receive bandwidth'], '0 b/s');
        // A report at the same moment as the previous one has no rate to measure.
        await clock.at(4000);
        assert.equal((await summary(page))['Send bandwidth'], '0 b/s');
    });

    test('a silent server turns red after 10 s and disappears 5 minutes after its last answer',
        async () => {
            await servers[2].stop();  // bravo
            const bravo = async () => (await serverRows(page)).find((row) =>
                row.cells[0].startsWith('bravo'));

            await clock.at(10000);
            let row = await bravo();
            assert.equal(row.className, 'busy');  // still within 10 s
            assert.equal(row.cells[0], 'bravo [10 s]');

            await clock.at(10001);
            row = await bravo();
            assert.equal(row.className, 'notresponding');
            assert.equal(row.cells[1], '5000');  // its last data stays
            assert.equal((await sessionRows(page)).length, 1);
            assert.equal((await summary(page))['Processors'], '14');

            await clock.at(300000);
            assert.equal((await bravo()).cells[0], 'bravo [300 s]');

            await clock.at(300001);
            assert.equal(await bravo(), undefined);
            const rows = await serverRows(page);
            assert.deepEqual(rows.map((r) => r.cells[0]),
                ['alpha', 'Render farm, rack 2', 'charlie']);
            assert.deepEqual(rows.map((r) => r.className), ['even', 'even', 'odd']);
            assert.equal(await page.textContent('#tasks p'), 'Servers: #2');
            // Its sessions and its share of the sums go with it.
            assert.equal((await sessionRows(page))[0].cells[0], 'No sessions');
            assert.equal((await summary(page))['Processors'], '6');

            // Back on the network: shown again at once.
            servers[2].server.listen(8080, '127.0.0.3');
            await new Promise((resolve) => servers[2].server.once('listening', resolve));
            await clock.at(300002);
            row = await bravo();
            assert.equal(row.className, 'busy');
            assert.equal(row.cells[0], 'bravo');
            assert.deepEqual(page.errors, []);
        });

    test('bad answers keep the last data; data ages in ms and s', async () => {
        servers[1].answer = 'error';
        servers[0].answer = 'garbage';
        await clock.at(250);
        let rows = await serverRows(page);
        assert.equal(rows[0].cells[0], 'alpha [250 ms]');
        assert.equal(rows[3].cells[0], 'charlie [250 ms]');
        assert.equal(rows[2].cells[0], 'bravo');  // answered: fresh
        await clock.at(1540);
        rows = await serverRows(page);
        assert.equal(rows[0].cells[0], 'alpha [1.5 s]');
        assert.equal(rows[0].className, 'even');
        await clock.at(12000);
        rows = await serverRows(page);
        assert.equal(rows[0].className, 'notresponding');
        assert.equal(rows[1].className, 'notresponding');  // its description row
        servers[1].answer = 'ok';
        await clock.at(12001);
        rows = await serverRows(page);
        assert.equal(rows[0].cells[0], 'alpha');
        assert.equal(rows[0].className, 'even');
    });

    test('an availability that refuses work names its reasons in a translated tooltip',
        async () => {
            const tooltips = () => page.$$eval('#serverTable td[title]', (cells) =>
                cells.map((cell) => [cell.textContent, cell.title]));
            // Older servers send no reasons and an empty list names none: no tooltip either way.
            servers[1].status.service.refusals = [];
            await clock.at(1000);
            assert.deepEqual(await tooltips(), []);

            servers[2].status.service.refusals = ['sessionLimit', 'cpuUsage'];
            // A client outside the allow list is told so while the server itself takes work;
            // a reason this page does not know yet is shown as sent, escaped.
            servers[0].status.service.refusals = ['allowList', 'future<b>'];
            await clock.at(2000);
            assert.deepEqual(await tooltips(), [
                ['Busy', 'Session limit reached, CPU usage above threshold'],
                ['Available', 'Address not on allow list, future<b>'],
            ]);

            await page.selectOption('#selectLanguage', 'de');
            await clock.at(3000);
            assert.deepEqual(await tooltips(), [
                ['Ausgelastet', 'Sitzungslimit erreicht, CPU-Auslastung über dem Schwellwert'],
                ['Verfügbar', 'Adresse nicht in der Zulassungsliste, future<b>'],
            ]);
            assert.equal(await page.$('#serverTable b'), null);
            assert.deepEqual(page.errors, []);
        });

    test('a server that never answered is shown as FAILED', async () => {
        servers[0].serverList.push({address: '127.0.0.6', revision: 42604, http: true});
        await clock.at(20001);  // the list is loaded again after 20 s
        const rows = await serverRows(page);
        const failed = rows.find((row) => row.cells[0].includes('127.0.0.6'));
        assert.deepEqual(failed, {className: 'notresponding',
            cells: ['http://127.0.0.6:8080 (FAILED)']});
        assert.equal(await page.textContent('#tasks p'), 'Servers: #4');
    });

    test('the graph follows the summary\'s height and draws the usage curve', async () => {
        for (let second = 1; second <= 5; second++) {
            await clock.at(second * 1000);
        }
        const graph = await page.evaluate(() => {
            const canvas = document.getElementById('graph');
            const data = canvas.getContext('2d').getImageData(0, 0, canvas.width,
                canvas.height).data;
            let red = 0;
            for (let i = 0; i < data.length; i += 4) {
                if (data[i] > 200 && data[i + 1] < 80 && data[i + 2] < 80) {
                    red++;
                }
            }
            return {width: canvas.width, height: canvas.height, red,
                summary: document.getElementById('global').offsetHeight,
                usage: samples[samples.length - 1].usage, count: samples.length};
        });
        assert.equal(graph.width, 450);
        assert.equal(graph.height, Math.max(100, graph.summary));
        assert.equal(graph.count, 101);
        assert.equal(graph.usage, 0.5);
        assert.ok(graph.red > 50, `${graph.red} red pixels`);
        await screenshot(page, 'taskmanager-servers.png');
    });
});

describe('serving server only', () => {
    test('without a server list the page polls localhost; an idle server shows no sessions',
        async () => {
            const server = new FakeServer('127.0.0.1', {system: {name: 'solo'}});
            server.serverList = null;  // /json/servers.json answers 404
            await server.start();
            const browser = await launchChromium();
            try {
                const page = await openTaskManager(browser, server.url);
                const rows = await serverRows(page);
                assert.equal(rows.length, 1);
                assert.equal(rows[0].cells[0].replace(/ \[.*\]$/, ''), 'solo');
                assert.equal(rows[0].cells[13], 'None');
                const links = await page.$$eval('#serverTable a', (a) => a.map((x) => x.href));
                assert.deepEqual(links, ['http://localhost:8080/']);
                assert.deepEqual(await sessionRows(page), [{className: 'even',
                    cells: ['No sessions']}]);
                assert.equal((await summary(page))['Failures'], 'None');
                assert.deepEqual(page.errors, []);
            } finally {
                await browser.close();
                await server.stop();
            }
        });

    test('an empty server list shows "No sessions" only', async () => {
        const server = new FakeServer('127.0.0.1');
        server.serverList = [];
        await server.start();
        const browser = await launchChromium();
        try {
            const page = await openTaskManager(browser, server.url);
            assert.equal(await page.textContent('#tasks'), 'No sessions');
            assert.equal(await page.$('#serverTable'), null);
        } finally {
            await browser.close();
            await server.stop();
        }
    });
});
