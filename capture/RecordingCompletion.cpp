// How a recording ends: stop() stops the level timer and the stream, then waits, for a bounded
// time each, for the stream's stop and for the recording output to say the file is complete. The
// finish state (recordingFinished_, finishWaiter_) and the stored failure change only under
// finishLock_; the waiter is always resumed after the lock is released, by exactly one of the wait
// itself, the finish and failure callbacks, and the time-out.
#include <array>
#include <chrono>
#include <memory>

#include "capture/CaptureSession.h"
#include "capture/LevelRecord.h"
#include "capture/ServiceCalls.h"
#include "capture/WarningRecords.h"
#include "platform/ToolErrors.h"

namespace capture {

namespace {

using platform::StreamOutputType;

constexpr double kFinishWaitSeconds = 15.0;
constexpr std::chrono::seconds kStopWait{15};
constexpr std::chrono::seconds kFlushWait{15};
// Disk readings (2 s apart) from one flush of the movie to the next while recording: a machine
// that stops then loses about 6 s of it, not the 30 s or more the system may hold back, and the
// flushes come about as often as a journalling file system commits anyway.
constexpr int kReadingsPerFlush = 3;
// Whose own file each of sourceFlushFailed_ is about.
constexpr std::array<StreamOutputType, 2> kSourceFileTypes{StreamOutputType::audio,
                                                           StreamOutputType::microphone};

using platform::toolError;
using platform::ToolErrorCode;

}  // namespace

platform::Task<events::EventRecord> CaptureSession::stop() {
  if (levelTimer_) levelTimer_->cancel();
  levelTimer_.reset();
  if (diskTimer_) diskTimer_->cancel();
  diskTimer_.reset();

  const std::shared_ptr<platform::Stream> stream = stream_;
  if (stream) {
    // Made apart from the co_await, as in start(). A stop that never completes still leaves the
    // wait for the file, which may have ended all the same.
    auto stopping = completionWithin(
        kStopWait, "stopCapture", platform_.dispatch(),
        [stream](platform::ErrorCompletion completion) { stream->stopCapture(completion); },
        std::nullopt);
    const auto stopError = co_await stopping;
    if (stopError) storeFailure(*stopError, FailureReport::stopCompletion);
  }

  const bool finished = co_await waitForRecordingFinish(kFinishWaitSeconds);
  // Not before the file's end: a file still being finished would be cut off.
  if (finished && stream) stream->removeOutputs();
  // Buffers have stopped by now; the streams end whole also when the movie failed, and their
  // last warnings come before the warnings close.
  if (pcm_) {
    co_await pcm_->finish(platform_.dispatch().mainQueue());
    co_await flushSourceFilesAtStop();
  }
  co_await closeWarnings();
  const std::optional<platform::PlatformError> failure = storedFailure();
  if (failure) throw *failure;
  const std::string errorTypeName = platform_.screenCapture().errorTypeName();
  if (!finished) throw toolError(errorTypeName, ToolErrorCode::recordingNotFinished);
  // Deleted or renamed away while recording: the complete movie is nowhere the parent looks.
  if (movieGone()) throw toolError(errorTypeName, ToolErrorCode::movieGone);
  // "final" promises a movie the machine keeps should it stop right after, and one whose writes
  // did not fail where the system tells only when asked to flush them (a network file system).
  if (const auto notFlushed = co_await flushMovie()) throw *notFlushed;

  const LevelReading system = systemStats_.snapshot(false);
  const LevelReading microphone = microphoneStats_.snapshot(false);
  co_return levelRecord("final", system, microphone);
}

platform::Task<bool> CaptureSession::waitForRecordingFinish(double seconds) {
  platform::OneShotWaiter<> waiter("waitForRecordingFinish(seconds:)",
                                   platform_.dispatch().mainQueue());
  bool alreadyFinished = false;
  {
    std::lock_guard guard(finishLock_);
    alreadyFinished = recordingFinished_;
    if (!alreadyFinished) finishWaiter_ = waiter;
  }
  if (alreadyFinished) {
    waiter.resume();
  } else {
    const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(seconds));
    platform_.dispatch().runAfter(delay, [weakSelf = weak_from_this()] {
      if (auto self = weakSelf.lock()) self->finishWaitTimedOut();
    });
  }
  co_await waiter;
  std::lock_guard guard(finishLock_);
  co_return recordingFinished_;
}

void CaptureSession::finishWaitTimedOut() {
  std::optional<platform::OneShotWaiter<>> waiter;
  {
    std::lock_guard guard(finishLock_);
    waiter = std::exchange(finishWaiter_, std::nullopt);
  }
  if (waiter) waiter->resume();
}

void CaptureSession::resumeFinishWaiter(bool finished) {
  std::optional<platform::OneShotWaiter<>> waiter;
  {
    std::lock_guard guard(finishLock_);
    recordingFinished_ = finished;
    waiter = std::exchange(finishWaiter_, std::nullopt);
  }
  if (waiter) waiter->resume();
}

// Stored for the stop, and told now: a stopped stream delivers no source any more.
void CaptureSession::streamDidStopWithError(const platform::PlatformError& error) {
  storeFailure(error, FailureReport::callback);
  reportSourceLost(StreamOutputType::audio, error);
  reportSourceLost(StreamOutputType::microphone, error);
}

void CaptureSession::recordingOutputDidStartRecording() {
  const std::optional<FileIdentity> started = identityOf(outputURL_);
  std::lock_guard guard(finishLock_);
  startedMovie_ = started;
}

