// ScratchShelf: overlapping runs never share a buffer, and a buffer put back serves the next run.
#include "graph/scratch_shelf.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ScratchShelf, OverlappingLoansGetBuffersOfTheirOwn) {
  ko::ScratchShelf shelf;
  ko::ScratchShelf::Loan first = shelf.borrow(64);
  ko::ScratchShelf::Loan second = shelf.borrow(64);
  EXPECT_NE(first.data(), second.data());
  std::memset(first.data(), 1, 64);
  std::memset(second.data(), 2, 64);
  EXPECT_EQ(first.data()[63], 1);
}

TEST(ScratchShelf, AReturnedBufferServesTheNextLoanAndGrowsWhenAskedForMore) {
  ko::ScratchShelf shelf;
  const uint8_t* kept = nullptr;
  {
    ko::ScratchShelf::Loan loan = shelf.borrow(4096);
    kept = loan.data();
  }
  {
    ko::ScratchShelf::Loan again = shelf.borrow(1024);
    EXPECT_EQ(again.data(), kept);
  }
  ko::ScratchShelf::Loan larger = shelf.borrow(1 << 20);
  larger.data()[(1 << 20) - 1] = 7;  // the whole size is usable (checked under AddressSanitizer)
  EXPECT_EQ(larger.data()[(1 << 20) - 1], 7);
}

}  // namespace
