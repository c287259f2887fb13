#include "platform/notification_center.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

struct Observer {
    NotificationCenter::Token token = 0;
    std::string name;
    const void* sender = nullptr;
    NotificationCenter::Callback callback;
    bool removed = false;                   // guarded by Impl::mutex
    std::vector<std::thread::id> callers;   // threads inside the callback now; Impl::mutex
};

}  // namespace

struct NotificationCenter::Impl {
    std::mutex mutex;
    std::condition_variable callDone;
    std::vector<std::shared_ptr<Observer>> observers;  // in the order they were added
    Token nextToken = 1;
};

NotificationCenter::NotificationCenter() : impl_(new Impl) {}

NotificationCenter::~NotificationCenter() { delete impl_; }

NotificationCenter& NotificationCenter::Default() {
    // Never destroyed: threads may still post while the process ends.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::AddObserver(const std::string& name,
                                                          const void* sender,
                                                          Callback callback) {
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->sender = sender;
    observer->callback = std::move(callback);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    observer->token = impl_->nextToken++;
    impl_->observers.push_back(observer);
    return observer->token;
}

void NotificationCenter::RemoveObserver(Token token) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    auto& list = impl_->observers;
    auto it = std::find_if(list.begin(), list.end(),
                           [token](const auto& o) { return o->token == token; });
    if (it == list.end()) return;
    std::shared_ptr<Observer> observer = *it;
    observer->removed = true;
    list.erase(it);
    // Wait until calls running on other threads have returned. A call on this
    // thread (an observer removing itself, or one further up this thread's stack)
    // is not waited for.
    const std::thread::id self = std::this_thread::get_id();
    impl_->callDone.wait(lock, [&] {
        return std::all_of(observer->callers.begin(), observer->callers.end(),
                           [self](std::thread::id id) { return id == self; });
    });
}

void NotificationCenter::Post(const std::string& name, const void* sender,
                              const plist::Value& object) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (const auto& o : impl_->observers) {
            if ((o->name.empty() || o->name == name) && (!o->sender || o->sender == sender))
                matching.push_back(o);
        }
    }
    if (matching.empty()) return;

    const Notification note{name, sender, object};
    const std::thread::id self = std::this_thread::get_id();
    for (const auto& o : matching) {
        {
            std::lock_guard<std::mutex> lock(impl_->mutex);
            if (o->removed) continue;
            o->callers.push_back(self);
        }
        // Leaves the callers list even when the callback throws.
        struct Leave {
            Impl* impl;
            Observer* observer;
            std::thread::id id;
            ~Leave() {
                {
                    std::lock_guard<std::mutex> lock(impl->mutex);
                    auto& c = observer->callers;
                    auto at = std::find(c.begin(), c.end(), id);
                    if (at != c.end()) c.erase(at);
                }
                impl->callDone.notify_all();
            }
        } leave{impl_, o.get(), self};
        o->callback(note);
    }
}

const char* const kFileSystemChangedNotification = "FileSystemChangedNotification";

void noteFileSystemChanged(const std::string& path) {
    NotificationCenter::Default().Post(kFileSystemChangedNotification, nullptr, path);
}

}  // namespace platform
