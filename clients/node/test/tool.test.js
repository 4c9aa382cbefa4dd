// The package against the real tool and a private sound server that plays a tone on the output
// and one on the microphone. Needs TESSALOQUIN_AUDIO_CAPTURE (the built tool), PULSE_SERVER and
// TEST_FOLDER, which tests/e2e/node_client_e2e.py sets.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { once } from 'node:events';
import { statSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';

import { listMicrophones, probe, startRecording } from '../index.js';

const executable = process.env.TESSALOQUIN_AUDIO_CAPTURE;
const folder = process.env.TEST_FOLDER;
assert.ok(executable && folder && process.env.PULSE_SERVER, 'run by node_client_e2e.py');

const SYSTEM_RMS = 0.3 / Math.SQRT2;
const MICROPHONE_RMS = 0.2 / Math.SQRT2;

// The movie's audio duration in seconds, as ffprobe reads it; 0 when it cannot.
function audioSeconds(path) {
  const probed = spawnSync('ffprobe', ['-v', 'error', '-select_streams', 'a:0', '-show_entries',
    'stream=duration', '-of', 'csv=p=0', path], { encoding: 'utf8' });
  return Number.parseFloat(probed.stdout) || 0;
}

function near(value, expected, tolerance) {
  return Math.abs(value - expected) <= tolerance * expected;
}

test('a recording with both sources meters each, names its input and ends with a whole movie', async () => {
  const output = join(folder, 'both.mov');
  const alone = { system: join(folder, 'system.wav'), microphone: join(folder, 'microphone.f32') };
  const recording = await startRecording({ executable, output, microphoneName: 'Desk',
    systemPcm: alone.system, microphonePcm: alone.microphone });
  assert.equal(recording.microphone, 'USB Desk Microphone');
  // In a process group of its own, out of reach of a terminal's Ctrl-C.
  const groupOf = (pid) => spawnSync('ps', ['-o', 'pgid=', '-p', String(pid)], { encoding: 'utf8' })
    .stdout.trim();
  assert.equal(groupOf(recording.pid), String(recording.pid));
  assert.notEqual(groupOf(recording.pid), groupOf(process.pid));
  const levels = [];
  recording.on('level', (record) => levels.push(record));
  while (levels.length < 2) await new Promise((resolve) => recording.once('level', resolve));
  assert.ok(near(recording.lastLevel.system.rms, SYSTEM_RMS, 0.05), JSON.stringify(levels));
  assert.ok(near(recording.lastLevel.microphone.rms, MICROPHONE_RMS, 0.05), JSON.stringify(levels));
  assert.ok(near(recording.lastLevel.system.samples, 96000, 0.1), JSON.stringify(levels));
  const final = await recording.stop();
  assert.equal(final.event, 'final');
  assert.ok(Number.isInteger(final.systemSamples) && Number.isInteger(final.microphoneSamples),
    JSON.stringify(final));
  assert.equal(recording.exitCode, 0);
  assert.ok(audioSeconds(output) > 1.5, `audio of ${audioSeconds(output)} s`);
  // Each source alone, as long as the movie (stereo float at 48 kHz: 384,000 bytes a second).
  for (const path of Object.values(alone)) {
    assert.ok(near(statSync(path).size / 384000, audioSeconds(output), 0.05),
      `${path}: ${statSync(path).size} bytes for ${audioSeconds(output)} s`);
  }
});

test('an abort stops the recording as stop() does, with the final record', { timeout: 30000 }, async () => {
  const controller = new AbortController();
  const output = join(folder, 'aborted.mov');
  const recording = await startRecording({ executable, output, microphone: false,
    signal: controller.signal });
  controller.abort();
  const [outcome] = await once(recording, 'end');
  assert.equal(outcome.final?.event, 'final', JSON.stringify(outcome));
  assert.equal(recording.microphone, null);
  assert.equal(recording.exitCode, 0);
  assert.ok(audioSeconds(output) > 0, 'no movie');
});

test('a failed start, a refused command line and a killed tool reject with what happened', async () => {
  await assert.rejects(startRecording({ executable, output: join(folder, 'missing', 'x.mov') }), {
    name: 'RecordingError', stage: 'start', code: 'capture_failed', errorName: 'GError',
    domain: 'gst-resource-error-quark', errorCode: 6, exitCode: 1,
  });
  await assert.rejects(startRecording({ executable }),
    { name: 'RecordingError', code: 'missing_output', exitCode: 2, stage: null });
  const recording = await startRecording({ executable, output: join(folder, 'killed.mov'),
    microphone: false });
  process.kill(recording.pid, 'SIGKILL');
  await assert.rejects(recording.stop(),
    { name: 'RecordingError', code: 'unexpected_exit', signal: 'SIGKILL' });
  const missingTool = join(folder, 'no-such-tool');
  await assert.rejects(startRecording({ executable: missingTool, output: 'x.mov' }),
    { name: 'RecordingError', code: 'spawn_failed' });
});

test('the probe and the listing answer, or fail as the probe stage', async () => {
  assert.deepEqual(await probe({ executable }), { granted: true });
  const devices = await listMicrophones({ executable });
  assert.deepEqual(devices, [{ name: 'USB Desk Microphone', id: 'usb_microphone', default: true }]);

  const server = process.env.PULSE_SERVER;
  process.env.PULSE_SERVER = `unix:${join(folder, 'no-server')}`;
  try {
    for (const ask of [probe, listMicrophones]) {
      await assert.rejects(ask({ executable }), { name: 'RecordingError', stage: 'probe',
        domain: 'TessaloquinAudioCapture.Linux', errorCode: 1, exitCode: 1 });
    }
  } finally {
    process.env.PULSE_SERVER = server;
  }
});
