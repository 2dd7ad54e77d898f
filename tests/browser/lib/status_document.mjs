// Status documents as a Plexmill server writes them ("/json/status.json" and
// "/json/servers.json"): the same keys, order and line breaks. Texts are written as JSON
// strings, so a test can put quotes and markup in them the way a hostile machine could.

const text = (value) => JSON.stringify(String(value));

function render(value) {
    if (Array.isArray(value)) {
        return `[${value.map(render).join(', ')}]`;  // as the server writes "refusals"
    }
    return typeof value === 'string' ? text(value) : String(value);
}

// {"a": 1,"b": 2} — the server joins its fields without blanks after the commas.
function fields(object, keys) {
    return keys
        .filter((key) => object[key] !== undefined)
        .map((key) => `${text(key)}: ${render(object[key])}`)
        .join(',');
}

const SYSTEM_KEYS = ['name', 'description', 'processors', 'os', 'availableMemory', 'totalMemory',
    'memoryInUse', 'rating'];
const SERVICE_KEYS = ['runningSince', 'version', 'busy', 'refusals'];
const LIMITS_KEYS = ['sessionTimeout', 'minimumMemory', 'maximumDataSize', 'maximumSessions',
    'cache', 'cacheSize', 'cacheTimeout'];
const STATS_KEYS = ['openSessions', 'totalSessions', 'cpuUsage', 'numberOfTCPRequests',
    'numberOfUDPRequests', 'dataReceived', 'dataSent', 'cacheSize', 'cacheHits', 'cacheReuse',
    'elapsedTime', 'processingTime', 'failures', 'lastFailure'];
const CURRENT_KEYS = ['id', 'host', 'user', 'application', 'started', 'elapsedTime', 'processing',
    'processingTime', 'memory', 'cpu', 'received', 'sent'];
const CLOSED_KEYS = ['host', 'user', 'application', 'started', 'completed', 'elapsedTime',
    'processingTime', 'memory', 'received', 'sent', 'status'];

const GIB = 1024 ** 3;

// A complete status of an idle server; `parts` replaces fields of system, service, limits and
// stats one by one and the session lists as a whole.
export function statusDocument(parts = {}) {
    const seconds = Math.floor(Date.now() / 1000);
    return {
        system: {name: 'plexhost', processors: 4, os: 'Windows', availableMemory: 6 * GIB,
            totalMemory: 8 * GIB, memoryInUse: 50 * 1024 ** 2, rating: 5000, ...parts.system},
        service: {runningSince: seconds - 3600, version: '14.1.0 build 42604', busy: false,
            ...parts.service},
        limits: {sessionTimeout: 0, minimumMemory: 0, maximumDataSize: 0, maximumSessions: 0,
            cache: true, cacheSize: 34359738368, cacheTimeout: 86400000000, ...parts.limits},
        stats: {openSessions: 0, totalSessions: 0, cpuUsage: 0, numberOfTCPRequests: 0,
            numberOfUDPRequests: 0, dataReceived: 0, dataSent: 0, cacheSize: 0, cacheHits: 0,
            cacheReuse: 0, elapsedTime: 0, processingTime: 0, failures: 0, ...parts.stats},
        currentSessions: parts.currentSessions ?? [],
        closedSessions: parts.closedSessions ?? [],
    };
}

function sessionLines(sessions, keys) {
    return sessions.map((session, index) =>
        `{${fields(session, keys)}}${index + 1 < sessions.length ? ',' : ''}\n`).join('');
}

export function renderStatus(status) {
    return '{' +
        `"system": {${fields(status.system, SYSTEM_KEYS)}},\n` +
        `"service": {${fields(status.service, SERVICE_KEYS)}},\n` +
        `"limits": {${fields(status.limits, LIMITS_KEYS)}},\n` +
        `"stats": {${fields(status.stats, STATS_KEYS)}},\n` +
        `"currentSessions": [\n${sessionLines(status.currentSessions, CURRENT_KEYS)}],\n` +
        `"closedSessions": [\n${sessionLines(status.closedSessions, CLOSED_KEYS)}]\n` +
        '}';
}

// entries: [{address, revision, http}]
export function renderServerList(entries) {
    const lines = entries.map((entry, index) =>
        `{"address": ${text(entry.address)}, "revision": ${entry.revision}, ` +
        `"http": ${entry.http}}${index + 1 < entries.length ? ',' : ''}\n`);
    return '{"servers": [\n' + lines.join('') + ']\n}';
}
