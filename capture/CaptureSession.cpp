#include "capture/CaptureSession.h"

#include <unistd.h>

#include <chrono>

#include "capture/LevelRecord.h"
#include "capture/MicrophoneSelection.h"
#include "capture/ServiceCalls.h"
#include "capture/StandardOutputPath.h"
#include "capture/WarningRecords.h"
#include "platform/ToolErrors.h"

namespace capture {

namespace {

using platform::StreamOutputType;

// A level record a second, which is also the step in which a microphone that delivers nothing
// is counted silent.
constexpr std::chrono::seconds kLevelPeriod{1};
// The stream's audio: what the microphone is taken at too.
constexpr std::int64_t kSampleRate = 48000;
constexpr std::int64_t kChannelCount = 2;
using platform::toolError;
using platform::ToolErrorCode;

std::vector<std::shared_ptr<const platform::RunningApplication>> applicationsOfProcess(
    const std::vector<std::shared_ptr<const platform::RunningApplication>>& applications,
    std::int32_t processID) {
  std::vector<std::shared_ptr<const platform::RunningApplication>> own;
  for (const auto& application : applications) {
    if (application->processID() == processID) own.push_back(application);
  }
  return own;
}

}  // namespace

std::shared_ptr<CaptureSession> CaptureSession::create(platform::PlatformServices& platform,
                                                       events::EventSink& events,
                                                       std::filesystem::path outputURL,
                                                       bool captureMicrophone,
                                                       std::optional<std::string> microphoneName,
                                                       PcmPaths pcmPaths) {
  return std::make_shared<CaptureSession>(ConstructionKey{}, platform, events, std::move(outputURL),
                                          captureMicrophone, std::move(microphoneName),
                                          std::move(pcmPaths));
}

CaptureSession::CaptureSession(ConstructionKey, platform::PlatformServices& platform,
                               events::EventSink& events, std::filesystem::path outputURL,
                               bool captureMicrophone, std::optional<std::string> microphoneName,
                               PcmPaths pcmPaths)
    : platform_(platform),
      events_(events),
      outputURL_(std::move(outputURL)),
      captureMicrophone_(captureMicrophone),
      microphoneName_(std::move(microphoneName)),
      pcmPaths_(std::move(pcmPaths)),
      sampleQueue_(platform.dispatch().makeSerialQueue("com.tessaloquin.audio-samples")) {}

platform::Task<void> CaptureSession::start() {
  platform::ScreenCaptureService& service = platform_.screenCapture();
  // Only a path that names no directory is relative here: the current one could not be found.
  if (outputURL_.is_relative()) {
    throw toolError(service.errorTypeName(), ToolErrorCode::relativeOutputWithoutDirectory);
  }
  // Refused before the platform opens it: the movie would tear the records apart.
  if (isStandardOutput(outputURL_)) {
    throw toolError(service.errorTypeName(), ToolErrorCode::outputIsStandardOutput);
  }
  openPcmStreams();
  const platform::ShareableContent content =
      co_await requestShareableContent(service, platform_.dispatch());
  if (content.displays.empty()) throw toolError(service.errorTypeName(), ToolErrorCode::noDisplay);

  auto filter = service.makeContentFilter(content.displays.front(),
                                          applicationsOfProcess(content.applications, getpid()));
  auto stream = service.makeStream(std::move(filter), streamConfiguration(), weak_from_this());
  stream->addStreamOutput(weak_from_this(), StreamOutputType::audio, sampleQueue_);
  if (captureMicrophone_) {
    stream->addStreamOutput(weak_from_this(), StreamOutputType::microphone, sampleQueue_);
  }
  auto recordingOutput = service.makeRecordingOutput(
      {outputURL_, platform::FileType::quickTimeMovie, platform::VideoCodecType::h264},
      weak_from_this());
  stream->addRecordingOutput(recordingOutput);
  stream_ = stream;
  recordingOutput_ = std::move(recordingOutput);

  // Made apart from the co_await: GCC 12 destroys a lambda temporary of the awaited expression
  // twice, releasing what it captured once too often.
  auto starting = completionWithin(
      kStartWait, "startCapture", platform_.dispatch(),
      [stream](platform::ErrorCompletion completion) { stream->startCapture(completion); },
      toolError(service.errorTypeName(), ToolErrorCode::platformUnanswered));
  const auto startError = co_await starting;
  if (startError) {
    stream->removeOutputs();  // nothing records
    throw *startError;
  }
  startLevelTimer();
  startDiskWatch();
}

std::optional<std::filesystem::path> CaptureSession::microphonePcmPath() const {
  return captureMicrophone_ ? pcmPaths_.microphone : std::nullopt;
}

std::array<std::optional<std::filesystem::path>, 2> CaptureSession::sourceFiles() const {
  return {pcmPaths_.system, microphonePcmPath()};
}

// Before anything is asked of the platform, so that a path that cannot be written fails the start
// at once. Without a path nothing is made, and capture runs as it would without the feature.
void CaptureSession::openPcmStreams() {
  const std::optional<std::filesystem::path> microphone = microphonePcmPath();
  if (!pcmPaths_.system && !microphone) return;
  const std::string errorType = platform_.screenCapture().errorTypeName();
  // Checked before opening, which would truncate the records, the movie or the other stream:
  // two writers of one file tear each other's data apart.
  for (const auto* path : {&pcmPaths_.system, &microphone}) {
    if (!*path) continue;
    if (isStandardOutput(**path)) throw toolError(errorType, ToolErrorCode::outputIsStandardOutput);
    if (namesSameFile(**path, outputURL_)) {
      throw toolError(errorType, ToolErrorCode::outputsShareFile);
    }
  }
  if (pcmPaths_.system && microphone && namesSameFile(*pcmPaths_.system, *microphone)) {
    throw toolError(errorType, ToolErrorCode::outputsShareFile);
  }
  try {
    pcm_ = std::make_unique<PcmStreams>(
        pcmPaths_, captureMicrophone_,
        // pcm_ joins its writers when it goes, before sampleQueue_, which warn() posts to.
        [this](const events::EventRecord& record) { warn(record); });
  } catch (const PcmStreams::OpenFailure&) {
    throw toolError(errorType, ToolErrorCode::sourcePathUnopenable);
  }
}

platform::StreamConfiguration CaptureSession::streamConfiguration() {
  platform::StreamConfiguration configuration;
  configuration.width = 2;
  configuration.height = 2;
  configuration.minimumFrameInterval = {1, 1};
  configuration.queueDepth = 3;
  configuration.showsCursor = false;
  configuration.capturesAudio = true;
  configuration.sampleRate = kSampleRate;
  configuration.channelCount = kChannelCount;
  configuration.excludesCurrentProcessAudio = true;
  configuration.captureMicrophone = captureMicrophone_;
  if (captureMicrophone_) {
    const MicrophoneChoice microphone = microphoneDevice();
    recordedMicrophone_ = microphone.device;
    if (microphone.device) configuration.microphoneCaptureDeviceID = microphone.device->uniqueID;
    // The microphone the user named stays put; the default one follows the user's default.
    configuration.microphoneKeptOnDevice = microphone.byName;
  }
  return configuration;
}

CaptureSession::MicrophoneChoice CaptureSession::microphoneDevice() {
  platform::AudioDeviceDiscovery& devices = platform_.audioDevices();
  if (microphoneName_ && !microphoneName_->empty()) {
    if (auto named = findMicrophoneByName(devices.microphones(), *microphoneName_)) {
      return {std::move(named), true};
    }
    events_.emit(warningRecord("microphone_fallback"));
  }
  return {devices.defaultAudioDevice(), false};
}

void CaptureSession::startLevelTimer() {
  auto timer = platform_.dispatch().makeRepeatingTimer(sampleQueue_);
  timer->schedule(kLevelPeriod, kLevelPeriod);
  timer->setEventHandler([weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) self->emitLevel();
  });
  levelTimer_ = std::move(timer);
  levelTimer_->activate();
}

void CaptureSession::emitLevel() {
  const LevelReading system = systemStats_.snapshot(true);
  const LevelReading microphone = microphoneStats_.snapshot(true);
  events_.emit(levelRecord("level", system, microphone));
  // The system audio shows that the stream flowed; a stall of the whole stream is no microphone's.
  if (captureMicrophone_ && microphone.samples == 0 && system.samples != 0) {
    countMicrophoneSilence(kLevelPeriod, 0.0);
  }
}

void CaptureSession::streamDidOutputSampleBuffer(const platform::SampleBuffer& sampleBuffer,
                                                 StreamOutputType type) {
  switch (type) {
    case StreamOutputType::audio:
      systemStats_.add(sampleBuffer);
      break;
    case StreamOutputType::microphone:
      watchMicrophoneSilence(microphoneStats_.add(sampleBuffer), sampleBuffer.layout());
      break;
    default:
      return;
  }
  if (pcm_) pcm_->add(type, sampleBuffer);
}

}  // namespace capture
