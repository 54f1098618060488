#pragma once
// Keeps the encoder in step with the frame rate. When positions come late for a sustained stretch,
// a faster (less thorough) analysis is asked for, one step at a time; when the turns have had
// plenty of room for long enough, the more thorough one comes back. A speed that was left and had
// to be taken again soon after is kept twice as long the next time, so a load just at the edge
// does not make the settings swing.

#include <cstdint>

namespace torvane {

class PaceControl {
public:
    // Speed steps go from 0 (the normal settings) to `fastest`.
    PaceControl(int frameRate, int fastest);

    // One turn of the capture loop: the position it decided, how many positions just before it no
    // turn reached, and how long the turn kept the loop busy (microseconds of wall time). Returns
    // the speed step wanted from now on.
    int turn(int64_t position, uint64_t late, uint64_t busyUs);
    int speed() const { return speed_; }
    // How many stretches of room the current step must see before the slower one is tried again.
    int roomNeeded() const { return roomNeeded_; }
    // Positions are judged in stretches of one second, and of at least this many positions.
    static constexpr int kShortestStretch = 5;

    // Tuning, in stretches.
    static constexpr int kLateStretches = 2;          // late stretches in a row before going faster
    static constexpr int kFirstRoomStretches = 5;     // stretches with room in a row before going slower
    static constexpr int kLongestRoomStretches = 80;
    static constexpr int kRelapseStretches = 10;      // faster again this soon after going slower: a relapse

private:
    void closeStretch();

    int stretch_;                // positions a stretch
    int fastest_;
    uint64_t stretchUs_;         // a stretch's length
    int speed_ = 0;
    int64_t current_ = -1;       // the stretch being counted
    uint64_t late_ = 0;
    uint64_t busyUs_ = 0;
    int lateRun_ = 0;            // late stretches in a row
    int roomRun_ = 0;            // stretches in a row with room to spare
    int roomNeeded_ = kFirstRoomStretches;
    int64_t slowerAt_ = -1;      // the stretch the speed last went down in
};

}  // namespace torvane
