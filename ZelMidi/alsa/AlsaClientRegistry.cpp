#include "alsa/AlsaClientRegistry.h"

#include "alsa/AlsaClient.h"

namespace alsa {

void ClientRegistry::add(const std::shared_ptr<Client>& client) {
    std::lock_guard lock(mutex_);
    clients_[client->id()] = client;
}

std::shared_ptr<Client> ClientRegistry::take(int id) {
    std::lock_guard lock(mutex_);
    const auto it = clients_.find(id);
    if (it == clients_.end()) {
        return nullptr;
    }
    auto client = std::move(it->second);
    clients_.erase(it);
    return client;
}

std::shared_ptr<Client> ClientRegistry::find(int id) const {
    std::lock_guard lock(mutex_);
    const auto it = clients_.find(id);
    return it == clients_.end() ? nullptr : it->second;
}

std::shared_ptr<Client> ClientRegistry::any() const {
    std::lock_guard lock(mutex_);
    return clients_.empty() ? nullptr : clients_.begin()->second;
}

bool ClientRegistry::isOwn(int id) const {
    std::lock_guard lock(mutex_);
    return clients_.count(id) != 0;
}

std::vector<int> ClientRegistry::ids() const {
    std::lock_guard lock(mutex_);
    std::vector<int> ids;
    for (const auto& [id, client] : clients_) {
        ids.push_back(id);
    }
    return ids;
}

} // namespace alsa
