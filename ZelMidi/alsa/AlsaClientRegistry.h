// The sequencer clients this service has opened, by ALSA client number.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace alsa {

class Client;

class ClientRegistry {
public:
    void add(const std::shared_ptr<Client>& client);
    // Removes the client and hands it back; null when it is not (or no longer) ours.
    std::shared_ptr<Client> take(int id);
    std::shared_ptr<Client> find(int id) const;
    // Any one of them: the one that asks the kernel on the service's behalf.
    std::shared_ptr<Client> any() const;
    bool isOwn(int id) const;
    std::vector<int> ids() const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::shared_ptr<Client>> clients_;
};

} // namespace alsa
