#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace vellumar::isolines {

// The ranks of a tracing lattice's nodes (0 ... the number of levels, or kNone for a node that
// takes part in no crossing), stored in as few bytes as the number of levels allows: one byte up
// to 254 levels, two up to 65534, else four. The array is as large as the lattice, so its width
// is memory, and on machines where page faults are dear, time. The largest value of a width
// stands for kNone.
class NodeRanks {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  // count nodes, every rank 0, for ranks up to levels.
  void reset(std::size_t count, std::uint32_t levels) {
    release();
    if (levels < 0xFFu) {
      narrow_.resize(count);
      width_ = 1;
    } else if (levels < 0xFFFFu) {
      middle_.resize(count);
      width_ = 2;
    } else {
      wide_.resize(count);
      width_ = 4;
    }
  }
  // Gives the memory back.
  void release() {
    std::vector<std::uint8_t>().swap(narrow_);
    std::vector<std::uint16_t>().swap(middle_);
    std::vector<std::uint32_t>().swap(wide_);
    width_ = 0;
  }

  std::uint32_t operator[](std::size_t i) const {
    switch (width_) {
      case 1: {
        const std::uint32_t rank = narrow_.data()[i];
        return rank == 0xFFu ? kNone : rank;
      }
      case 2: {
        const std::uint32_t rank = middle_.data()[i];
        return rank == 0xFFFFu ? kNone : rank;
      }
      default:
        return wide_.data()[i];
    }
  }
  void set(std::size_t i, std::uint32_t rank) {
    switch (width_) {
      case 1:
        narrow_[i] = static_cast<std::uint8_t>(rank == kNone ? 0xFFu : rank);
        break;
      case 2:
        middle_[i] = static_cast<std::uint16_t>(rank == kNone ? 0xFFFFu : rank);
        break;
      default:
        wide_[i] = rank;
        break;
    }
  }

 private:
  std::vector<std::uint8_t> narrow_;
  std::vector<std::uint16_t> middle_;
  std::vector<std::uint32_t> wide_;
  int width_ = 0;  // bytes per rank
};

}  // namespace vellumar::isolines
