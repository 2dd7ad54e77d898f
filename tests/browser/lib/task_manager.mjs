// Driving and reading the task-manager page: its clock, its refreshes and its tables.

import {newPage} from './browser.mjs';

// Opens the page and waits for its first report. The page refreshes itself every second;
// tests that drive the clock call refresh() instead of waiting.
export async function openTaskManager(browser, serverUrl, options = {}) {
    const page = await newPage(browser, options);
    await page.goto(`${serverUrl}/taskmanager`);
    await page.waitForFunction(() => document.getElementById('tasks').textContent !==
        'Refreshing...');
    return page;
}

// Replaces the page's clock with one the test sets and stops the page's own refresh timer, so
// that reports happen only when the test asks: Chromium runs a test's page.evaluate even while
// a timer's report waits for its synchronous requests, and the two would interleave.
// Returns helpers that move the clock and refresh.
export async function driveClock(page, start = Date.now()) {
    await page.evaluate((time) => {
        window.testTime = time;
        window.now = function () {
            return window.testTime;
        };
        clearInterval(refreshTimer);
    }, start);
    await page.waitForFunction(() => !reportInProgress);
    return {
        start,
        // Sets the clock to start + offset ms and builds a report at that moment.
        async at(offset) {
            await page.evaluate((time) => {
                window.testTime = time;
                buildReport();
            }, start + offset);
        },
    };
}

export function refresh(page) {
    return page.evaluate(() => buildReport());
}

// Rows of a table as {className, cells: [text...]}, without the header row.
export function tableRows(page, id) {
    return page.evaluate((tableId) => {
        const table = document.getElementById(tableId);
        if (!table) {
            return null;
        }
        return Array.from(table.rows).slice(1).map((row) => ({
            className: row.className,
            cells: Array.from(row.cells).map((cell) => cell.textContent),
        }));
    }, id);
}

export const serverRows = (page) => tableRows(page, 'serverTable');
export const sessionRows = (page) => tableRows(page, 'sessionTable');

// The summary as {label: value}, labels without their colon.
export function summary(page) {
    return page.evaluate(() => {
        const values = {};
        for (const row of document.querySelectorAll('#global tr.field')) {
            values[row.cells[0].textContent.replace(/:$/, '')] = row.cells[1].textContent;
        }
        return values;
    });
}

export function headers(page, id) {
    return page.evaluate((tableId) =>
        Array.from(document.querySelectorAll(`#${tableId} th`), (th) => th.textContent), id);
}
