// Runs the tessaloquin-audio-capture tool and turns its records into promises and events.
//
// The tool writes one JSON record per line on standard output and is stopped with SIGINT; this
// module starts it in its own process group, so that a terminal's Ctrl-C reaches only the parent,
// and relies on the tool's own watch of its parent when the parent dies.

import { spawn } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { createInterface } from 'node:readline';

const DEFAULT_EXECUTABLE = 'tessaloquin-audio-capture';

export class RecordingError extends Error {
  constructor(message, details = {}) {
    super(message, details.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'RecordingError';
    this.code = details.code ?? null; // "capture_failed", "missing_output", "unexpected_exit", "spawn_failed"
    this.stage = details.stage ?? null;
    this.errorName = details.errorName ?? null;
    this.domain = details.domain ?? null;
    this.errorCode = details.errorCode ?? null;
    this.exitCode = details.exitCode ?? null;
    this.signal = details.signal ?? null;
    this.record = details.record ?? null;
  }
}

// The error an "error" record stands for.
function errorOfRecord(record, exitCode) {
  if (record.code === 'capture_failed') {
    return new RecordingError(
      `The ${record.stage} stage failed: ${record.domain} ${record.errorCode} (${record.errorName})`,
      { ...record, exitCode, record },
    );
  }
  return new RecordingError(
    record.code === 'missing_output' ? 'No output path was given.' : `The tool failed: ${record.code}`,
    { code: record.code, exitCode, record },
  );
}

function unexpectedExit(exitCode, signal) {
  const how = signal ? `was killed by ${signal}` : `exited with status ${exitCode}`;
  return new RecordingError(`The tool ${how} without its last record.`, {
    code: 'unexpected_exit',
    exitCode,
    signal,
  });
}

// Starts the tool and calls onRecord for each record, then onClose(exitCode, signal, spawnError)
// once the process has ended and every record was read.
function runTool(executable, args, onRecord, onClose) {
  const child = spawn(executable ?? DEFAULT_EXECUTABLE, args, {
    detached: true,
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  let spawnError = null;
  child.on('error', (error) => {
    spawnError = error;
  });
  createInterface({ input: child.stdout, crlfDelay: Infinity }).on('line', (line) => {
    let record;
    try {
      record = JSON.parse(line);
    } catch {
      return; // the tool writes only records; anything else is not one
    }
    if (record !== null && typeof record === 'object') onRecord(record);
  });
  child.on('close', (exitCode, signal) => onClose(exitCode, signal, spawnError));
  return child;
}

function spawnFailure(executable, error) {
  return new RecordingError(`Cannot run ${executable ?? DEFAULT_EXECUTABLE}: ${error.message}`, {
    code: 'spawn_failed',
    cause: error,
  });
}

// Runs a one-shot command of the tool; resolves with the value `pick` finds in its records.
function runOnce(executable, args, pick) {
  return new Promise((resolve, reject) => {
    const records = [];
    runTool(executable, args, (record) => records.push(record), (exitCode, signal, spawnError) => {
      if (spawnError) return reject(spawnFailure(executable, spawnError));
      const error = records.find((record) => record.event === 'error');
      if (error) return reject(errorOfRecord(error, exitCode));
      const value = exitCode === 0 ? pick(records) : undefined;
      if (value === undefined) return reject(unexpectedExit(exitCode, signal));
      resolve(value);
    });
  });
}

export function probe({ executable } = {}) {
  return runOnce(executable, ['--probe'], (records) => {
    const answer = records.find((record) => record.event === 'probe');
    return answer?.granted === true ? { granted: true } : undefined;
  });
}

export function listMicrophones({ executable } = {}) {
  return runOnce(executable, ['--list-microphones'], (records) => {
    return records.find((record) => record.event === 'microphones')?.devices;
  });
}

function recordingArguments({
  output, microphone = true, microphoneName, systemPcm, microphonePcm,
}) {
  const args = [];
  if (output !== undefined) args.push('--output', String(output));
  if (microphone === false) args.push('--microphone', 'off');
  if (microphoneName !== undefined) args.push('--microphone-name', String(microphoneName));
  if (systemPcm !== undefined) args.push('--system-pcm', String(systemPcm));
  if (microphonePcm !== undefined) args.push('--microphone-pcm', String(microphonePcm));
  // A SIGTERM from elsewhere (child.kill(), a logout) then completes the movie too.
  args.push('--stop-on-sigterm');
  return args;
}

// One run of the tool, from spawn to exit. Emits "ready", "level", "warning" and every record as
// "record" (those this module does not know included), and "end" once the process has ended.
export class Recording extends EventEmitter {
  #child;
  #ready = false;
  #stopAsked = false;
  #interruptSent = false;
  #outcome = null; // { final } or { error }, once known
  #ended = false;
  #stopped;
  #records = [];
  #waiters = [];
  #pendingEvents = [];

  constructor(options = {}) {
    super();
    this.microphone = null;
    this.warnings = [];
    this.exitCode = null;
    this.signalCode = null;
    this.lastLevel = { system: null, microphone: null };
    let settleReady;
    this.ready = new Promise((resolve, reject) => {
      settleReady = { resolve, reject };
    });
    this.ready.catch(() => {}); // the failure is also stop()'s, and startRecording's
    let settleStopped;
    this.#stopped = new Promise((resolve, reject) => {
      settleStopped = { resolve, reject };
    });
    this.#stopped.catch(() => {});

    this.#child = runTool(
      options.executable,
      recordingArguments(options),
      (record) => this.#take(record, settleReady),
      (exitCode, signal, spawnError) => {
        let outcome = this.#outcome;
        if (spawnError) outcome = { error: spawnFailure(options.executable, spawnError) };
        else if (!outcome) outcome = { error: unexpectedExit(exitCode, signal) };
        else if (outcome.error) outcome.error.exitCode = exitCode;
        this.#outcome = outcome;
        this.#ended = true;
        this.exitCode = exitCode;
        this.signalCode = signal;
        if (outcome.error) {
          settleReady.reject(outcome.error);
          settleStopped.reject(outcome.error);
        } else {
          settleStopped.resolve(outcome.final);
        }
        this.#finishIteration();
        this.#emitLater('end', outcome);
      },
    );
    this.pid = this.#child.pid;

    const signal = options.signal;
    if (signal) {
      const onAbort = () => this.stop().catch(() => {});
      if (signal.aborted) onAbort();
      else {
        signal.addEventListener('abort', onAbort, { once: true });
        this.once('end', () => signal.removeEventListener('abort', onAbort));
      }
    }
  }

