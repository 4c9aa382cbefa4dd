// The service's GLib thread.
//
// create:  the constructor makes a private main context and starts the thread that runs it.
// start:   posted work, bus watches, deadlines and PulseAudio's GLib adapter all dispatch there.
// stop:    the destructor posts the quit, so work posted before it still runs, then joins.
// finish:  context and loop are released once the thread has ended.
#include "platform/linux/GLibLoopThread.h"

#include <glib.h>

#include "platform/posix/ThreadName.h"

namespace platform::linux_gst {

GLibLoopThread::GLibLoopThread()
    : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  thread_ = std::thread([this] {
    posix::nameCurrentThread("capture loop");
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
  });
}

GLibLoopThread::~GLibLoopThread() {
  post([loop = loop_] { g_main_loop_quit(loop); });
  thread_.join();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void GLibLoopThread::post(std::function<void()> work) {
  // An idle source rather than g_main_context_invoke: the latter runs at once when called on the
  // loop thread, and callers rely on the work never running before post() returns.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  g_source_attach(source, context_);
  g_source_unref(source);
}

}  // namespace platform::linux_gst
