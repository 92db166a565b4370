#include "alsa/AlsaPortQuery.h"

#include "alsa/AlsaClient.h"

namespace alsa {

namespace {

bool isSourceCaps(unsigned caps) {
    const unsigned want = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return (caps & want) == want;
}
bool isDestinationCaps(unsigned caps) {
    const unsigned want = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    return (caps & want) == want;
}

// Ports nobody else may route to, and ports that are switched off, are no endpoints.
constexpr unsigned kInactiveCap = 1u << 8; // SND_SEQ_PORT_CAP_INACTIVE on newer kernels
bool isHiddenCaps(unsigned caps) {
    return (caps & (SND_SEQ_PORT_CAP_NO_EXPORT | kInactiveCap)) != 0;
}

KnownPort knownFrom(snd_seq_client_info_t* client, snd_seq_port_info_t* port) {
    const unsigned caps = snd_seq_port_info_get_capability(port);
    KnownPort k;
    k.clientName = QString::fromUtf8(snd_seq_client_info_get_name(client));
    k.portName = QString::fromUtf8(snd_seq_port_info_get_name(port));
    k.kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
    k.source = !isHiddenCaps(caps) && isSourceCaps(caps);
    k.destination = !isHiddenCaps(caps) && isDestinationCaps(caps);
    return k;
}

} // namespace

std::vector<std::pair<uint32_t, KnownPort>> queryAllPorts(Client& client) {
    std::vector<std::pair<uint32_t, KnownPort>> ports;
    client.withSeq([&](snd_seq_t* seq) {
        snd_seq_client_info_t* ci = nullptr;
        snd_seq_port_info_t* pi = nullptr;
        snd_seq_client_info_alloca(&ci);
        snd_seq_port_info_alloca(&pi);
        snd_seq_client_info_set_client(ci, -1);
        while (snd_seq_query_next_client(seq, ci) >= 0) {
            const int c = snd_seq_client_info_get_client(ci);
            if (c == SND_SEQ_CLIENT_SYSTEM) {
                continue;
            }
            snd_seq_port_info_set_client(pi, c);
            snd_seq_port_info_set_port(pi, -1);
            while (snd_seq_query_next_port(seq, pi) >= 0) {
                ports.emplace_back(addressKey(c, snd_seq_port_info_get_port(pi)),
                                   knownFrom(ci, pi));
            }
        }
        return 0;
    });
    return ports;
}

bool queryPort(Client& client, int owner, int port, KnownPort* out) {
    if (owner == SND_SEQ_CLIENT_SYSTEM) {
        return false;
    }
    return client.withSeq([&](snd_seq_t* seq) {
        snd_seq_client_info_t* ci = nullptr;
        snd_seq_port_info_t* pi = nullptr;
        snd_seq_client_info_alloca(&ci);
        snd_seq_port_info_alloca(&pi);
        if (snd_seq_get_any_client_info(seq, owner, ci) < 0 ||
            snd_seq_get_any_port_info(seq, owner, port, pi) < 0) {
            return false;
        }
        *out = knownFrom(ci, pi);
        return true;
    });
}

} // namespace alsa
