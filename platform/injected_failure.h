// The test hook that the platform services share: arm it with n, and the
// nth request from then on fails, once. Requests may come from several
// threads (two runs at once, the threads that write page files); they are
// counted as they come.
#pragma once

#include <atomic>

namespace ravoth {

class InjectedFailure {
public:
    // n = 1 is the very next request; 0 disarms it. The count starts anew.
    void armAt(long long n)
    {
        failAt_ = n;
        requests_ = 0;
    }
    // Counts one request; true when that one is to fail.
    bool due()
    {
        const long long request = ++requests_;
        long long failAt = failAt_.load();
        return failAt != 0 && request == failAt && failAt_.compare_exchange_strong(failAt, 0);
    }
    long long requests() const { return requests_; }
    void resetCount() { requests_ = 0; }

private:
    std::atomic<long long> failAt_{0};
    std::atomic<long long> requests_{0};
};

}  // namespace ravoth
