// What the page says when the browser cannot run it.

import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launchChromium, newPage} from './lib/browser.mjs';
import {FakeServer} from './lib/fake_server.mjs';

describe('start-up checks', () => {
    let browser;
    let server;

    before(async () => {
        server = await new FakeServer('127.0.0.1').start();
        browser = await launchChromium();
    });

    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    async function open(options, prepare) {
        const page = await newPage(browser, options);
        if (prepare) {
            await page.addInitScript(prepare);
        }
        await page.goto(`${server.url}/taskmanager`);
        return page;
    }

    test('Internet Explorer before version 8 is asked to use another browser', async () => {
        const page = await open({userAgent: 'Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.0)'});
        assert.equal(await page.innerHTML('#tasks'),
            '<pre>You need to use Firefox, Chrome, or Safari.</pre>');
        assert.equal(server.statusRequests, 0);
    });

    test('a browser without JSON says so', async () => {
        const page = await open({}, () => {
            delete window.JSON;
        });
        assert.equal(await page.innerHTML('#tasks'), '<pre>Browser does not support JSON.</pre>');
        assert.equal(server.statusRequests, 0);
    });

    test('without scripting the page says it needs JavaScript', async () => {
        const page = await open({javaScriptEnabled: false});
        assert.match(await page.innerText('body'), /Sorry, your browser does not support JavaScript!/);
        assert.equal(await page.textContent('#tasks'), 'Refreshing...');
    });

    test('a working browser builds the first report once the page has loaded', async () => {
        const page = await open({});
        await page.waitForSelector('#serverTable');
        assert.ok(server.statusRequests >= 1);
        assert.deepEqual(page.errors, []);
    });
});
