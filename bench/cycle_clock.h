// The poll cycle of a bridge on muxsim, as muxsim's trace shows it, and the wire time
// of one round of the status lists: what the bridge benchmarks set their figures against.
#pragma once

#include <mutex>
#include <string_view>
#include <vector>

#include "bench_common.h"

namespace bench {

// The wire time of one round of AAS and VLS of the five multiplexers: a request of
// 7 bytes and a reply of 27 for each, 10 bits a byte. 354 ms at 9600 baud.
inline double RoundMs(uint32_t baud) {
    return baud == 0 ? 0.0 : 5 * 2 * (7 + 27) * 10 * 1000.0 / baud;
}

// The starts of the cycles: each AAS request to multiplexer 0 (read first in every
// cycle), as muxsim's trace says.
class CycleClock {
  public:
    void Frame(std::string_view line) {
        if (line.find("mux 0 (0x01) AAS status request") == std::string_view::npos) return;
        std::lock_guard lock(mutex_);
        starts_.push_back(bench::Now());
    }
    // Forgets the starts seen so far.
    void Clear() {
        std::lock_guard lock(mutex_);
        starts_.clear();
    }
    // The times between two starts.
    std::vector<Nanos> Periods() const {
        std::lock_guard lock(mutex_);
        std::vector<Nanos> periods;
        for (std::size_t i = 1; i < starts_.size(); ++i)
            periods.push_back(starts_[i] - starts_[i - 1]);
        return periods;
    }
    // The median time between two starts.
    double MedianPeriodMs() const { return bench::Summarise(Periods()).median / 1e6; }

  private:
    mutable std::mutex mutex_;
    std::vector<Nanos> starts_;
};

}  // namespace bench