  #take(record, settleReady) {
    switch (record.event) {
      case 'ready':
        this.#ready = true;
        this.microphone = typeof record.microphone === 'string' ? record.microphone : null;
        settleReady.resolve(record);
        if (this.#stopAsked) this.#interrupt();
        break;
      case 'level':
        this.lastLevel = {
          system: { samples: record.systemSamples, rms: record.systemRms },
          microphone: { samples: record.microphoneSamples, rms: record.microphoneRms },
        };
        break;
      case 'final':
        this.#outcome = { final: record };
        break;
      case 'error':
        this.#outcome = { error: errorOfRecord(record, null) };
        break;
      default:
        break;
    }
    if (record.event === 'warning') this.warnings.push(record);
    if (record.event === 'ready' || record.event === 'level' || record.event === 'warning') {
      this.#emitLater(record.event, record);
    }
    this.#emitLater('record', record);
    this.#push(record);
  }

  // Events go out in order on a later turn, so that a listener added right after startRecording()
  // resolved still hears the records that came in the same read as "ready".
  #emitLater(name, value) {
    this.#pendingEvents.push([name, value]);
    if (this.#pendingEvents.length > 1) return;
    setImmediate(() => {
      for (let index = 0; index < this.#pendingEvents.length; index += 1) {
        this.emit(...this.#pendingEvents[index]);
      }
      this.#pendingEvents = [];
    });
  }

  #interrupt() {
    if (this.#interruptSent || this.#outcome || this.#ended) return;
    this.#interruptSent = true;
    try {
      this.#child.kill('SIGINT');
    } catch {
      // Already gone: its end settles the stop.
    }
  }

  // Stops the recording with one SIGINT (at "ready", when asked before it) and resolves with the
  // "final" record once the movie is complete. Every call returns the same outcome.
  stop() {
    this.#stopAsked = true;
    if (this.#ready) this.#interrupt();
    return this.#stopped;
  }

  #push(record) {
    const waiter = this.#waiters.shift();
    if (waiter) waiter({ value: record, done: false });
    else this.#records.push(record);
  }

  #finishIteration() {
    for (const waiter of this.#waiters.splice(0)) waiter({ value: undefined, done: true });
  }

  // Every record from the start on, "final" or "error" included, until the process has ended.
  [Symbol.asyncIterator]() {
    return {
      next: () => {
        if (this.#records.length > 0) {
          return Promise.resolve({ value: this.#records.shift(), done: false });
        }
        if (this.#ended) {
          return Promise.resolve({ value: undefined, done: true });
        }
        return new Promise((resolve) => this.#waiters.push(resolve));
      },
      return: () => Promise.resolve({ value: undefined, done: true }),
      [Symbol.asyncIterator]() {
        return this;
      },
    };
  }
}

// Starts a recording and resolves with it at "ready"; rejects with a RecordingError when the
// start fails or the command line is refused.
export async function startRecording(options = {}) {
  const recording = new Recording(options);
  await recording.ready;
  return recording;
}