void CaptureSession::recordingOutputDidFinishRecording() {
  resumeFinishWaiter(true);
}

// Stored for the stop, and told now: the movie can no longer be written.
void CaptureSession::recordingOutputDidFailWithError(const platform::PlatformError& error) {
  storeFailure(error, FailureReport::callback);  // before the waiter, which then reads it
  warn(recordingFailedWarning(error));
  resumeFinishWaiter(true);
}

// Told now; the stop decides nothing on it: writes that go on again lose nothing.
void CaptureSession::recordingOutputDidStallWriting() {
  warn(recordingStalledWarning());
}

void CaptureSession::recordingOutputDidResumeWriting(double stalledSeconds) {
  warn(recordingResumedWarning(stalledSeconds));
}

// The one rule for the failure stop() throws. A failure the platform calls back with (or a flush
// while recording finds) replaces the stored one: the later callback tells how the recording
// ended (a stream that stopped, then a file that could not be finished, ends with the file's). The
// stop's own error only fills an empty slot: a stop that fails after a reported failure fails
// because of it. A platform reports each fault once, so a replacement is always a new fault.
void CaptureSession::storeFailure(const platform::PlatformError& error, FailureReport report) {
  std::lock_guard guard(finishLock_);
  if (report == FailureReport::callback || !recordingFailure_) recordingFailure_ = error;
}

bool CaptureSession::movieGone() {
  std::optional<FileIdentity> started;
  {
    std::lock_guard guard(finishLock_);
    started = startedMovie_;
  }
  return started && identityOf(outputURL_) != started;
}

platform::PlatformError CaptureSession::notOnStorageError() const {
  return toolError(platform_.screenCapture().errorTypeName(), ToolErrorCode::movieNotOnStorage);
}

// On the disk queue, which a disk reading on a storage that hangs may hold: the wait is bounded.
// The job holds the queue, so that a flush that hangs leaves its thread to end on its own rather
// than holding up the session's end, and with it the tool's exit.
platform::Task<std::optional<platform::PlatformError>> CaptureSession::flushMovie() {
  const platform::PlatformError notFlushed = notOnStorageError();
  platform::StorageSpace& storage = platform_.storage();  // outlives the session
  // Made apart from the co_await, as in stop().
  auto flushing = completionWithin(
      kFlushWait, "flushMovie", platform_.dispatch(),
      [queue = diskQueue_, &storage, path = outputURL_,
       notFlushed](platform::ErrorCompletion done) {
        queue->post([queue, &storage, path, notFlushed, done = std::move(done)] {
          done(storage.flush(path) ? std::nullopt : std::optional(notFlushed));
        });
      },
      notFlushed);
  co_return co_await flushing;
}

// A write error the system tells only when flushed is told to one flush alone, so it is kept for
// the stop, whose own flush would not hear of it again.
void CaptureSession::flushWhileRecording() {
  if (++readingsSinceFlush_ < kReadingsPerFlush) return;
  readingsSinceFlush_ = 0;
  if (!flushFailed_ && !movieToldGone_ && !platform_.storage().flush(outputURL_)) {
    flushFailed_ = true;
    const platform::PlatformError error = notOnStorageError();
    storeFailure(error, FailureReport::callback);
    warn(recordingFailedWarning(error));
  }
  flushSourceFiles();
}

// The stream goes on: what the system lost of it is lost, and what comes may be kept yet.
void CaptureSession::flushSourceFiles() {
  const auto files = sourceFiles();
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (!files[index] || sourceFlushFailed_[index] || platform_.storage().flush(*files[index])) {
      continue;
    }
    // Once, also against a stop that gave up on this flush meanwhile.
    if (!sourceFlushFailed_[index].exchange(true)) {
      warn(pcmWriteFailedWarning(*sourceName(kSourceFileTypes[index])));
    }
  }
}

// "final" promises the sources' own files as it does the movie. The job holds what it flushes and
// not the session, as the movie's does; one that does not end in time leaves every file not yet
// told as not on its storage.
platform::Task<void> CaptureSession::flushSourceFilesAtStop() {
  auto files = sourceFiles();
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (sourceFlushFailed_[index]) files[index].reset();  // told already
  }
  auto failed = std::make_shared<std::array<bool, 2>>();  // read only once the job completed
  platform::StorageSpace& storage = platform_.storage();  // outlives the session
  // Made apart from the co_await, as in stop().
  auto flushing = completionWithin(
      kFlushWait, "flushSourceFiles", platform_.dispatch(),
      [queue = diskQueue_, &storage, files, failed](platform::ErrorCompletion done) {
        queue->post([queue, &storage, files, failed, done = std::move(done)] {
          for (std::size_t index = 0; index < files.size(); ++index) {
            (*failed)[index] = files[index] && !storage.flush(*files[index]);
          }
          done(std::nullopt);
        });
      },
      notOnStorageError());
  const bool inTime = !co_await flushing;
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (files[index] && (!inTime || (*failed)[index]) &&
        !sourceFlushFailed_[index].exchange(true)) {
      warn(pcmWriteFailedWarning(*sourceName(kSourceFileTypes[index])));
    }
  }
}

std::optional<platform::PlatformError> CaptureSession::storedFailure() {
  std::lock_guard guard(finishLock_);
  return recordingFailure_;
}

}  // namespace capture
