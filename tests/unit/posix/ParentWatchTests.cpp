#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/PosixDispatch.h"

namespace platform::posix {
namespace {

enum class ParentEnds { afterActivation, betweenCreationAndActivation };

// A family of three: this process, a parent that ends when told, and the watcher, its child,
// which reports on a pipe when its parent-exit source runs its handler on the main queue.
class Family {
 public:
  explicit Family(ParentEnds when) {
    // The orphaned watcher comes to this process, which can reap it.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    EXPECT_EQ(::pipe(release_), 0);
    EXPECT_EQ(::pipe(report_), 0);
    parent_ = ::fork();
    if (parent_ == 0) beParent(when);
    ::close(release_[0]);
    ::close(report_[1]);
  }
  ~Family() {
    ::close(release_[1]);
    ::close(report_[0]);
    ::waitpid(parent_, nullptr, 0);
    // The watcher ends by itself once it has reported, or when its alarm goes off.
    ::waitpid(-1, nullptr, 0);
  }

  // Waits for the watcher's message: "armed", then "reported".
  std::string nextWord(int timeoutMilliseconds = 5000) const {
    pollfd ready{report_[0], POLLIN, 0};
    if (::poll(&ready, 1, timeoutMilliseconds) != 1) return "nothing";
    char word[16] = {};
    const ssize_t count = ::read(report_[0], word, sizeof word - 1);
    return count > 0 ? std::string(word, static_cast<std::size_t>(count)) : "nothing";
  }
  void endParent() const {
    ::close(release_[1]);
    ::waitpid(parent_, nullptr, 0);
  }

 private:
  [[noreturn]] void beParent(ParentEnds when) {
    ::close(release_[1]);
    ::close(report_[0]);
    if (::fork() == 0) beWatcher(when);
    char byte;
    while (::read(release_[0], &byte, 1) > 0) {
    }
    ::_exit(0);
  }

  [[noreturn]] void beWatcher(ParentEnds when) {
    ::close(release_[0]);
    ::alarm(10);
    const pid_t parent = ::getppid();
    PosixDispatch dispatch;
    const auto watch = dispatch.makeParentExitSource();
    watch->setEventHandler([&] {
      say("reported");
      dispatch.mainQueue().quit();
    });
    if (when == ParentEnds::afterActivation) watch->activate();
    say("armed");
    if (when == ParentEnds::betweenCreationAndActivation) {
      while (::getppid() == parent) ::usleep(1000);
      watch->activate();
    }
    dispatch.mainQueue().run();
    ::_exit(0);
  }
  void say(const char* word) const { (void)!::write(report_[1], word, std::strlen(word)); }

  int release_[2] = {-1, -1};
  int report_[2] = {-1, -1};
  pid_t parent_ = -1;
};

TEST(ParentWatch, ReportsTheEndOfTheParentWheneverItCame) {
  for (const ParentEnds when :
       {ParentEnds::afterActivation, ParentEnds::betweenCreationAndActivation}) {
    Family family(when);
    ASSERT_EQ(family.nextWord(), "armed");
    EXPECT_EQ(family.nextWord(200), "nothing") << "reported while the parent lives";
    family.endParent();
    EXPECT_EQ(family.nextWord(), "reported");
  }
}

}  // namespace
}  // namespace platform::posix
