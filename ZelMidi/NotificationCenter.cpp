#include "NotificationCenter.h"

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* object,
                                                          Observer observer) {
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    auto registered = std::make_shared<Registered>();
    registered->observer = std::move(observer);
    entries_.push_back({token, std::move(name), object, std::move(registered)});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) {
        if (e.token != token) {
            return false;
        }
        e.registered->removed.store(true);
        return true;
    });
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Registered>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : entries_) {
            if (e.name == notification.name &&
                (e.object == nullptr || e.object == notification.object)) {
                matching.push_back(e.registered);
            }
        }
    }
    for (const auto& registered : matching) {
        // An earlier observer may have removed it (and freed what it refers to).
        if (!registered->removed.load()) {
            registered->observer(notification);
        }
    }
}
