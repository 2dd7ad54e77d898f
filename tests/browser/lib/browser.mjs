// Headless Chromium for the page tests: Debian's browser (playwright-core drives it and gives
// every launch a fresh temporary profile), with everything switched off that would talk to
// anything but the pages under test.

import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

import {chromium} from 'playwright-core';

export const ARTIFACTS = path.resolve(path.dirname(fileURLToPath(import.meta.url)),
    '../../../artifacts/browser');

export function launchChromium() {
    return chromium.launch({
        executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
        headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
}

// A page in its own context, so that language and storage never leak between tests; options
// go to browser.newContext (locale, userAgent, javaScriptEnabled, ...). Script errors of the
// page are collected in page.errors.
export async function newPage(browser, options = {}) {
    const context = await browser.newContext({locale: 'en-US',
        viewport: {width: 1400, height: 900}, ...options});
    const page = await context.newPage();
    page.errors = [];
    page.on('pageerror', (error) => page.errors.push(error));
    return page;
}

export async function screenshot(page, name) {
    fs.mkdirSync(ARTIFACTS, {recursive: true});
    const file = path.join(ARTIFACTS, name);
    await page.screenshot({path: file, fullPage: true});
    return file;
}
