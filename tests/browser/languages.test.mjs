// Choosing the language: from the browser's language tag at start, or from the list.

import assert from 'node:assert/strict';
import {after, before, describe, test} from 'node:test';

import {launchChromium, screenshot} from './lib/browser.mjs';
import {FakeServer} from './lib/fake_server.mjs';
import {headers, openTaskManager} from './lib/task_manager.mjs';

// Every English text the page translates.
const TEXTS = ['No sessions', 'Recent sessions', 'second', 'seconds', 'minute', 'minutes', 'hour',
    'hours', 'day', 'days', 'Servers', 'Last update at', 'None', 'Network Task Manager',
    'Resources', 'Stats', 'IO', 'Processors', 'Available memory', 'Total memory',
    'Memory in-use', 'Available processing', 'Open sessions', 'Total sessions', 'Elapsed time',
    'Processing time', 'Failures', 'Data received', 'Data sent', 'Receive bandwidth',
    'Send bandwidth', 'Server', 'Rating', 'OS', 'Plexmill Version', 'Available Memory',
    'Total Memory', 'Running Since', 'Availability', 'CPU Usage', 'Received', 'Sent',
    'Processing Time', 'Busy', 'Available', 'Paused', 'Session limit reached',
    'CPU usage above threshold', 'Available memory below minimum', 'Outside allowed times',
    'Address not on allow list', 'Host', 'User', 'Application', 'Started',
    'Completed', 'Disconnected', 'Elapsed Time', 'Memory', 'Status', 'Running', 'Success',
    'Failed', 'Not responding', 'Red: Processing usage', 'Green: Memory usage',
    'Blue: Open sessions', 'Brown: IO bandwidth'];

describe('languages', () => {
    let browser;
    let server;

    before(async () => {
        server = await new FakeServer('127.0.0.1', {system: {name: 'solo'}}).start();
        browser = await launchChromium();
    });

    after(async () => {
        await browser?.close();
        await server?.stop();
    });

    const state = (page) => page.evaluate(() => ({
        title: document.title,
        header: document.getElementById('headerTitle').innerText,
        selected: document.getElementById('selectLanguage').value,
        tooltip: document.getElementById('graph').title,
    }));

    test('offers English and then the eight languages in their order', async () => {
        const page = await openTaskManager(browser, server.url);
        const values = await page.$$eval('#selectLanguage option', (options) =>
            options.map((option) => option.value));
        assert.deepEqual(values, ['en', 'zh-CHS', 'zh-CHT', 'cz', 'da', 'de', 'gr', 'it', 'sv']);
        assert.equal(await page.textContent('#selectLanguage option'), 'English');
    });

    test('every table translates every text', async () => {
        const page = await openTaskManager(browser, server.url);
        const tables = await page.evaluate(() => TRANSLATIONS);
        for (const [language, table] of Object.entries(tables)) {
            assert.deepEqual(Object.keys(table), TEXTS, language);
            for (const [english, translated] of Object.entries(table)) {
                assert.ok(translated.trim().length > 0, `${language}: ${english}`);
            }
        }
    });

    test('"de-AT" selects German and the German entry', async () => {
        const page = await openTaskManager(browser, server.url, {locale: 'de-AT'});
        assert.deepEqual(await state(page), {
            title: 'Quorvex Plexmill - Netzwerk-Task-Manager',
            header: 'Quorvex Plexmill\nNetzwerk-Task-Manager',
            selected: 'de',
            tooltip: 'Rot: Prozessorauslastung\nGrün: Speicherbelegung\nBlau: Offene Sitzungen\n' +
                'Braun: E/A-Bandbreite',
        });
        const columns = await headers(page, 'serverTable');
        assert.deepEqual(columns.slice(0, 4), ['Server', 'Bewertung', 'Betriebssystem',
            'Plexmill-Version']);
        assert.equal(await page.evaluate(() => time(90061)), '1 Tag 1 Stunde 1 Minute 1 Sekunde ');
        assert.equal(await page.evaluate(() => time(0)), '0 Sekunden');
        assert.equal(await page.textContent('#sessionTable td'), 'Keine Sitzungen');
        await screenshot(page, 'taskmanager-de.png');
    });

    test('"pt" has no table and stays English', async () => {
        const page = await openTaskManager(browser, server.url, {locale: 'pt'});
        const shown = await state(page);
        assert.equal(shown.title, 'Quorvex Plexmill - Network Task Manager');
        assert.equal(shown.selected, 'en');
        assert.equal(await page.evaluate(() => time(90061)), '1 day 1 hour 1 minute 1 second ');
    });

    test('standard tags reach the tables kept under other codes', async () => {
        const cases = [['cs-CZ', 'cz', 'Správce síťových úloh'],
            ['el-GR', 'gr', 'Διαχείριση εργασιών δικτύου'], ['zh-CN', 'zh-CHS', '网络任务管理器'],
            ['zh-TW', 'zh-CHT', '網路工作管理員'], ['sv-FI', 'sv', 'Aktivitetshanterare för nätverket']];
        for (const [locale, selected, title] of cases) {
            const page = await openTaskManager(browser, server.url, {locale});
            const shown = await state(page);
            assert.equal(shown.selected, selected, locale);
            assert.equal(shown.title, `Quorvex Plexmill - ${title}`, locale);
            await page.context().close();
        }
    });

    test('choosing from the list translates the report at once', async () => {
        const page = await openTaskManager(browser, server.url);
        await page.selectOption('#selectLanguage', 'it');
        assert.equal((await state(page)).title, 'Quorvex Plexmill - Gestione attività di rete');
        assert.deepEqual((await headers(page, 'global')), ['Risorse', 'Statistiche', 'I/O']);
        await page.selectOption('#selectLanguage', 'en');
        assert.deepEqual((await headers(page, 'global')), ['Resources', 'Stats', 'IO']);
        assert.deepEqual(page.errors, []);
    });
});
