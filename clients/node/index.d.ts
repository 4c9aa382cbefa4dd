import { EventEmitter } from 'node:events';

/** One line of the tool's standard output. Records this package does not know pass unchanged. */
export interface ToolRecord {
  event: string;
  [key: string]: unknown;
}

export interface ReadyRecord extends ToolRecord {
  event: 'ready';
  /** The display name of the input recorded; absent without a microphone. */
  microphone?: string;
}

export interface LevelRecord extends ToolRecord {
  event: 'level' | 'final';
  systemSamples: number;
  systemRms: number;
  microphoneSamples: number;
  microphoneRms: number;
}

export interface FinalRecord extends LevelRecord {
  event: 'final';
}

export interface WarningRecord extends ToolRecord {
  event: 'warning';
  code: string;
}

export interface Microphone {
  name: string;
  id: string;
  default: boolean;
}

export interface SourceLevel {
  samples: number;
  /** Linear RMS, full scale 1.0. */
  rms: number;
}

export class RecordingError extends Error {
  name: 'RecordingError';
  /** "capture_failed", "missing_output", "unexpected_exit" or "spawn_failed". */
  code: string | null;
  /** "probe", "start" or "stop" for a failed stage. */
  stage: string | null;
  errorName: string | null;
  domain: string | null;
  errorCode: number | null;
  exitCode: number | null;
  signal: NodeJS.Signals | null;
  record: ToolRecord | null;
}

export interface ToolOptions {
  /** The tool to run; by default "tessaloquin-audio-capture" from PATH. */
  executable?: string;
}

export interface RecordingOptions extends ToolOptions {
  /** The movie to write. */
  output?: string;
  /** Whether to record a microphone as well; true by default. */
  microphone?: boolean;
  /** The microphone by display name: an exact match, else one that contains it or is contained. */
  microphoneName?: string;
  /**
   * Also writes the system audio alone here while recording: 32-bit float, 48 kHz, stereo; a WAV
   * when the path ends in ".wav", else raw. A FIFO or a pipe is written as its reader reads.
   */
  systemPcm?: string;
  /** The microphone alone, as systemPcm; unused without a microphone. */
  microphonePcm?: string;
  /** Aborting stops the recording as stop() does. */
  signal?: AbortSignal;
}

export function probe(options?: ToolOptions): Promise<{ granted: true }>;

export function listMicrophones(options?: ToolOptions): Promise<Microphone[]>;

export class Recording extends EventEmitter implements AsyncIterable<ToolRecord> {
  constructor(options?: RecordingOptions);
  /** Resolves at "ready"; rejects with a RecordingError when the start fails. */
  readonly ready: Promise<ReadyRecord>;
  readonly pid: number | undefined;
  /** The input recorded, from "ready"; null without a microphone or before "ready". */
  readonly microphone: string | null;
  /** The last "level" record's values, per source; null before the first. */
  readonly lastLevel: { system: SourceLevel | null; microphone: SourceLevel | null };
  /** Set once the process has ended. */
  readonly exitCode: number | null;
  readonly signalCode: NodeJS.Signals | null;
  /**
   * Sends one SIGINT (at "ready", when called before it) and resolves with the "final" record
   * once the movie is complete; rejects with a RecordingError for a failed stop or an unexpected
   * exit. Every call returns the same outcome.
   */
  stop(): Promise<FinalRecord>;
  [Symbol.asyncIterator](): AsyncIterator<ToolRecord>;

  on(event: 'ready', listener: (record: ReadyRecord) => void): this;
  on(event: 'level', listener: (record: LevelRecord) => void): this;
  on(event: 'warning', listener: (record: WarningRecord) => void): this;
  on(event: 'record', listener: (record: ToolRecord) => void): this;
  on(event: 'end', listener: (outcome: { final?: FinalRecord; error?: RecordingError }) => void): this;
  on(event: string | symbol, listener: (...args: any[]) => void): this;
}

/** Starts a recording and resolves with it at "ready". */
export function startRecording(options?: RecordingOptions): Promise<Recording>;
