// Threads joined when the object goes, as std::jthread would be (which not
// every C++ library has: libc++ of macOS lacks it).
#pragma once

#include <thread>
#include <vector>

namespace qern {

struct JoinedThreads {
    std::vector<std::thread> threads;
    JoinedThreads() = default;
    JoinedThreads(const JoinedThreads&) = delete;
    JoinedThreads& operator=(const JoinedThreads&) = delete;
    ~JoinedThreads() {
        for (std::thread& t : threads) {
            if (t.joinable()) t.join();
        }
    }
};

}  // namespace qern
