// The test hook that the platform services share: arm it with n, and the
// nth request from then on fails, once.
#pragma once

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
        ++requests_;
        if (failAt_ == 0 || requests_ != failAt_) return false;
        failAt_ = 0;
        return true;
    }
    long long requests() const { return requests_; }
    void resetCount() { requests_ = 0; }

private:
    long long failAt_ = 0;
    long long requests_ = 0;
};

}  // namespace ravoth
