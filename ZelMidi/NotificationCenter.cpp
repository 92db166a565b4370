#include "NotificationCenter.h"

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* object,
                                                          Observer observer) {
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    entries_.push_back(
        {token, std::move(name), object, std::make_shared<Observer>(std::move(observer))});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : entries_) {
            if (e.name == notification.name &&
                (e.object == nullptr || e.object == notification.object)) {
                matching.push_back(e.observer);
            }
        }
    }
    for (const auto& observer : matching) {
        (*observer)(notification);
    }
}
