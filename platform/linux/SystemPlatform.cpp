// The Linux platform: PulseAudio (or PipeWire's pulse server) for content and devices,
// GStreamer for capture and recording, both in the media module (MediaServices.cpp).
//
// create:  makeSystemPlatform() makes only the dispatch service, so that the process reaches its
//          run within milliseconds and a usage error costs nothing more. It throws PlatformError
//          when even the dispatch service's few descriptors are refused.
// start:   the first content query (the probe's, or the start's first step) checks that the
//          address space and the descriptors a recording needs are allowed, and loads the media
//          module, on the caller's thread. When either
//          fails, the query fails with the reason, and so does the stage; otherwise every call
//          goes to the module's services from then on.
// finish:  the platform and the module live until the process ends.
//
// The dispatch service is the POSIX one.
#include <dlfcn.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/ToolErrors.h"
#include "platform/linux/Errors.h"
#include "platform/linux/MediaServices.h"
#include "platform/posix/PosixDispatch.h"
#include "platform/posix/PosixStorageSpace.h"

namespace platform {

namespace {

using linux_gst::MediaServices;
using linux_gst::ServiceErrorCode;

constexpr const char* kMediaModuleName = TESSALOQUIN_MEDIA_MODULE;
constexpr const char* kInstalledMediaFolder = TESSALOQUIN_INSTALLED_MEDIA_FOLDER;

// Errors.cpp is the module's, so that this side needs no GLib.
PlatformError loaderError(ServiceErrorCode code, const std::string& description) {
  return PlatformError(linux_gst::kErrorTypeName, linux_gst::kServiceErrorDomain,
                       static_cast<std::int64_t>(code), description);
}

// A recording with a microphone holds 25 descriptors at its peak, 18 more than when the first
// query starts; the rest is room for what a server or an output may add.
constexpr int kDescriptorsNeeded = 40;
// The dispatch service holds five (two self-pipes and the parent watch); the loader and a
// sanitizer's runtime open a few more for a moment.
constexpr int kDescriptorsForDispatch = 8;

// Under RLIMIT_AS a failed allocation aborts inside GLib or libpulse, or makes the server look
// unreachable, so a limit too low is refused before anything is loaded. Address space, not
// memory: each thread's stack and malloc arena is reserved whole. Measured on Debian 12 x86_64,
// a recording with a microphone needs 1,139 MiB and a probe 366 MiB; a probe is held to what a
// recording needs, as a granted probe promises that a recording can run.
constexpr rlim_t kAddressSpaceNeeded = rlim_t{1536} << 20;

bool addressSpaceAllowed() {
  struct rlimit limit;
  return ::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
         limit.rlim_cur >= kAddressSpaceNeeded;
}

// GLib ends the process when it cannot make a descriptor, so what a recording needs is claimed
// once, up front, and given back.
bool descriptorsLeft(int count) {
  std::vector<int> claimed;
  for (int index = 0; index < count; ++index) {
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd == -1) break;
    claimed.push_back(fd);
  }
  const bool enough = static_cast<int>(claimed.size()) == count;
  for (const int fd : claimed) ::close(fd);
  return enough;
}

PlatformError tooFewDescriptors() {
  return loaderError(ServiceErrorCode::descriptorsRefused,
                     "Too few file descriptors are left for a recording.");
}

// The module lies beside the executable in a build folder, and in its own library folder, at a
// fixed place relative to the executable, once installed.
std::filesystem::path mediaModulePath() {
  std::error_code ignored;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
  const auto beside = folder / kMediaModuleName;
  if (std::filesystem::exists(beside, ignored)) return beside;
  return folder / kInstalledMediaFolder / kMediaModuleName;
}

MediaServices* loadMedia() {
  if (!addressSpaceAllowed()) {
    throw toolError(linux_gst::kErrorTypeName, ToolErrorCode::resourceRefused);
  }
  if (!descriptorsLeft(kDescriptorsNeeded)) throw tooFewDescriptors();
  void* handle = ::dlopen(mediaModulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw loaderError(ServiceErrorCode::mediaUnavailable, ::dlerror());
  const auto* interface = static_cast<const char*>(::dlsym(handle, "tessaloquinMediaInterface"));
  if (interface == nullptr || std::strcmp(interface, TESSALOQUIN_MEDIA_INTERFACE) != 0) {
    throw loaderError(ServiceErrorCode::mediaUnavailable,
                      "The media module is from another build of the tool.");
  }
  void* entry = ::dlsym(handle, "tessaloquinMakeMediaServices");
  if (entry == nullptr) throw loaderError(ServiceErrorCode::mediaUnavailable, ::dlerror());
  return reinterpret_cast<MediaServices* (*)()>(entry)();
}

// Hands every call to the media module's service, loading the module on the first content query.
// Until a query has succeeded nothing else is called: the core asks for content first.
class LazyScreenCapture final : public ScreenCaptureService {
 public:
  std::string errorTypeName() const override { return linux_gst::kErrorTypeName; }

  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           ContentCompletion completion) override {
    if (auto failure = load()) {
      completion(std::nullopt, std::move(failure));
      return;
    }
    media_->screenCapture().getShareableContent(excludingDesktopWindows, onScreenWindowsOnly,
                                                std::move(completion));
  }
  std::shared_ptr<ContentFilter> makeContentFilter(
      std::shared_ptr<const Display> display,
      std::vector<std::shared_ptr<const RunningApplication>> excludingApplications) override {
    return media_->screenCapture().makeContentFilter(std::move(display),
                                                     std::move(excludingApplications));
  }
  std::shared_ptr<Stream> makeStream(std::shared_ptr<ContentFilter> filter,
                                     const StreamConfiguration& configuration,
                                     std::weak_ptr<StreamDelegate> delegate) override {
    return media_->screenCapture().makeStream(std::move(filter), configuration,
                                              std::move(delegate));
  }
  std::shared_ptr<RecordingOutput> makeRecordingOutput(
      const RecordingOutputConfiguration& configuration,
      std::weak_ptr<RecordingOutputDelegate> delegate) override {
    return media_->screenCapture().makeRecordingOutput(configuration, std::move(delegate));
  }

  // Null until a content query or a listing has loaded the module.
  MediaServices* media() const { return media_; }

  // Loads the module on the first call, on the caller's thread; its failure, on every call.
  std::optional<PlatformError> load() {
    std::call_once(loaded_, [this] {
      try {
        media_ = loadMedia();
      } catch (const PlatformError& error) {
        failure_ = error;
      }
    });
    if (media_ == nullptr) return failure_;
    return std::nullopt;
  }

 private:
  std::once_flag loaded_;
  // Written once under loaded_, read-only after; the core calls nothing else before that.
  MediaServices* media_ = nullptr;
  std::optional<PlatformError> failure_;
};

// The microphones, once a content query has loaded the module; none before. A listing loads the
// module itself, as it comes without a content query.
class LazyAudioDevices final : public AudioDeviceDiscovery {
 public:
  explicit LazyAudioDevices(LazyScreenCapture& capture) : capture_(capture) {}
  std::vector<AudioCaptureDevice> microphones() override {
    return capture_.media() ? capture_.media()->audioDevices().microphones()
                            : std::vector<AudioCaptureDevice>{};
  }
  std::optional<AudioCaptureDevice> defaultAudioDevice() override {
    return capture_.media() ? capture_.media()->audioDevices().defaultAudioDevice() : std::nullopt;
  }
  MicrophoneInventory listMicrophones() override {
    if (auto failure = capture_.load()) throw *failure;
    return capture_.media()->audioDevices().listMicrophones();
  }

 private:
  LazyScreenCapture& capture_;
};

class LinuxPlatform final : public PlatformServices {
 public:
  ScreenCaptureService& screenCapture() override { return screenCapture_; }
  AudioDeviceDiscovery& audioDevices() override { return audioDevices_; }
  Dispatch& dispatch() override { return dispatch_; }
  StorageSpace& storage() override { return storage_; }

 private:
  posix::PosixDispatch dispatch_;
  LazyScreenCapture screenCapture_;
  LazyAudioDevices audioDevices_{screenCapture_};
  posix::PosixStorageSpace storage_;
};

}  // namespace

std::unique_ptr<PlatformServices> makeSystemPlatform() {
  // Checked here so that a lack is a clear error rather than an exception out of a half-made
  // object.
  if (!descriptorsLeft(kDescriptorsForDispatch)) throw tooFewDescriptors();
  return std::make_unique<LinuxPlatform>();
}

}  // namespace platform
