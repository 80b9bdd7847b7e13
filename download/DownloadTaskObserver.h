#pragma once

#include <type_traits>

class DownloadTask;

template <class T>
class DownloadTaskObserver;

// What a task's observer list holds. A task passes itself as DownloadTask*;
// observers typed on a concrete task class receive it as that class.
template <>
class DownloadTaskObserver<DownloadTask> {
public:
    virtual ~DownloadTaskObserver() = default;
    virtual void OnDownloadFinished(DownloadTask* task, bool succeeded) = 0;
};

namespace downloadtaskobserver {

// An observer of one concrete task class. A task only takes observers typed
// on its own class, which makes the downcast below hold.
template <class T>
class OfTask : public DownloadTaskObserver<DownloadTask> {
public:
    virtual void OnDownloadFinished(T* task, bool succeeded) = 0;

protected:
    // Protected rather than private so that an observer of two task classes
    // can bring both of these into its scope with using-declarations instead
    // of hiding them behind its own overloads.
    void OnDownloadFinished(DownloadTask* task, bool succeeded) final {
        OnDownloadFinished(static_cast<T*>(task), succeeded);
    }
};

// An observer of something that is not itself a download task (a package
// download made of several tasks).
template <class T>
class OfOther {
public:
    virtual ~OfOther() = default;
    virtual void OnDownloadFinished(T* task, bool succeeded) = 0;
};

}  // namespace downloadtaskobserver

template <class T>
class DownloadTaskObserver
    : public std::conditional_t<std::is_base_of_v<DownloadTask, T>, downloadtaskobserver::OfTask<T>,
                                downloadtaskobserver::OfOther<T>> {};
