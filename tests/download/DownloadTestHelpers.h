#pragma once

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "download/DownloadManager.h"
#include "download/DownloadTaskObserver.h"

namespace downloadtest {

// Polls the manager the way the download command does (but faster) until
// `done` holds; false when it did not within the time limit.
template <class Done>
bool UpdateUntil(DownloadManager& manager, Done done, int timeoutMilliseconds = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (true) {
        manager.Update();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Remembers every result announced to it, in order.
template <class T>
class ResultRecorder : public DownloadTaskObserver<T> {
public:
    void OnDownloadFinished(T* task, bool succeeded) override {
        results.emplace_back(task, succeeded);
        callingThread = std::this_thread::get_id();
    }

    int CountFor(const T* task) const {
        int count = 0;
        for (const auto& result : results) {
            count += result.first == task ? 1 : 0;
        }
        return count;
    }

    // The result of the task's only announcement; fails the caller's check
    // through the count when there was none or several.
    bool ResultFor(const T* task) const {
        for (const auto& result : results) {
            if (result.first == task) {
                return result.second;
            }
        }
        return false;
    }

    std::vector<std::pair<T*, bool>> results;
    std::thread::id callingThread;
};

}  // namespace downloadtest
