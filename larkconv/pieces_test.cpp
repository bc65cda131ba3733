#include "pieces.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace larkconv {
namespace {

/// A run of numbered pieces whose steps record what happened: pieces 0 to
/// count - 1, each converted to its square, with a fault placed where a test
/// wants one. Made by each test.
struct CountingRun {
  int count = 0;
  int takeFaultAt = -1;       // take throws after taking this piece's input
  int convertFaultAt = -1;    // convert throws part way through this piece
  int finishFaultAt = -1;     // finish throws for this piece
  std::vector<int> finished;  // the pieces finished, in order, as their squares

  void Run(bool helper) {
    int next = 0;
    int input[kPieceSlots] = {};
    int output[kPieceSlots] = {};
    PieceSteps steps;
    steps.take = [&](int slot) {
      if (next == count) return false;
      input[slot] = next++;
      if (input[slot] == takeFaultAt)
        throw std::runtime_error("take " + std::to_string(input[slot]));
      return true;
    };
    steps.convert = [&](int slot, int) {
      // Some pieces take longer, so that later ones are often ready first.
      if (input[slot] % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
      output[slot] = -1;  // converted as far as the fault
      if (input[slot] == convertFaultAt)
        throw std::runtime_error("convert " + std::to_string(input[slot]));
      output[slot] = input[slot] * input[slot];
    };
    steps.finish = [&](int slot) {
      if (input[slot] == finishFaultAt)
        throw std::runtime_error("finish " + std::to_string(input[slot]));
      finished.push_back(output[slot]);
    };
    RunInPieces(steps, helper);
  }

  // The message of what Run throws, or "" when it throws nothing.
  std::string Fault(bool helper) {
    try {
      Run(helper);
    } catch (const std::runtime_error& fault) {
      return fault.what();
    }
    return "";
  }
};

std::vector<int> Squares(int count, int faultAt = -1) {
  std::vector<int> squares;
  for (int i = 0; i < count; ++i)
    squares.push_back(i == faultAt ? -1 : i * i);
  return squares;
}

class PiecesTest : public ::testing::TestWithParam<bool> {};

TEST_P(PiecesTest, EveryPieceIsFinishedOnceInOrder) {
  for (int count : {0, 1, 2, 3, 50}) {
    CountingRun run;
    run.count = count;
    run.Run(GetParam());
    EXPECT_EQ(run.finished, Squares(count)) << count << " pieces";
  }
}

// A fault ends the run as if the pieces had gone one by one: those before it
// are finished, its own as far as it got, none after it.
TEST_P(PiecesTest, FaultEndsTheRunAfterThePiecesBeforeIt) {
  for (int at : {0, 1, 6, 7, 49}) {
    CountingRun converting;
    converting.count = 50;
    converting.convertFaultAt = at;
    EXPECT_EQ(converting.Fault(GetParam()), "convert " + std::to_string(at));
    EXPECT_EQ(converting.finished, Squares(at + 1, at));

    CountingRun taking;
    taking.count = 50;
    taking.takeFaultAt = at;
    EXPECT_EQ(taking.Fault(GetParam()), "take " + std::to_string(at));
    EXPECT_EQ(taking.finished, Squares(at + 1));

    CountingRun finishing;
    finishing.count = 50;
    finishing.finishFaultAt = at;
    EXPECT_EQ(finishing.Fault(GetParam()), "finish " + std::to_string(at));
    EXPECT_EQ(finishing.finished, Squares(at));
  }
}

// Taking a piece can fail after it took what converts: a fault of converting
// that comes first in the input is the one reported.
TEST_P(PiecesTest, ConvertingFaultComesBeforeTheTakingFaultOfItsPiece) {
  CountingRun run;
  run.count = 50;
  run.takeFaultAt = run.convertFaultAt = 9;
  EXPECT_EQ(run.Fault(GetParam()), "convert 9");
  EXPECT_EQ(run.finished, Squares(10, 9));
}

INSTANTIATE_TEST_SUITE_P(OneAndTwoThreads, PiecesTest, ::testing::Bool());

}  // namespace
}  // namespace larkconv
