// The package's own behaviour, against a stand-in for the tool that counts the SIGINTs it gets.
import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';

import { Recording, startRecording } from '../index.js';

const executable = fileURLToPath(new URL('./fixtures/fake-tool.mjs', import.meta.url));

test('records pass through in order, unknown ones unchanged, and two stops send one SIGINT', async () => {
  const recording = await startRecording({ executable, output: 'x.mov' });
  const seen = [];
  const warnings = [];
  recording.on('record', (record) => seen.push(record.event));
  recording.on('warning', (record) => warnings.push(record.code));
  const iterated = (async () => {
    const records = [];
    for await (const record of recording) records.push(record);
    return records;
  })();
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.equal(recording.microphone, 'Fake Mic');
  assert.deepEqual(recording.lastLevel, {
    system: { samples: 96000, rms: 0.2 },
    microphone: { samples: 96000, rms: 0.1 },
  });
  // The second call comes while the first stop runs: signals sent together would merge anyway.
  const stopping = recording.stop();
  await new Promise((resolve) => setTimeout(resolve, 100));
  const [first, second] = await Promise.all([stopping, recording.stop()]);
  assert.equal(first, second);
  assert.equal(first.interrupts, 1);
  assert.equal(await recording.stop(), first);
  const records = await iterated;
  assert.deepEqual(records.map((record) => record.event),
    ['warning', 'ready', 'novel', 'level', 'warning', 'final']);
  assert.deepEqual(records[2], { event: 'novel', nested: { kept: [1, 2] } });
  // A listener added once startRecording() resolved hears everything from "ready" on.
  assert.deepEqual(seen.slice(seen.indexOf('ready')), ['ready', 'novel', 'level', 'warning', 'final']);
  assert.deepEqual(warnings.slice(-1), ['something_new']);
  // A warning from the start, before any listener could be added, is kept.
  assert.deepEqual(recording.warnings.map((record) => record.code),
    ['microphone_fallback', 'something_new']);
  assert.equal(recording.exitCode, 0);
});

test('a stop before ready is sent once, when ready comes', async () => {
  process.env.FAKE_READY_DELAY = '400';
  try {
    const recording = new Recording({ executable, output: 'x.mov' });
    const stopped = recording.stop();
    recording.stop();
    const final = await stopped;
    assert.equal(final.interruptsBeforeReady, 0);
    assert.equal(final.interrupts, 1);
  } finally {
    delete process.env.FAKE_READY_DELAY;
  }
});
