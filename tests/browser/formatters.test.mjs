// The page's formatters, called in the browser the page runs in.

import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launchChromium} from './lib/browser.mjs';
import {FakeServer} from './lib/fake_server.mjs';
import {openTaskManager} from './lib/task_manager.mjs';

describe('formatters', () => {
    let browser;
    let server;
    let page;

    before(async () => {
        server = await new FakeServer('127.0.0.1').start();
        browser = await launchChromium();
        page = await openTaskManager(browser, server.url);
    });

    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    // Calls the page's function by name with the arguments; returns its result.
    const call = (name, ...args) =>
        page.evaluate(([fn, list]) => window[fn](...list), [name, args]);

    test('time writes days, hours, minutes and seconds with singular and plural words', async () => {
        const cases = [
            [90061, '1 day 1 hour 1 minute 1 second '],
            [3.25, '3.250 seconds'],
            [0, '0 seconds'],
            [-4, '0 seconds'],
            [4.9994, '4.999 seconds'],
            [5, '5 seconds '],
            [60, '1 minute '],
            [7322.4, '2 hours 2 minutes 2 seconds '],
            [2 * 86400 + 59.6, '2 days 1 minute '],
            [null, ''],
        ];
        for (const [seconds, expected] of cases) {
            assert.equal(await call('time', seconds), expected, `time(${seconds})`);
        }
        assert.equal(await page.evaluate(() => time(undefined)), '');
    });

    test('space and rate pick the unit and round to two decimals', async () => {
        const spaces = [
            [0, '0 b'],
            [1023.4, '1023 b'],
            [1024, '1 kb'],
            [1536, '1.5 kb'],
            [1048575, '1024 kb'],
            [1.5 * 1024 ** 2, '1.5 Mb'],
            [1234567890, '1.15 Gb'],
            [3 * 1024 ** 4, '3 Tb'],
            [1024 ** 5, '1024 Tb'],
        ];
        for (const [value, expected] of spaces) {
            assert.equal(await call('space', value), expected, `space(${value})`);
        }
        assert.equal(await call('rate', 500), '500 b/s');
        assert.equal(await call('rate', 1536), '1.5 kb/s');
        assert.equal(await call('rate', 5 * 1024 ** 3), '5 Gb/s');
    });

    test('mt gives the processing share of the elapsed time', async () => {
        assert.equal(await call('mt', 120, 30), ' (25%)');
        assert.equal(await call('mt', 3, 2), ' (67%)');
        assert.equal(await call('mt', 0, 5), '');
        assert.equal(await call('mt', 10, null), '');
    });

    test('encodeHTML leaves plain words alone and references everything else', async () => {
        const cases = [
            ['Windows', 'Windows'],
            ['Windows 10', 'Windows&#32;&#49;&#48;'],
            ['{|}~', '{|}~'],
            ['', ''],
            ['a_b', 'a&#95;b'],
            ['<b>"x"&\'', '&#60;b&#62;&#34;x&#34;&#38;&#39;'],
            ['Zürich', 'Z&#252;rich'],
            ['😀', '&#128512;'],
        ];
        for (const [text, expected] of cases) {
            assert.equal(await call('encodeHTML', text), expected, `encodeHTML(${text})`);
        }
        assert.equal(await call('encodeHTML', null), '');
    });

    test('date is the browser\'s local text of seconds since 1970', async () => {
        assert.equal(await call('date', null), '');
        const [text, expected] = await page.evaluate(() =>
            [date(1700000000), new Date(1700000000000).toLocaleString()]);
        assert.equal(text, expected);
    });

    test('translate falls back to English', async () => {
        assert.equal(await call('translate', 'Servers'), 'Servers');
        assert.equal(await call('translate', 'not a listed text'), 'not a listed text');
        assert.deepEqual(page.errors, []);
    });
});
