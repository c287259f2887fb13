// Notifications delivered synchronously on the posting thread. Observers may be
// added and removed from any thread; an observer removed while a notification is
// being delivered on another thread is not called after RemoveObserver returns.
// Also the announcement that a folder's contents changed on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/property_list.h"

namespace platform {

struct Notification {
    std::string name;
    const void* sender = nullptr;  // the posting object, or null
    plist::Value object;           // the values the notification carries
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& Default();

    // Calls `callback` for every notification named `name` (every name when empty)
    // from `sender` (any sender when null). Returns a token for RemoveObserver.
    Token AddObserver(const std::string& name, const void* sender, Callback callback);
    void RemoveObserver(Token token);
    // Delivers to the matching observers on this thread, in the order they were added.
    void Post(const std::string& name, const void* sender = nullptr,
              const plist::Value& object = plist::Value());

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

private:
    struct Impl;
    Impl* impl_;
};

// Posted by noteFileSystemChanged with the folder's path as the object; whoever
// shows that folder refreshes what it shows.
extern const char* const kFileSystemChangedNotification;  // "FileSystemChangedNotification"

// Announces, on the calling thread, that the contents of `path` changed.
void noteFileSystemChanged(const std::string& path);

}  // namespace platform
