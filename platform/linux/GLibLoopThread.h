#pragma once

#include <functional>
#include <memory>
#include <thread>

typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

namespace platform::linux_gst {

// One thread running a private GLib main context: the home of every bus watch, sound-server
// query and pipeline state change of the service. Work posted here runs one item at a time in
// posting order; state touched only from this thread needs no lock.
class GLibLoopThread {
 public:
  GLibLoopThread();
  ~GLibLoopThread();  // quits the loop and joins the thread
  GLibLoopThread(const GLibLoopThread&) = delete;
  GLibLoopThread& operator=(const GLibLoopThread&) = delete;

  // Thread-safe; never runs `work` before returning.
  void post(std::function<void()> work);
  // The context that sources must be attached to.
  GMainContext* context() const { return context_; }

 private:
  GMainContext* context_;
  GMainLoop* loop_;
  std::thread thread_;
};

}  // namespace platform::linux_gst
