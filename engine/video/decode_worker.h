#pragma once
// The thread that decodes video for one player. Tasks run in the order
// they were given; a result is a future the drawing side waits on. The
// destructor finishes the queue and joins the thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace swf::video {

class DecodeWorker {
public:
    DecodeWorker();
    ~DecodeWorker();
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    template <typename F>
    auto submit(F task) -> std::shared_future<decltype(task())> {
        auto packaged = std::make_shared<std::packaged_task<decltype(task())()>>(std::move(task));
        auto result = packaged->get_future().share();
        post([packaged] { (*packaged)(); });
        return result;
    }

private:
    void post(std::function<void()> job);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace swf::video
