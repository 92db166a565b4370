// Which sources each thread is fanning out right now, for a thread that changes a source's
// receivers and must wait until no other thread still walks the list it replaced.
//
// A fan-out marks itself with plain stores in a record of its own thread: no lock, no
// read-modify-write, no allocation after a thread's first fan-out. The ordering a mark needs
// (mark, then read the list) is paid for by the rare writer, which makes every thread of the
// process pass a full barrier (membarrier) before it looks at the marks. Where the kernel
// refuses that, the mark is a sequentially consistent exchange instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace zelmidi_detail {

class FanOutMarks {
public:
    // How deep fan-outs may nest on one thread (a receiver feeding another source) before a mark
    // is refused and the caller counts itself at the source instead.
    static constexpr int kDepth = 16;

    struct Mark {
        std::atomic<const void*> source{nullptr};
        std::atomic<uint32_t> entries{0}; // tells a new fan-out from a long one
        // Only this thread's own: a change it makes to the receivers from inside the fan-out.
        bool superseded = false;          // this thread replaced that list meanwhile
        std::shared_ptr<const void> keep; // the list it first replaced, alive until the walk ends
    };

    // Marks a fan-out of `source` on this thread for as long as it lives; the list is to be
    // read after it was made. Null when nested too deep.
    class Held {
    public:
        explicit Held(const void* source) : mark_(enter(source)) {}
        ~Held() {
            if (mark_ != nullptr) {
                leave(*mark_);
            }
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        explicit operator bool() const { return mark_ != nullptr; }
        Mark* operator->() const { return mark_; }

    private:
        Mark* const mark_;
    };

    // Calls f(mark) for each fan-out of `source` in progress on this thread.
    template <typename F> static void forOwn(const void* source, F&& f) {
        if (Record* r = current_) {
            for (int i = 0; i < r->depth; ++i) {
                if (r->marks[i].source.load(std::memory_order_relaxed) == source) {
                    f(r->marks[i]);
                }
            }
        }
    }

    // After the new list was stored: returns once no other thread is still in a fan-out of
    // `source` that began before. This thread's own fan-outs are not waited for.
    static void waitForOtherThreads(const void* source);

private:
    struct Record {
        Mark marks[kDepth];
        int depth = 0;                  // owner only
        std::atomic<bool> inUse{false}; // records outlive threads and are handed to new ones
    };
    struct Registry;

    static Mark* enter(const void* source) {
        Record& r = current_ != nullptr ? *current_ : adopt();
        const int depth = r.depth;
        if (depth >= kDepth) {
            return nullptr;
        }
        r.depth = depth + 1;
        Mark& m = r.marks[depth];
        // Release: a writer that sees this mark also sees every earlier fan-out of this thread end.
        m.entries.store(m.entries.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        if (barrier_) {
            m.source.store(source, std::memory_order_release);
            std::atomic_signal_fence(std::memory_order_seq_cst);
        } else {
            m.source.exchange(source, std::memory_order_seq_cst);
        }
        return &m;
    }
    static void leave(Mark& m) {
        m.source.store(nullptr, std::memory_order_release);
        --current_->depth; // fan-outs end in the reverse order they began
        if (m.superseded) [[unlikely]] {
            m.superseded = false;
            m.keep.reset();
        }
    }
    static Record& adopt();
    static Registry& registry();

    // Decided once, before main, so that readers and writers agree on the protocol.
    static const bool barrier_;
    // constinit: read without a thread-local initialisation call on every fan-out.
    static constinit thread_local Record* current_;
};

} // namespace zelmidi_detail
